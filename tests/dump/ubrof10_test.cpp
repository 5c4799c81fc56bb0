// ubrofdump on the UBROF 10 samples, judged by the linker's own outputs: its
// memory images, and its map, whose every entry must be found at its address.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "../../tools/dump/Format.h"
#include "MapFile.h"
#include "RunTool.h"

namespace fs = std::filesystem;
using Bytes = std::map<uint32_t, uint8_t>;
using Json = nlohmann::json;

namespace {

struct Sample {
  const char *file, *image, *eeprom, *map;  // oracles beside the file, "" none
  bool sameLink, banked;                    // banked: 8051 bank in bits 16 and up
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

// Every ENTRY and LOCAL row of the map (no other line begins with 11
// spaces and a name). A bit address "20.3" is bit 3 of byte 0x20 (8051:
// bytes 0x20-0x2F hold bits 0-0x7F; from 0x80 on, bit 0 of a byte has its
// address). A name too long for its column puts the address on the next line.
std::vector<std::pair<std::string, uint32_t>> MapEntries(const fs::path& path) {
  static const std::regex row(R"(^ {11}(\S.*?)??\s+([0-9A-F]{4,8})(\.([0-7]))?(\s[\s\S]*)?$)"),
      name(R"(^ {11}(\S+)\s*$)");
  std::vector<std::pair<std::string, uint32_t>> entries;
  std::ifstream in(path);
  std::string line, pending;
  for (std::smatch m; std::getline(in, line);
       pending = std::regex_match(line, m, name) ? m[1].str() : "") {
    if (!std::regex_match(line, m, row) || !(m[1].matched || !pending.empty())) continue;
    uint32_t v = std::stoul(m[2].str(), nullptr, 16);
    if (m[4].matched) v = (v < 0x80 ? (v - 0x20) * 8 : v) + std::stoul(m[4].str());
    entries.emplace_back(m[1].matched ? m[1].str() : pending, v);
  }
  return entries;
}

class Ubrof10 : public ::testing::TestWithParam<Sample> {};

TEST_P(Ubrof10, ReadAsTheLinkersOwnOutputsShow) {
  const Sample& s = GetParam();
  fs::path object = fs::path(MIRL_SAMPLES_DIR) / s.file, dir = object.parent_path();
  if (!fs::exists(object)) GTEST_SKIP() << object << " is absent (the shared UBROF 10 samples)";
  auto entries = *s.map ? MapEntries(dir / s.map) : decltype(MapEntries("")){};
  std::vector<std::string> args = {"--all", "--json",        object, "--ihex",
                                   "p.hex", "--eeprom-ihex", "e.hex"};
  for (const auto& e : entries) args.insert(args.end(), {"--symbol", e.first});
  std::string scratch = dumptest::ScratchDir("u10");
  dumptest::ToolRun r = dumptest::RunDump(args, scratch);
  ASSERT_EQ(r.status, 0) << r.err;
  Json j = Json::parse(r.out);
  EXPECT_EQ(j["summary"]["read_with_learned_layouts"], true);
  for (auto [oracle, ours] : {std::pair(s.image, "p.hex"), std::pair(s.eeprom, "e.hex")}) {
    if (!*oracle) continue;
    Bytes linker = dumptest::ReadImage(dir / oracle), image;
    for (auto [a, v] : dumptest::ReadImage(fs::path(scratch) / ours))
      image[s.banked && a > 0xFFFF ? (a >> 16) * 0x8000 + (a & 0xFFFF) - 0x8000 : a] = v;
    // docs/ubrof10.md: not the same link, which has another reset vector.
    auto reset = [](Bytes& b) { return b[0xFFFE] | b[0xFFFF] << 8; };
    EXPECT_TRUE(s.sameLink ? image == linker : reset(image) != reset(linker)) << oracle;
  }
  for (const Json& f : j["sources"]) EXPECT_LE(f["time_stamp"], j["summary"]["time_of_build"]);
  // Functions and statements lie in written memory; statements name a file.
  std::map<uint32_t, uint32_t> runs;
  for (const Json& w : j["memory"]["program"]["written"]) runs[w["first"]] = w["last"];
  auto written = [&](uint32_t first, uint32_t end) {
    auto it = runs.upper_bound(first);
    return it != runs.begin() && first < end && end - 1 <= (--it)->second;
  };
  std::map<uint32_t, uint32_t> functions;  // low to high
  std::vector<std::pair<uint32_t, uint32_t>> modules;
  for (const Json& sc : j["scopes"]) {
    if (sc["low"].is_null()) continue;
    if (sc["kind"] == "module") modules.emplace_back(sc["low"], sc["high"]);
    if (sc["kind"] != "function") continue;
    EXPECT_TRUE(written(sc["low"], sc["high"]));
    functions[sc["low"]] = sc["high"];
  }
  // A file with function code has statements; each lies in a module's code,
  // a function's entry (type 3) is where a function's code begins, and the
  // function's last statement ends where its code ends.
  EXPECT_TRUE(functions.empty() || !j["lines"].empty());
  std::set<uint32_t> ends;
  for (const Json& st : j["lines"])
    ends.insert(st["address"].get<uint32_t>() + st["length"].get<uint32_t>());
  for (const Json& st : j["lines"]) {
    uint32_t at = st["address"];
    bool inModule = std::any_of(modules.begin(), modules.end(),
                                [at](auto m) { return m.first <= at && at < m.second; });
    EXPECT_TRUE(written(at, at + 1) && inModule && st["file_id"] < j["sources"].size() &&
                (st["type"] != 3 || (functions.count(at) && ends.count(functions[at]))))
        << st;
  }
  // Every statement's address is found by an addr2line-style lookup.
  std::vector<std::string> lookup = {"--json", object, "--addr"};
  for (const Json& st : j["lines"]) lookup.push_back(dump::Hex(st["address"].get<uint32_t>()));
  if (!j["lines"].empty()) {
    dumptest::ToolRun a = dumptest::RunDump(lookup, scratch);
    ASSERT_EQ(a.status, 0) << a.err;
    const Json answers = Json::parse(a.out);
    EXPECT_EQ(answers["lookups"]["addresses"].size(), j["lines"].size());
    for (const Json& found : answers["lookups"]["addresses"]) EXPECT_TRUE(found["found"]) << found;
  }
  // Every map entry is listed by --nm and found by --symbol at its address.
  EXPECT_TRUE(!*s.map || entries.size() > 200) << s.map;
  std::set<std::pair<std::string, uint32_t>> listed;
  for (const Json& n : j["nm"]) listed.emplace(n.value("qualified_name", n["name"]), n["address"]);
  const Json& found = j["lookups"]["symbols"];
  for (size_t i = 0; i < entries.size() && i < found.size(); ++i) {
    std::set<uint32_t> values;
    for (const Json& match : found[i]["matches"]) values.insert(match["value"].get<uint32_t>());
    EXPECT_TRUE(values.count(entries[i].second) && listed.count(entries[i])) << entries[i].first;
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, Ubrof10, ::testing::ValuesIn(kSamples));

}  // namespace
