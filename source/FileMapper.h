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

  void SetBaseDirectory(const std::string& dir);
  void AddMapping(const std::string& oldPath, const std::string& newPath);
  std::string MapPath(const std::string& stored) const;
  std::string UnmapPath(const std::string& host) const;

 private:
  std::map<std::string, std::string> m_Map;
  std::string m_strBaseDirectory;
};

}  // namespace mirl

#endif
