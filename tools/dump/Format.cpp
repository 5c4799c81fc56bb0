#include "Format.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace dump {

std::string Fmt(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(size_t(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, args);
    out.assign(buf.data(), size_t(n));
  }
  va_end(args);
  return out;
}

std::string Hex(uint32_t value, int minDigits) { return Fmt("0x%0*X", minDigits, value); }

std::string FoldedPath(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return path;
}

bool ParseHex(const std::string& text, uint32_t* pValue) {
  size_t i = 0;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) i = 2;
  if (i >= text.size()) return false;
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    unsigned d;
    if (c >= '0' && c <= '9')
      d = unsigned(c - '0');
    else if (c >= 'a' && c <= 'f')
      d = unsigned(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      d = unsigned(c - 'A' + 10);
    else
      return false;
    v = v * 16 + d;
    if (v > 0xFFFFFFFFull) return false;
  }
  *pValue = uint32_t(v);
  return true;
}

bool ParseDecimal(const std::string& text, uint32_t* pValue) {
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + unsigned(c - '0');
    if (v > 0xFFFFFFFFull) return false;
  }
  *pValue = uint32_t(v);
  return true;
}

bool ParseRange(const std::string& text, uint32_t* pStart, uint64_t* pEnd, std::string* pError) {
  size_t sep = text.find_first_of(":+");
  if (sep == std::string::npos) {
    *pError = "expected START:END or START+LEN";
    return false;
  }
  uint32_t start = 0, second = 0;
  if (!ParseHex(text.substr(0, sep), &start) || !ParseHex(text.substr(sep + 1), &second)) {
    *pError = "START, END and LEN are hexadecimal numbers of at most 32 bits";
    return false;
  }
  uint64_t end = text[sep] == '+' ? uint64_t(start) + second : uint64_t(second);
  if (end <= start) {
    *pError = "the range is empty (END is excluded and must lie above START)";
    return false;
  }
  if (end > 0x100000000ull) {
    *pError = "the range runs past address 0xFFFFFFFF";
    return false;
  }
  *pStart = start;
  *pEnd = end;
  return true;
}

namespace {

// Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
void CivilFromDays(long long z, long long* y, unsigned* m, unsigned* d) {
  z += 719468;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  unsigned doe = unsigned(z - era * 146097);
  unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long yy = (long long)yoe + era * 400;
  unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = yy + (*m <= 2);
}

// Splits a date into whole days since 1899-12-30 and seconds of the day.
bool SplitDate(double date, long long* pDays, long* pSeconds) {
  if (date == 0.0 || !std::isfinite(date) || std::fabs(date) > 3000000.0) return false;
  double whole = std::trunc(date);
  long long days = (long long)whole;
  long seconds = std::lround(std::fabs(date - whole) * 86400.0);
  if (seconds >= 86400) {  // rounding reached the next day
    seconds -= 86400;
    days += date >= 0 ? 1 : -1;
  }
  *pDays = days;
  *pSeconds = seconds;
  return true;
}

bool Civil(double date, long long* y, unsigned* m, unsigned* d, long* seconds) {
  long long days;
  if (!SplitDate(date, &days, seconds)) return false;
  // 1899-12-30 is 25569 days before 1970-01-01.
  CivilFromDays(days - 25569, y, m, d);
  return *y >= 1 && *y <= 9999;
}

}  // namespace

std::string DateTimeText(double date) {
  long long y;
  unsigned m, d;
  long s;
  if (!Civil(date, &y, &m, &d, &s)) return "";
  return Fmt("%04lld-%02u-%02u %02ld:%02ld:%02ld", y, m, d, s / 3600, s / 60 % 60, s % 60);
}

std::string DateText(double date) {
  long long y;
  unsigned m, d;
  long s;
  if (!Civil(date, &y, &m, &d, &s)) return "";
  return Fmt("%04lld-%02u-%02u", y, m, d);
}

const char* MemoryName(unsigned memType) {
  switch (memType) {
    case 1:
      return "program";
    case 2:
      return "data";
    case 4:
      return "eeprom";
    case 8:
      return "io";
    case 16:
      return "register";
    default:
      return "memory?";
  }
}

const char* ScopeKindName(unsigned kind) {
  switch (kind) {
    case 1:
      return "function";
    case 2:
      return "module";
    case 3:
      return "block";
    default:
      return "scope?";
  }
}

const char* SpecName(unsigned spec) {
  switch (spec) {
    case 0:
      return "undefined";
    case 1:
      return "signed";
    case 2:
      return "unsigned";
    case 3:
      return "float";
    case 4:
      return "struct";
    case 5:
      return "pointer";
    case 6:
      return "array";
    case 7:
      return "function";
    case 8:
      return "void";
    case 12:
      return "bitfield";
    default:
      return "class?";
  }
}

std::string SymbolClassName(unsigned cls) {
  switch (cls) {
    case 0:
      return "none";
    case 1:
      return "absolute";
    case 2:
      return "relocatable";
    case 3:
      return "static";
    case 4:
      return "extern";
    case 7:
      return "frame";
    case 8:
      return "register";
    case 9:
    case 22:
      return "constant";
    case 23:
      return "other";
    default:
      return Fmt("class %u", cls);
  }
}

std::string TypeKindName(unsigned kind) {
  // The kinds the reader stores, grouped as it reads them.
  if ((kind >= 23 && kind <= 30) || kind == 15) return "pointer";
  if ((kind >= 31 && kind <= 34) || (kind >= 37 && kind <= 40)) return "code pointer";
  switch (kind) {
    case 1:
      return "basic";
    case 16:
    case 41:
      return "array";
    case 17:
    case 52:
      return "struct";
    case 18:
      return "union";
    case 19:
      return "bitfield";
    case 20:
    case 35:
      return "function";
    case 21:
    case 36:
      return "qualified";
    case 42:
    case 43:
      return "attributed";
    case 44:
    case 51:
      return "enum";
    case 49:
      return "typedef";
    case 50:
      return "member pointer";
    case 53:
      return "reference";
    default:
      return Fmt("kind %u", kind);
  }
}

std::string StatementTypeName(unsigned type) {
  std::string out = type & 0x02 ? "function entry" : "statement";
  if (unsigned rest = type & ~0x03u) out += Fmt("+0x%02X", rest);
  return out;
}

}  // namespace dump
