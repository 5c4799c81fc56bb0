// The ELF container: sections, one loadable segment per allocated section,
// and the symbol table, written with libelf.
#ifndef MIRL_ELF_ELFFILE_H
#define MIRL_ELF_ELFFILE_H

#include <cstdint>
#include <string>
#include <vector>

namespace elfx {

struct Section {
  std::string name;
  uint32_t type = 1;  // SHT_PROGBITS
  uint32_t flags = 0;
  uint32_t address = 0;
  uint32_t load = 0;  // where its segment lies in the device's memory (p_paddr)
  uint32_t size = 0;  // for NOBITS sections; others take bytes.size()
  std::vector<uint8_t> bytes;
};

struct Symbol {
  std::string name;
  uint32_t value = 0, size = 0;
  uint8_t type = 0;  // STT_*
  bool global = false;
  int section = -1;  // index into the section list; -1 absolute
};

struct ElfImage {
  uint16_t machine = 0;
  uint32_t entry = 0;
  std::vector<Section> sections;
  std::vector<Symbol> symbols;
};

bool WriteElf(const ElfImage& image, const std::string& path, std::string* pError);

}  // namespace elfx

#endif
