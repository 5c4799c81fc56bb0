#include "IntelHex.h"

#include "Format.h"

namespace dump {

namespace {

std::string Record(uint8_t type, uint16_t offset, const uint8_t* data, size_t n) {
  unsigned sum = unsigned(n) + (offset >> 8) + (offset & 0xFF) + type;
  std::string line = Fmt(":%02X%04X%02X", unsigned(n), unsigned(offset), unsigned(type));
  for (size_t i = 0; i < n; ++i) {
    line += Fmt("%02X", unsigned(data[i]));
    sum += data[i];
  }
  line += Fmt("%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
  return line;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string WriteIntelHex(const std::vector<MemoryRun>& runs) {
  std::string out;
  uint32_t upper = 0;  // the upper address bits in force; 0 needs no record
  for (const MemoryRun& run : runs) {
    uint64_t address = run.address;
    size_t i = 0;
    while (i < run.bytes.size() && address <= 0xFFFFFFFFull) {
      uint32_t hi = uint32_t(address >> 16);
      if (hi != upper) {
        uint8_t ext[2] = {uint8_t(hi >> 8), uint8_t(hi)};
        out += Record(4, 0, ext, 2);
        upper = hi;
      }
      // At most 16 bytes, and not across the next 64 KiB boundary.
      uint64_t room = 0x10000 - (address & 0xFFFF);
      size_t n = run.bytes.size() - i;
      if (n > 16) n = 16;
      if (n > room) n = size_t(room);
      out += Record(0, uint16_t(address & 0xFFFF), run.bytes.data() + i, n);
      i += n;
      address += n;
    }
  }
  out += ":00000001FF\n";
  return out;
}

bool ReadIntelHex(const std::string& text, std::map<uint32_t, uint8_t>* pBytes,
                  std::string* pError) {
  uint32_t base = 0;
  size_t lineNo = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    ++lineNo;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) continue;
    if (line[0] != ':' || line.size() < 11 || (line.size() - 1) % 2 != 0) {
      *pError = Fmt("line %zu: not an Intel HEX record", lineNo);
      return false;
    }
    std::vector<uint8_t> rec;
    for (size_t i = 1; i + 1 < line.size(); i += 2) {
      int h = HexDigit(line[i]), l = HexDigit(line[i + 1]);
      if (h < 0 || l < 0) {
        *pError = Fmt("line %zu: not a hexadecimal digit", lineNo);
        return false;
      }
      rec.push_back(uint8_t(h * 16 + l));
    }
    size_t n = rec[0];
    if (rec.size() != n + 5) {
      *pError = Fmt("line %zu: the record length does not match its byte count", lineNo);
      return false;
    }
    unsigned sum = 0;
    for (uint8_t b : rec) sum += b;
    if ((sum & 0xFF) != 0) {
      *pError = Fmt("line %zu: wrong checksum", lineNo);
      return false;
    }
    uint32_t offset = uint32_t(rec[1]) << 8 | rec[2];
    uint8_t type = rec[3];
    const uint8_t* data = rec.data() + 4;
    switch (type) {
      case 0:
        for (size_t i = 0; i < n; ++i) (*pBytes)[uint32_t(base + offset + i)] = data[i];
        break;
      case 1:
        return true;
      case 2:  // extended segment address: paragraph number
        if (n != 2) break;
        base = (uint32_t(data[0]) << 8 | data[1]) << 4;
        break;
      case 4:  // extended linear address: upper 16 bits
        if (n != 2) break;
        base = (uint32_t(data[0]) << 8 | data[1]) << 16;
        break;
      case 3:
      case 5:  // start addresses say nothing about memory contents
        break;
      default:
        *pError = Fmt("line %zu: unknown record type %u", lineNo, unsigned(type));
        return false;
    }
    if ((type == 2 || type == 4) && n != 2) {
      *pError = Fmt("line %zu: an address record holds two bytes", lineNo);
      return false;
    }
  }
  *pError = "no end-of-file record";
  return false;
}

}  // namespace dump
