// Translation between the source paths stored in the object file and the
// paths where the host found the files.
#ifndef MIRL_FILEMAPPER_H
#define MIRL_FILEMAPPER_H

#include <map>
#include <string>

namespace mirl {

class FileMapper {
 public:
  FileMapper() = default;
  virtual ~FileMapper() = default;

  // Relative host paths are resolved against dir (empty: the current
  // directory). Forgets every pair registered so far.
  void SetBaseDirectory(const std::string& dir);
  // Pairs a stored path with a host path; the first pair for a stored path
  // stays.
  void AddMapping(const std::string& oldPath, const std::string& newPath);
  // Stored -> host: the host path registered for exactly this stored path,
  // else the stored path.
  std::string MapPath(const std::string& stored) const;
  // Host -> stored: the stored path of the first pair (in stored-path order)
  // whose host path names the same file, else the host path.
  std::string UnmapPath(const std::string& host) const;

  const std::string& BaseDirectory() const { return m_strBaseDirectory; }
  size_t MappingCount() const { return m_Map.size(); }

 private:
  std::map<std::string, std::string> m_Map;
  std::string m_strBaseDirectory;
};

}  // namespace mirl

#endif
