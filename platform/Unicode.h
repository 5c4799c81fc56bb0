// UTF-8 <-> UTF-16, written once for every build: the Linux platform layer
// uses it as its "ANSI code page", the read API hands it to tools, and both
// Linux and Windows builds compile it, because neither direction depends on
// the operating system.
#ifndef MIRL_UNICODE_H
#define MIRL_UNICODE_H

#include <cstddef>
#include <string>

namespace platform {

// n UTF-16 code units (embedded zeros included) as UTF-8. A surrogate pair
// becomes one code point; a lone surrogate becomes U+FFFD, so the result is
// always well-formed UTF-8.
std::string Utf8FromUtf16(const char16_t* p, size_t n);

// n bytes of UTF-8 (embedded zeros included) as UTF-16. Each byte that does
// not begin a well-formed sequence (a stray continuation byte, a missing
// continuation, an overlong form, a surrogate, a value beyond U+10FFFF)
// becomes one U+FFFD and decoding goes on at the next byte, as a code-page
// conversion without strict flags does on Windows.
std::u16string Utf16FromUtf8(const char* p, size_t n);

}  // namespace platform

#endif  // MIRL_UNICODE_H
