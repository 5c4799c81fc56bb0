// Export of a parsed program as an absolute ELF32 executable with DWARF 4
// debug information, for gdb, simulators with a gdb stub, addr2line and
// objdump. It reads the program only through the read API.
#ifndef MIRL_ELF_ELFEXPORT_H
#define MIRL_ELF_ELFEXPORT_H

#include <cstdint>
#include <string>

#include "MirlProgram.h"

namespace elfx {

struct Target {
  std::string name;       // "avr", "msp430", "8051", "none"
  uint16_t machine = 0;   // e_machine
  uint32_t dataBase = 0;  // where data memory address 0 lies in the ELF address space
  uint32_t eepromBase = 0;
};

// The target named on the command line ("avr", "msp430", "8051", "none",
// any case); false for another name.
bool TargetNamed(const std::string& name, Target* pTarget);
// The target the file's key/value pairs show (__cpu_name, __core, __TID__),
// "none" when they show none.
Target TargetOf(const mirl::api::Program& p);
// The names TargetNamed knows and their address conventions, for --help.
const char* TargetHelp();

struct ElfReport {
  Target target;
  uint32_t units = 0, functions = 0, variables = 0, lineRows = 0, symbols = 0;
};

// Writes the ELF file. target.name empty: from the file. False with a
// message when the program cannot be laid out or the file not written.
bool ExportElf(const mirl::api::Program& p, const Target& target, const std::string& path,
               ElfReport* pReport, std::string* pError);

}  // namespace elfx

#endif
