// Path resolution, the process-wide resolution cache and the stored/host
// path mapping.
#include "FileMapper.h"

#include <iterator>
#include <new>

#include "../component/CMirlParserUbrof.h"
#include "../platform/Paths.h"
#include "PathIdentity.h"

namespace mirl {

// ---------------------------------------------------------------------------
// Path functions
// ---------------------------------------------------------------------------
std::string GetLongPath(const std::string& p) {
  if (p.empty()) return std::string();
  std::string out;
  return platform::LongPathName(p, &out) ? out : p;
}

std::string GetShortPath(const std::string& p) {
  if (p.empty()) return std::string();
  std::string out;
  return platform::ShortPathName(p, &out) ? out : p;
}

std::string GetFullPath(const std::string& p) {
  if (p.empty()) return std::string();
  std::string full;
  if (!platform::FullPathName(p, &full) || full.empty()) return p;
  bool bDirectory = false;
  if (platform::PathAttributes(full, &bDirectory) && bDirectory && full.back() != '\\')
    full += '\\';
  return full;
}

std::string ToUncPath(const std::string& p) {
  if (p.empty()) return std::string();
  std::string q = platform::IsRelativePath(p) ? GetFullPath(p) : p;
  std::string remote;
  if (q.size() >= 2 && q[1] == ':' && platform::DriveRemoteName(q.substr(0, 2), &remote))
    return remote + q.substr(2);
  return q;
}

// ---------------------------------------------------------------------------
// PathInfoCache
// ---------------------------------------------------------------------------
PathInfoCache& PathInfoCache::Instance() {
  // Constructed on first use; the language makes that safe when several
  // threads get here first at once. It lives until the module is unloaded.
  static PathInfoCache cache;
  return cache;
}

bool PathInfoCache::Lookup(const std::string& key, PathInfo* pInfo) {
  platform::MutexLock lock(m_Mutex);
  for (auto it = m_Entries.begin(); it != m_Entries.end(); ++it) {
    if (it->Key != key) continue;
    *pInfo = *it;
    m_Entries.splice(m_Entries.begin(), m_Entries, it);
    return true;
  }
  return false;
}

void PathInfoCache::Insert(const PathInfo& info) {
  // Copy before taking the lock, so that only list links change under it.
  std::list<PathInfo> entry(1, info);
  platform::MutexLock lock(m_Mutex);
  m_Entries.splice(m_Entries.begin(), entry);
  // Two threads may resolve one key at once and both insert it; a lookup
  // then finds the later one first.
  while (m_Entries.size() > kCapacity) {
    // Moved out and destroyed after the lock is released.
    entry.splice(entry.end(), m_Entries, std::prev(m_Entries.end()));
  }
}

size_t PathInfoCache::Size() {
  platform::MutexLock lock(m_Mutex);
  return m_Entries.size();
}

bool PathInfoCache::Contains(const std::string& key) {
  platform::MutexLock lock(m_Mutex);
  for (const PathInfo& e : m_Entries)
    if (e.Key == key) return true;
  return false;
}

// ---------------------------------------------------------------------------
// PathIdentity
// ---------------------------------------------------------------------------
namespace {
std::string Backslashes(std::string s) {
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}
}  // namespace

PathIdentity::PathIdentity(const std::string& path, const std::string& baseDirectory) {
  if (path.empty()) return;
  m_bEmpty = false;
  std::string key = baseDirectory + path;
  PathInfoCache& cache = PathInfoCache::Instance();
  if (cache.Lookup(key, &m_Info)) return;

  // Resolved outside the cache's lock: these calls reach the file system
  // and possibly the network.
  PathInfo info;
  info.Key = key;
  info.LongPath = GetLongPath(Backslashes(path));
  std::string base;
  if (!baseDirectory.empty()) {
    base = GetFullPath(GetLongPath(Backslashes(baseDirectory)));
  } else {
    if (!platform::CurrentDirectory(&base) || base.empty()) base = ".";
    base = GetLongPath(base);
  }
  if (base.empty() || base.back() != '\\') base += '\\';
  info.BaseDirectory = base;
  info.FullPath =
      GetFullPath(platform::IsRelativePath(info.LongPath) ? base + info.LongPath : info.LongPath);
  info.UncPath = ToUncPath(info.FullPath);
  cache.Insert(info);
  m_Info = std::move(info);
}

bool PathIdentity::IsSameFile(const std::string& other) const {
  if (other.empty() || m_bEmpty) return false;
  PathIdentity b(other, m_Info.BaseDirectory);
  if (EqualsIgnoreCase(m_Info.UncPath, b.m_Info.UncPath)) return true;
  // A long and a short name of one existing file.
  return EqualsIgnoreCase(GetShortPath(b.m_Info.UncPath), GetShortPath(m_Info.UncPath));
}

// ---------------------------------------------------------------------------
// FileMapper
// ---------------------------------------------------------------------------
void FileMapper::SetBaseDirectory(const std::string& dir) {
  m_strBaseDirectory = dir;
  m_Map.clear();
}

void FileMapper::AddMapping(const std::string& oldPath, const std::string& newPath) {
  m_Map.emplace(oldPath, newPath);  // an existing pair stays
}

std::string FileMapper::MapPath(const std::string& stored) const {
  auto it = m_Map.find(stored);
  return it != m_Map.end() ? it->second : stored;
}

std::string FileMapper::UnmapPath(const std::string& host) const {
  // Nothing registered, nothing to compare with: the path stays as it is
  // (and needs no resolution, which costs a locked cache lookup).
  if (m_Map.empty()) return host;
  PathIdentity identity(host, m_strBaseDirectory);
  for (const auto& pair : m_Map)
    if (identity.IsSameFile(pair.second)) return pair.first;
  return host;
}

}  // namespace mirl

// ---------------------------------------------------------------------------
// RemapSourceFile
// ---------------------------------------------------------------------------
HRESULT CMirlParserUbrof::RemapSourceFile(BSTR* pbstrOldPath, BSTR* pbstrNewPath) {
  if (!pbstrOldPath || !pbstrNewPath) return E_POINTER;
  try {
    // A null string is an empty path; the caller's strings are left alone.
    std::string oldPath = platform::BstrToAnsi(*pbstrOldPath);
    std::string newPath = platform::BstrToAnsi(*pbstrNewPath);
    if (oldPath.empty())
      m_FileMapper.SetBaseDirectory(newPath);
    else
      m_FileMapper.AddMapping(oldPath, newPath);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}
