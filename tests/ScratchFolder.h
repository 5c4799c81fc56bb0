// A folder of this process's own for the files that tests and fuzz targets
// write: in memory when the machine has a tmpfs at /dev/shm (runs that write
// a file per input then measure the parser, not the disk), else in the
// temporary directory. It goes, with its contents, when the process ends.
#ifndef MIRL_TESTS_SCRATCHFOLDER_H
#define MIRL_TESTS_SCRATCHFOLDER_H

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace scratch {

inline const std::string& Folder() {
  namespace fs = std::filesystem;
  static const struct Holder {
    std::string path;
    Holder() {
      std::error_code ec;
      fs::path base =
          fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path(ec);
      std::random_device random;
      for (unsigned i = 0; path.empty() && i < 1000; ++i) {
        fs::path p = base / ("mirl-" + std::to_string(random()) + "-" + std::to_string(i));
        if (fs::create_directory(p, ec)) path = p.string();
      }
      if (path.empty()) std::abort();  // nowhere to write: no test could run
    }
    ~Holder() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  } holder;
  return holder.path;
}

// Removes everything in the folder, keeping the folder.
inline void Clear() {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(Folder(), ec))
    std::filesystem::remove_all(e.path(), ec);
}

}  // namespace scratch

#endif
