// Framing and per-module records: time of build, version and skip
// information, segments, segment groups, key/value pairs and the small
// per-module records.
#include <cstdlib>

#include "../platform/Platform.h"
#include "Parser.h"

namespace mirl {

bool CParser::ReadTimeStamp(DATE* pDate) {
  unsigned second = unsigned(ReadByte());
  unsigned minute = unsigned(ReadByte());
  unsigned hour = unsigned(ReadByte());
  unsigned day = unsigned(ReadByte());
  unsigned month = unsigned(ReadByte());
  unsigned year = unsigned(ReadByte()) + 1900;
  return DateFromFields(year, month, day, hour, minute, second, pDate);
}

int CParser::t_beg_file1() {
  DATE date;
  // An invalid date leaves the time of build as it was.
  if (ReadTimeStamp(&date)) m_pFileInfo->m_dateTimeOfBuild = date;
  return 0;
}

int CParser::t_version() {
  m_pFileInfo->m_ucUbrofVersion = uint8_t(ReadByte());
  m_pFileInfo->m_ucUbrofMinor = uint8_t(ReadByte());
  m_pFileInfo->m_ucUbrofRevision = uint8_t(ReadByte());
  // Only the read API's opt-in entry reads UBROF 10; 9 and 11 on stay
  // refused there too, as no real file of them has been seen.
  if (m_pFileInfo->m_ucUbrofVersion == 10 && m_bAcceptUbrof10) return BeginUbrof10();
  if (m_pFileInfo->m_ucUbrofVersion >= 9) {
    m_Diagnostic.uVersion = m_pFileInfo->m_ucUbrofVersion;
    platform::ShowMessageBox(
        "Currently, MIRL Studio requires the UBROF object file version to be UBROF8 or earlier. "
        "See the 'Object files format and support' help section for more information.",
        "MIRL Studio UBROF parser");
    return 1;
  }
  int n = ReadByte();
  for (int i = 0; i < n; ++i) {
    uint8_t code = uint8_t(ReadByte());
    uint8_t spec = uint8_t(ReadByte());
    AddSkipInfo(code, spec);
  }
  return 0;
}

int CParser::t_seg_info() {
  SkipBytes(4);
  uint32_t count = ReadWord();
  for (uint32_t i = 0; i < count; ++i) {
    SkipBytes(5);
    SkipBytes(uint32_t(ReadByte()));  // segment name
    uint32_t m = ReadWord();
    SkipBytes(m * 8);
  }
  return 0;
}

int CParser::t_grp() {
  SkipBytes(4);
  uint32_t g = ReadWord();
  ReserveIndex(m_pSegmentGroups->size(), g);
  if (m_pSegmentGroups->size() <= g) m_pSegmentGroups->resize(size_t(g) + 1);
  m_ulModuleState = 1;
  return 0;
}

// Inside a module's scopes the record is a group number. Elsewhere we read it
// as nothing, so what follows is taken as the next tag: we know no layout for
// it there, and guessing one could skip real records.
int CParser::t_grp_ref() {
  if (m_ulModuleState == 2) m_pScopes->AddGroupRef(ReadWord());
  return 0;
}

int CParser::t_key_value() {
  SkipBytes(4);  // the record's length
  StringPtr key = ReadLongString();
  StringPtr value = ReadLongString();
  if (m_pKeyValues) m_pKeyValues->push_back(KeyValueRecord{key.get(), value.get()});
  return 0;
}

int CParser::t_debug() {
  uint8_t level = uint8_t(ReadByte());
  if (!m_pModules->empty()) m_pModules->back().m_ucDebug = level;
  return 0;
}

int CParser::t_aux() {
  uint16_t v = uint16_t(ReadWord());
  if (!m_pModules->empty()) m_pModules->back().m_usAux = v;
  return 0;
}

int CParser::t_aux_1() {
  uint16_t v = uint16_t(ReadWord());
  StringPtr text = ReadByteString();
  // The leading decimal number of the tool's version text; 0.0 without one.
  double version = std::strtod(text.get(), nullptr);
  if (!m_pModules->empty()) {
    ModuleRecord& m = m_pModules->back();
    m.m_usAux1 = v;
    m.m_bHasToolVersion = true;
    m.m_pszToolVersion = text.get();
  }
  if (version > m_dCompilerVersion) m_dCompilerVersion = version;
  m_pSymbols->SetCompilerVersion(m_dCompilerVersion);
  return 0;
}

}  // namespace mirl
