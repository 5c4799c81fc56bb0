// The linker's own outputs, the oracles of the sample tests: its map (.map)
// and its memory images.
#ifndef MIRL_TESTS_DUMP_MAPFILE_H
#define MIRL_TESTS_DUMP_MAPFILE_H

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "../../tools/dump/IntelHex.h"
#include "RunTool.h"

namespace dumptest {

// The ENTRY lines of a linker map as name, address and whether a segment
// of the address space (CODE, DATA) holds it: the name from column 11, the address in columns 35-42
// on the name's line or, for a long name, on the next one.
inline std::vector<std::tuple<std::string, uint32_t, bool>> MapEntries(
    const std::filesystem::path& map, const std::string& space = "CODE") {
  std::vector<std::tuple<std::string, uint32_t, bool>> out;
  std::istringstream in(dumptest::Slurp(map.string()));
  std::string line, name;
  bool entries = false, code = false;
  static const std::regex hex8("[0-9A-F]{8}");
  while (std::getline(in, line)) {
    size_t first = line.find_first_not_of(' ');
    if (line.find(" segment, address: ") != std::string::npos)
      code = line.find("address: " + space + " ") != std::string::npos;
    bool address = line.size() >= 43 && std::regex_match(line.substr(35, 8), hex8);
    if (first == std::string::npos || line.compare(first, 3, "---") == 0 ||
        line.compare(first, 6, "LOCAL ") == 0)
      entries = false;
    else if (line.compare(first, 6, "ENTRY ") == 0)
      entries = true;
    else if (entries && first == 11 && !address)
      name = line.substr(11);
    else if (entries && (first == 11 || first == 35) && address)
      out.emplace_back(first == 11 ? line.substr(11, line.find_last_not_of(' ', 34) - 10) : name,
                       std::stoul(line.substr(35, 8), nullptr, 16), code);
  }
  return out;
}

// Intel HEX, or TI-TXT: "@hhhh" sets the address, hex bytes follow, "q" ends.
inline std::map<uint32_t, uint8_t> ReadImage(const std::filesystem::path& path) {
  std::map<uint32_t, uint8_t> bytes;
  std::string text = dumptest::Slurp(path.string()), why;
  if (path.extension() != ".txt") {
    EXPECT_TRUE(dump::ReadIntelHex(text, &bytes, &why)) << path << why;
    return bytes;
  }
  std::istringstream in(text);
  uint32_t at = 0;
  for (std::string w; in >> w && w != "q";)
    if (w[0] == '@')
      at = std::stoul(w.substr(1), nullptr, 16);
    else
      bytes[at++] = uint8_t(std::stoul(w, nullptr, 16));
  return bytes;
}

}  // namespace dumptest

#endif
