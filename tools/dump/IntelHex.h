// Intel HEX: writing memory runs the way objcopy -O ihex does, and reading
// a HEX file back into an address -> byte map (for checking a written file
// or a linker's own HEX output).
#ifndef UBROFDUMP_INTELHEX_H
#define UBROFDUMP_INTELHEX_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace dump {

// Contiguous bytes starting at an address.
struct MemoryRun {
  uint32_t address = 0;
  std::vector<uint8_t> bytes;
};

// The text of a HEX file holding the runs: data records of at most 16
// bytes that never cross a 64 KiB boundary, an extended linear address
// record (type 04) whenever the upper 16 address bits change from zero or
// from the previous record's, and the end-of-file record. Runs may come in
// any order; bytes beyond 0xFFFFFFFF are dropped.
std::string WriteIntelHex(const std::vector<MemoryRun>& runs);

// Reads HEX text (record types 00 to 05, CR LF or LF line ends, blank
// lines ignored). Stops at the end-of-file record. False, with a message
// naming the line, for a malformed record or a wrong checksum.
bool ReadIntelHex(const std::string& text, std::map<uint32_t, uint8_t>* pBytes,
                  std::string* pError);

}  // namespace dump

#endif
