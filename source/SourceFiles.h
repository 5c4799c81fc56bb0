// Source files named by the debug information, and the statement table.
#ifndef MIRL_SOURCEFILES_H
#define MIRL_SOURCEFILES_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "../platform/Platform.h"

namespace mirl {

struct SourceFileRecord {
  std::string Path;
  DATE TimeStamp = 0.0;
  uint8_t Language = 0;
  uint8_t Temporary = 0;
  std::vector<uint32_t> StatementRuns;
};

// Lower-cased path -> file id.
typedef std::map<std::string, uint32_t> FileNameMap;

struct StatementRecord {
  uint32_t Address = 0;
  uint16_t Length = 0;
  uint16_t Line = 0;
  uint8_t LineSpan = 0;
  uint8_t Column = 0;
  uint8_t ColumnEnd = 0;
  uint8_t StatementType = 0;
};

struct StatementRun {
  int32_t File = -1;
  int32_t MaxEndLine = 0;
  uint32_t FirstStatement = 0;
  uint32_t Count = 0;
};

// ASCII lower case, as the file-name keys use.
std::string LowerAscii(std::string s);
bool EqualsIgnoreCase(const std::string& a, const std::string& b);

// A path's drive and directory (ending at the last '/' or '\\', or after a
// drive "X:"), its base name, and its extension (from the last '.' after the
// directory); either separator, whichever machine wrote the path. Null
// pointers are not written.
void SplitPath(const std::string& path, std::string* pDir, std::string* pBase, std::string* pExt);

}  // namespace mirl

#endif
