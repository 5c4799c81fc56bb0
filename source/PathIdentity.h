// Deciding whether two path strings name the same file on this machine:
// each path is resolved (separators, relative parts, long and short names,
// drives mapped to network shares) and the resolutions are kept in one small
// process-wide cache.
#ifndef MIRL_PATHIDENTITY_H
#define MIRL_PATHIDENTITY_H

#include <cstddef>
#include <list>
#include <string>

#include "../platform/Platform.h"

namespace mirl {

// Path functions. Each returns a new string; an empty input gives "".
// The long form of p, or p when there is none (for instance p does not exist).
std::string GetLongPath(const std::string& p);
// The short (8.3) form of p, or p when there is none.
std::string GetShortPath(const std::string& p);
// The absolute form of p, with a '\' appended when it names an existing
// directory; p itself when it cannot be made absolute.
std::string GetFullPath(const std::string& p);
// The absolute form of p with a drive letter that maps a network share
// replaced by the share's remote name.
std::string ToUncPath(const std::string& p);

// The resolution of one path.
struct PathInfo {
  std::string Key;            // base directory text + path text, as given
  std::string LongPath;       // '/' turned into '\', long form
  std::string BaseDirectory;  // resolved, always ending in '\'
  std::string FullPath;       // absolute form of the long path
  std::string UncPath;        // ToUncPath of the full path
};

// The 64 most recently used resolutions, most recent first, shared by every
// component of the process. The mutex is held only while the list is
// searched or changed, never while a path is resolved.
class PathInfoCache {
 public:
  static constexpr size_t kCapacity = 64;

  // The one cache of the process, created at first use (safely, also when
  // that use happens on several threads at once).
  static PathInfoCache& Instance();

  // Copies the entry with exactly this key and makes it the most recent.
  bool Lookup(const std::string& key, PathInfo* pInfo);
  // Adds an entry as the most recent, dropping the least recent beyond
  // kCapacity.
  void Insert(const PathInfo& info);

  // For tests: the number of entries, and whether a key is held (without
  // making it the most recent).
  size_t Size();
  bool Contains(const std::string& key);

 private:
  PathInfoCache() = default;
  platform::Mutex m_Mutex;
  std::list<PathInfo> m_Entries;
};

class PathIdentity {
 public:
  // Resolves path against baseDirectory (empty: the current directory).
  // An empty path gives an empty identity.
  PathIdentity(const std::string& path, const std::string& baseDirectory);

  bool Empty() const { return m_bEmpty; }
  const PathInfo& Info() const { return m_Info; }
  // Whether other names the same file, resolved against this identity's
  // base directory.
  bool IsSameFile(const std::string& other) const;

 private:
  bool m_bEmpty = true;
  PathInfo m_Info;
};

}  // namespace mirl

#endif
