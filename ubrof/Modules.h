// Module and segment-group tables, filled by the framing records.
#ifndef MIRL_MODULES_H
#define MIRL_MODULES_H

#include <cstdint>
#include <string>
#include <vector>

#include "../platform/Platform.h"

namespace mirl {

struct FileInfo {
  DATE m_dateTimeOfBuild = 0.0;
  uint8_t m_ucUbrofVersion = 0;
  uint8_t m_ucUbrofMinor = 0;
  uint8_t m_ucUbrofRevision = 0;
  // Read with the UBROF 10 layouts (ubrof10/), and how many records were
  // passed over by their skip information.
  bool m_bUbrof10 = false;
  uint32_t m_ulSkippedRecords = 0;
};

struct ModuleRecord {
  uint8_t m_aucHeader[3] = {0, 0, 0};
  DATE m_dateCreated = 0.0;
  std::string m_pszName;
  uint16_t m_usAux = 0;
  uint16_t m_usAux1 = 0;
  bool m_bHasToolVersion = false;
  std::string m_pszToolVersion;
  uint8_t m_ucDebug = 0;
};

// One t_key_value record.
struct KeyValueRecord {
  std::string Key;
  std::string Value;
};

struct SegmentGroupRecord {
  std::vector<uint32_t> m_MacroIds;
  std::vector<uint32_t> m_SymbolIds;
};

// The object file's date rule: an automation DATE, or false when the fields
// do not form a valid date.
bool DateFromFields(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                    unsigned second, DATE* pDate);

}  // namespace mirl

#endif
