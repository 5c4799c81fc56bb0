#include "Charset.h"

#include <iconv.h>

#include <cerrno>

#include "MirlProgram.h"

namespace dump {

namespace {

// Windows-1252's 0x80-0x9F; the five bytes it leaves undefined keep their
// C1 code points, as Windows itself converts them.
const unsigned short kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string FromCp1252(const std::string& bytes) {
  std::u16string w;
  for (unsigned char c : bytes) w += char16_t(c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c);
  return mirl::api::Utf8FromUtf16(w.data(), w.size());
}

}  // namespace

bool ValidUtf8(const std::string& s) {
  // The component's conversion turns every byte that does not begin
  // well-formed UTF-8 into U+FFFD (three bytes), so only valid UTF-8 comes
  // back unchanged.
  std::u16string w = mirl::api::Utf16FromUtf8(s);
  return mirl::api::Utf8FromUtf16(w.data(), w.size()) == s;
}

std::string HexBytes(const std::string& bytes) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

Charset::~Charset() {
  if (m_iconv) iconv_close(iconv_t(m_iconv));
}

bool Charset::Select(const std::string& name) {
  if (m_iconv) iconv_close(iconv_t(m_iconv));
  m_iconv = nullptr;
  m_name = name;
  if (name.empty()) return true;
  iconv_t cd = iconv_open("UTF-8", name.c_str());
  if (cd == iconv_t(-1)) return false;
  m_iconv = cd;
  return true;
}

std::string Charset::Decode(const std::string& bytes) {
  if (!m_iconv) {
    if (ValidUtf8(bytes)) return bytes;
    m_fellBack = true;
    return FromCp1252(bytes);
  }
  iconv_t cd = iconv_t(m_iconv);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out;
  char buf[256];
  char* in = const_cast<char*>(bytes.data());
  size_t left = bytes.size();
  while (left > 0) {
    char* o = buf;
    size_t room = sizeof buf;
    size_t r = iconv(cd, &in, &left, &o, &room);
    out.append(buf, size_t(o - buf));
    if (r != size_t(-1) || errno == E2BIG) continue;
    // A byte the code page does not define, or a sequence cut short.
    out += "\xEF\xBF\xBD";
    ++in;
    --left;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  char* o = buf;
  size_t room = sizeof buf;
  iconv(cd, nullptr, nullptr, &o, &room);
  out.append(buf, size_t(o - buf));
  // iconv writes UTF-8; the check only keeps a faulty converter from
  // putting anything else into the JSON document.
  return ValidUtf8(out) ? out : FromCp1252(out);
}

}  // namespace dump
