// ubrofdump --elf: the parsed program as ELF with DWARF (tools/elf).
#ifndef UBROFDUMP_ELFOUT_H
#define UBROFDUMP_ELFOUT_H

#include <string>

#include "Views.h"

namespace dump {

// machine: a name TargetNamed knows, or "" for the file's own target.
bool ExportElfFile(Session& s, const std::string& path, const std::string& machine, Json* pReport,
                   std::string* pError);

}  // namespace dump

#endif
