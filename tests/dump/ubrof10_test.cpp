// ubrofdump on the UBROF 10 samples, judged by the linker's own outputs of
// the same link: the memory images (Intel HEX, TI-TXT), and the map's entry
// lists, which every name must be found in at the map's address. The
// oracles are read here; nothing is copied from our own output.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "../../tools/dump/IntelHex.h"
#include "RunTool.h"

namespace fs = std::filesystem;
using dumptest::RunDump;
using dumptest::ToolRun;
using Bytes = std::map<uint32_t, uint8_t>;

namespace {

struct Sample {
  const char* file;    // below the samples folder
  const char* image;   // ".hex" or ".txt" oracle of program memory, "" none
  const char* eeprom;  // ".hex" oracle of eeprom, "" none
  const char* map;     // linker map, "" none
  bool sameLink;       // the image oracle is from the same link (README)
  bool banked;         // 8051 banked code: bank in bits 16 and up
};

const Sample kSamples[] = {
    {"ubrof10/mega128-debug/atmega128.d90", "", "", "atmega128.map", true, false},
    {"ubrof10/mega128-release/atmega128.d90", "", "", "", true, false},
    {"ubrof10/msp430-project/Project.d43", "", "", "Project.map", true, false},
    {"ubrof10/msp430-test/test.d43", "test.txt", "", "", false, false},
    {"ubrof10/cc2540-broadcaster/SimpleBLEBroadcaster.d51", "SimpleBLEBroadcaster.hex", "", "",
     true, true},
    {"ubrof10/cc2530-sampleapp/SampleApp.d51", "", "", "SampleApp.map", true, true},
    {"newer-versions/ThermoRelay_iar.d90", "ThermoRelay_iar.code.hex", "ThermoRelay_iar.eeprom.hex",
     "", true, false},
    {"newer-versions/flowing_lights.d43", "", "", "", true, false},
};

void PrintTo(const Sample& s, std::ostream* os) { *os << s.file; }

fs::path Beside(const Sample& s, const char* name) {
  return fs::path(MIRL_SAMPLES_DIR) / fs::path(s.file).parent_path() / name;
}

Bytes ReadHex(const fs::path& path) {
  Bytes bytes;
  std::string why;
  EXPECT_TRUE(dump::ReadIntelHex(dumptest::Slurp(path.string()), &bytes, &why)) << path << why;
  return bytes;
}

// TI-TXT: "@hhhh" sets the address, hex bytes follow, "q" ends.
Bytes ReadTiTxt(const fs::path& path) {
  Bytes bytes;
  std::ifstream in(path);
  uint32_t address = 0;
  for (std::string word; in >> word && word != "q";)
    if (word[0] == '@')
      address = uint32_t(std::stoul(word.substr(1), nullptr, 16));
    else
      bytes[address++] = uint8_t(std::stoul(word, nullptr, 16));
  return bytes;
}

// The HEX file of banked 8051 code is the flash in order, 32 KiB per bank;
// banked code runs at 0x8000-0xFFFF (docs/ubrof10.md).
uint32_t FlashAddress(uint32_t address) {
  uint32_t bank = address >> 16;
  return bank == 0 ? address : bank * 0x8000 + (address & 0xFFFF) - 0x8000;
}

// Every ENTRY and LOCAL row of the module map: name and address. Addresses
// have 4 or 8 digits; a bit address "20.3" is bit 3 of byte 0x20 (8051 bit
// numbering: 0x20-0x2F hold bits 0-0x7F, a byte from 0x80 on is its bit 0).
// A name too long for its column puts the address on the next line.
std::vector<std::pair<std::string, uint32_t>> MapEntries(const fs::path& path) {
  static const std::regex heading(R"(^\s+(ENTRY|LOCAL)\s+ADDRESS)");
  static const std::regex row(R"(^ {11}(\S.*?)\s+([0-9A-F]{4,8})(\.([0-7]))?(\s.*)?$)");
  static const std::regex nameOnly(R"(^ {11}(\S+)\s*$)");
  static const std::regex addressOnly(R"(^\s+([0-9A-F]{4,8})(\.([0-7]))?(\s.*)?$)");
  std::vector<std::pair<std::string, uint32_t>> entries;
  std::ifstream in(path);
  std::string line, pending;
  int state = 0;  // 0 outside, 1 after a heading, 2 in the rows
  auto add = [&](const std::string& name, const std::smatch& m, int a, int bit) {
    uint32_t v = uint32_t(std::stoul(m[a].str(), nullptr, 16));
    if (m[bit].matched) v = (v < 0x80 ? (v - 0x20) * 8 : v) + uint32_t(std::stoul(m[bit].str()));
    entries.emplace_back(name, v);
  };
  for (std::smatch m; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (std::regex_search(line, heading)) {
      state = 1;
    } else if (state == 1) {
      state = line.find("=====") != std::string::npos ? 2 : 0;
    } else if (state == 2) {
      if (!pending.empty() && std::regex_match(line, m, addressOnly)) {
        add(pending, m, 1, 3);
      } else if (std::regex_match(line, m, row)) {
        add(m[1].str(), m, 2, 4);
      } else if (std::regex_match(line, m, nameOnly)) {
        pending = m[1].str();
        continue;
      } else if (line.compare(0, 15, std::string(15, ' ')) != 0) {
        state = 0;  // a row's notes are indented further; anything else ends the table
      }
    }
    pending.clear();
  }
  return entries;
}

#define SKIP_WITHOUT(path)                                                           \
  if (!fs::exists(path))                                                             \
  GTEST_SKIP() << path                                                               \
               << " is absent; these tests need the UBROF 10 samples of the shared " \
                  "folder"

class Ubrof10 : public ::testing::TestWithParam<Sample> {};

TEST_P(Ubrof10, ReadToTheEndWithImagesAsTheLinkerWroteThem) {
  const Sample& s = GetParam();
  fs::path object = fs::path(MIRL_SAMPLES_DIR) / s.file;
  SKIP_WITHOUT(object);
  std::string scratch = dumptest::ScratchDir("u10-image");
  ToolRun r = RunDump(
      {"--json", "--summary", object.string(), "--ihex", "code.hex", "--eeprom-ihex", "ee.hex"},
      scratch);
  ASSERT_EQ(r.status, 0) << r.err;
  nlohmann::json summary = nlohmann::json::parse(r.out)["summary"];
  EXPECT_EQ(summary["read_with_learned_layouts"], true);
  const std::pair<const char*, const char*> images[] = {{s.image, "code.hex"},
                                                        {s.eeprom, "ee.hex"}};
  for (const auto& [oracleName, ours] : images) {
    if (!*oracleName) continue;
    fs::path oraclePath = Beside(s, oracleName);
    Bytes oracle = oraclePath.extension() == ".txt" ? ReadTiTxt(oraclePath) : ReadHex(oraclePath);
    Bytes image;
    for (const auto& [address, value] : ReadHex(fs::path(scratch) / ours))
      image[s.banked ? FlashAddress(address) : address] = value;
    ASSERT_FALSE(oracle.empty()) << oraclePath;
    if (!s.sameLink) {
      // docs/ubrof10.md: another link; the reset vectors differ.
      EXPECT_NE(image[0xFFFE] | image[0xFFFF] << 8, oracle[0xFFFE] | oracle[0xFFFF] << 8);
      continue;
    }
    EXPECT_EQ(image, oracle) << oracleName;
  }
}

TEST_P(Ubrof10, EveryMapEntryIsFoundByNmAndSymbolAtItsAddress) {
  const Sample& s = GetParam();
  if (!*s.map) GTEST_SKIP() << "no map for " << s.file;
  fs::path object = fs::path(MIRL_SAMPLES_DIR) / s.file;
  SKIP_WITHOUT(Beside(s, s.map));
  auto entries = MapEntries(Beside(s, s.map));
  ASSERT_GT(entries.size(), 200u);
  std::string scratch = dumptest::ScratchDir("u10-map");
  ToolRun nm = RunDump({"--nm", object.string()}, scratch);
  ASSERT_EQ(nm.status, 0) << nm.err;
  std::set<std::pair<std::string, uint32_t>> listed;
  std::istringstream lines(nm.out);
  static const std::regex nmRow(R"(^([0-9A-F]{8}) [0-9A-F ]{8} \S \S+\s+(.*)$)");
  std::smatch m;
  for (std::string line; std::getline(lines, line);)
    if (std::regex_match(line, m, nmRow))
      listed.emplace(m[2].str(), uint32_t(std::stoul(m[1].str(), nullptr, 16)));
  std::vector<std::string> args = {"--json", object.string()};
  for (const auto& e : entries) {
    EXPECT_TRUE(listed.count(e)) << e.first << " at 0x" << std::hex << e.second << " (--nm)";
    args.insert(args.end(), {"--symbol", e.first});
  }
  ToolRun lookups = RunDump(args, scratch);
  ASSERT_EQ(lookups.status, 0) << lookups.err;
  const nlohmann::json found = nlohmann::json::parse(lookups.out)["lookups"]["symbols"];
  ASSERT_EQ(found.size(), entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    std::set<uint32_t> values;
    for (const auto& match : found[i]["matches"]) values.insert(match["value"].get<uint32_t>());
    EXPECT_TRUE(values.count(entries[i].second))
        << entries[i].first << " at 0x" << std::hex << entries[i].second << " (--symbol)";
  }
}

// Functions and statements lie in written program memory; statements also
// inside their module's code, and name a file of the table.
TEST_P(Ubrof10, CodeOfFunctionsAndStatementsIsInWrittenMemory) {
  const Sample& s = GetParam();
  fs::path object = fs::path(MIRL_SAMPLES_DIR) / s.file;
  SKIP_WITHOUT(object);
  std::string scratch = dumptest::ScratchDir("u10-code");
  ToolRun r = RunDump({"--all", "--json", object.string()}, scratch);
  ASSERT_EQ(r.status, 0) << r.err;
  nlohmann::json j = nlohmann::json::parse(r.out);
  std::map<uint32_t, uint32_t> runs;  // first -> last written
  for (const auto& w : j["memory"]["program"]["written"]) runs[w["first"]] = w["last"];
  auto written = [&](uint64_t first, uint64_t last) {
    auto it = runs.upper_bound(uint32_t(first));
    return it != runs.begin() && first <= last && last <= (--it)->second;
  };
  for (const auto& sc : j["scopes"]) {
    if (sc["kind"] == "function" && !sc["low"].is_null()) {
      EXPECT_TRUE(written(sc["low"], sc["high"].get<uint64_t>() - 1)) << sc["name"];
    }
  }
  const size_t files = j["sources"].size();
  for (const auto& st : j["lines"]) {
    uint32_t a = st["address"];
    EXPECT_TRUE(written(a, a)) << std::hex << a;
    EXPECT_LT(st["file"].get<size_t>(), files);
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, Ubrof10, ::testing::ValuesIn(kSamples));

}  // namespace
