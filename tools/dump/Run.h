// What one call of ubrofdump asks of each file, and the run of those views,
// lookups and exports over one opened file. The tool and its fuzz target
// share it, so that the fuzz target runs exactly what people run.
#ifndef UBROFDUMP_RUN_H
#define UBROFDUMP_RUN_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Views.h"

namespace dump {

struct Request {
  bool summary = false, modules = false, scopes = false, symbols = false, labels = false;
  bool nm = false, types = false, sources = false, lines = false, memory = false;
  bool nmByName = false, nmGlobals = false, nmDefined = false;
  bool range = false;
  uint32_t rangeStart = 0;
  uint64_t rangeEnd = 0;
  unsigned memType = 1;  // of --range and --addr
  std::vector<uint32_t> addresses;
  std::vector<std::pair<std::string, uint32_t>> lineQueries;  // FILE, LINE from 1
  std::vector<std::string> symbolNames;
  std::string ihex, eepromIhex, bin;
  std::string elf, machine;  // --elf OUT, --machine NAME ("": the file's)
};

// Adds the requested parts to *pDoc and their text to *pText (sections
// separated by blank lines). Messages of failed exports go to *pErrors.
// Returns 1 when a --line or --symbol lookup found nothing or an export
// failed, else 0.
int RunRequest(Session& s, const Request& r, Json* pDoc, std::string* pText,
               std::vector<std::string>* pErrors);

}  // namespace dump

#endif
