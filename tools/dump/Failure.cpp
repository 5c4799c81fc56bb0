#include "Failure.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Format.h"

namespace dump {

std::string StatusText(HRESULT hr) {
  switch (hr) {
    case S_OK:
      return "S_OK";
    case E_NOTIMPL:
      return "E_NOTIMPL";
    case E_POINTER:
      return "E_POINTER";
    case E_FAIL:
      return "E_FAIL";
    case PARSER_E_BAD_MEMORY_TYPE:
      return "PARSER_E_BAD_MEMORY_TYPE";
    case PARSER_E_CANNOT_OPEN:
      return "PARSER_E_CANNOT_OPEN";
    case PARSER_E_INVALID_FILE:
      return "PARSER_E_INVALID_FILE";
    case PARSER_E_BAD_ID:
      return "PARSER_E_BAD_ID";
    case PARSER_E_NOT_INITIALIZED:
      return "PARSER_E_NOT_INITIALIZED";
    case PARSER_E_ALREADY_PARSED:
      return "PARSER_E_ALREADY_PARSED";
    case PARSER_E_NOT_PARSED:
      return "PARSER_E_NOT_PARSED";
    default:
      return Fmt("0x%08X", unsigned(hr));
  }
}

std::string RefusalText(const std::string& path, HRESULT hr) {
  if (hr == PARSER_E_CANNOT_OPEN) {
    FILE* f = std::fopen(path.c_str(), "rb");
    int err = errno;
    if (f) std::fclose(f);
    return std::string("cannot open the file: ") + (f ? "unknown reason" : std::strerror(err));
  }
  if (hr != PARSER_E_INVALID_FILE) return "the parser refused the file (" + StatusText(hr) + ")";
  unsigned char head[4] = {0, 0, 0, 0};
  size_t n = 0;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
  }
  if (n == 0) return "not a UBROF object file: the file is empty";
  std::string shown;
  for (size_t i = 0; i < n; ++i) shown += Fmt(i ? " %02X" : "%02X", unsigned(head[i]));
  return "not a UBROF object file: it begins with the bytes " + shown +
         ", a UBROF object file begins with A5";
}

std::string ParseFailureText(const mirl::api::Program& api, uint64_t fileSize) {
  mirl::api::ParseEnd d = api.LastParse();
  if (!d.failed) return "the file could not be parsed";
  if (d.rejectedVersion) {
    mirl::api::FileFacts f = api.File();
    return Fmt(
        "UBROF version %u (%u.%u.%u) is not read; this parser reads UBROF8 and earlier, and "
        "UBROF 10",
        d.rejectedVersion, f.version, f.minor, f.revision);
  }
  if (d.message.empty()) return "the file could not be opened for parsing";
  std::string record = d.tag < 0 ? std::string()
                                 : Fmt("record %s (tag 0x%02X) at byte offset %lld",
                                       d.tagName.empty() ? "of unknown kind" : d.tagName.c_str(),
                                       unsigned(d.tag), (long long)d.recordOffset);
  std::string message = d.message;
  if (message.compare(0, 7, "Error: ") == 0) message = message.substr(7);
  if (message == "Unexpected end of file") {
    // A record that skips its fields can step past the end; the failure
    // then shows only when the next tag is read.
    if (d.offset > int64_t(fileSize))
      return Fmt(
          "truncated or damaged: the last record runs past the end of the file (%llu bytes) to "
          "byte offset %lld",
          (unsigned long long)fileSize, (long long)d.offset);
    if (d.tag < 0)
      return Fmt(
          "truncated: the file ends at byte offset %lld, between records, without its end "
          "record (t_ubrof_eof)",
          (long long)d.offset);
    // A length field can ask for more than is left: the read then stops
    // before the end of the file.
    std::string text =
        "truncated or damaged: " + record +
        Fmt(" runs past the end of the file at byte offset %llu", (unsigned long long)fileSize);
    if (d.offset < int64_t(fileSize))
      text += Fmt(" (a field read at byte offset %lld is longer than what is left)",
                  (long long)d.offset);
    return text;
  }
  if (message == "Out of memory")
    return "damaged: " + record + " asks for more memory than is available";
  if (message.compare(0, 11, "Unknown tag") == 0)
    return Fmt(
        "damaged or unsupported: unknown record tag 0x%02X at byte offset %lld, and the file "
        "gives no skip information for it",
        unsigned(d.tag), (long long)d.recordOffset);
  if (d.tag == 0x50 || d.tag == 0x48)
    return record + " is an older scope record that this parser does not read";
  return record + " could not be processed";
}

}  // namespace dump
