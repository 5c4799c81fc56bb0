// Names and paths as the object file stored them are bytes in whatever
// code page the compiler's machine used. They are shown as UTF-8: decoded
// from a code page the user names (any name iconv knows), or by default
// taken as UTF-8 where the bytes are valid UTF-8 and as Windows-1252 where
// they are not (a path written on a Western European Windows machine).
#ifndef UBROFDUMP_CHARSET_H
#define UBROFDUMP_CHARSET_H

#include <string>

namespace dump {

bool ValidUtf8(const std::string& bytes);
// "d0bf": two lowercase hexadecimal digits per byte.
std::string HexBytes(const std::string& bytes);

class Charset {
 public:
  Charset() = default;
  ~Charset();
  Charset(const Charset&) = delete;
  Charset& operator=(const Charset&) = delete;

  // An iconv code page name; "" for the default. False when iconv does not
  // know the name.
  bool Select(const std::string& name);
  const std::string& Name() const { return m_name; }
  // The bytes as UTF-8; a byte sequence the code page does not define
  // becomes U+FFFD.
  std::string Decode(const std::string& bytes);
  // True once the default had to read some name as Windows-1252.
  bool FellBack() const { return m_fellBack; }

 private:
  std::string m_name;
  void* m_iconv = nullptr;
  bool m_fellBack = false;
};

}  // namespace dump

#endif
