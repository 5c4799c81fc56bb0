// ubrofdump on the real sample object files: the Intel HEX it writes must
// hold the same bytes as the linker's own HEX output of the same link, the
// files it cannot read must be named as such, and a full dump of the
// largest sample must be quick.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <tuple>

#include "../../tools/dump/Format.h"
#include "../../tools/dump/IntelHex.h"
#include "MapFile.h"
#include "RunTool.h"

namespace fs = std::filesystem;
using dumptest::RunDump;
using dumptest::ToolRun;

namespace {

std::vector<fs::path> Samples(const std::string& ext) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (const auto& dir : fs::directory_iterator(MIRL_SAMPLES_DIR, ec))
    for (const auto& f : fs::directory_iterator(dir.path(), ec))
      if (f.path().extension() == ext) found.push_back(f.path());
  std::sort(found.begin(), found.end());
  return found;
}

#define SKIP_WITHOUT_SAMPLES()                          \
  if (!fs::is_directory(MIRL_SAMPLES_DIR))              \
  GTEST_SKIP() << "the sample folder " MIRL_SAMPLES_DIR \
                  " is absent; these tests "            \
                  "need the real object files"

TEST(DumpSamples, IntelHexEqualsTheLinkersHexOutput) {
  SKIP_WITHOUT_SAMPLES();
  std::string scratch = dumptest::ScratchDir("samples");
  int compared = 0;
  for (const fs::path& object : Samples(".d90")) {
    fs::path oracle = fs::path(object).replace_extension(".hex");
    if (!fs::exists(oracle)) continue;
    SCOPED_TRACE(object.string());
    fs::path out = fs::path(scratch) / (object.parent_path().filename().string() + ".hex");
    ToolRun r = RunDump({object.string(), "--ihex", out.string()}, scratch);
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<uint32_t, uint8_t> ours = dumptest::ReadImage(out),
                                linker = dumptest::ReadImage(oracle);
    ASSERT_FALSE(linker.empty());
    // Compare address by address, to name the first difference.
    auto a = ours.begin(), b = linker.begin();
    for (; a != ours.end() && b != linker.end(); ++a, ++b) {
      ASSERT_EQ(a->first, b->first) << "first address that only one of the files gives";
      ASSERT_EQ(a->second, b->second) << "byte at address " << a->first;
    }
    EXPECT_EQ(ours.size(), linker.size());
    ++compared;
  }
  EXPECT_GT(compared, 0) << "no sample with a .hex oracle was found";
}

// Every entry of every map is in --nm at the map's address (by its name,
// its name without the parameter list, or that name's last :: part), and
// --addr names a function or label for every code entry.
TEST(DumpSamples, NmAndAddrAnswerEveryEntryOfTheLinkersMap) {
  SKIP_WITHOUT_SAMPLES();
  std::string scratch = dumptest::ScratchDir("maps");
  size_t checked = 0;
  for (const fs::path& object : Samples(".d90")) {
    fs::path map = fs::path(object).replace_extension(".map");
    if (!fs::exists(map)) continue;
    SCOPED_TRACE(map.string());
    ToolRun nm = RunDump({object.string(), "--nm", "--json"}, scratch);
    ASSERT_EQ(nm.status, 0) << nm.err;
    std::set<std::pair<uint32_t, std::string>> listed;
    nlohmann::json doc = nlohmann::json::parse(nm.out);
    for (const auto& e : doc["nm"]) listed.emplace(e["address"], e["name"]);
    std::vector<std::string> lookup{object.string(), "--json", "--addr"};
    for (const auto& [name, address, code] : dumptest::MapEntries(map)) {
      std::string bare = std::regex_replace(name, std::regex(R"(\(.*\)$)"), "");
      std::string last =
          bare.substr(bare.rfind("::") == std::string::npos ? 0 : bare.rfind("::") + 2);
      EXPECT_TRUE(listed.count({address, name}) || listed.count({address, bare}) ||
                  listed.count({address, last}))
          << name << " at " << address;
      if (code) lookup.push_back(dump::Hex(address));
      ++checked;
    }
    ToolRun addr = RunDump(lookup, scratch);
    ASSERT_EQ(addr.status, 0) << addr.err;
    doc = nlohmann::json::parse(addr.out);
    for (const auto& a : doc["lookups"]["addresses"])
      EXPECT_TRUE(a["function"].is_object()) << "no function or label at " << a["address"];
  }
  EXPECT_GT(checked, 1000u);
}

TEST(DumpSamples, ForeignFilesAreRefusedWithAReason) {
  SKIP_WITHOUT_SAMPLES();
  std::string scratch = dumptest::ScratchDir("refused");
  const std::pair<const char*, const char*> refused[] = {
      {"not-ubrof/text_image.d43", "not a UBROF object file"}};
  for (const auto& [file, reason] : refused) {
    fs::path path = fs::path(MIRL_SAMPLES_DIR) / file;
    if (!fs::exists(path)) continue;
    ToolRun r = RunDump({path.string()}, scratch);
    EXPECT_EQ(r.status, 1) << file;
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
  }
}

// Speed is measured by the benchmarks; this checks that every view works
// on the largest real file.
TEST(DumpSamples, FullDumpOfTheLargestSample) {
  SKIP_WITHOUT_SAMPLES();
  std::vector<fs::path> all = Samples(".d90");
  std::string scratch = dumptest::ScratchDir("largest");
  fs::path largest;
  for (const fs::path& p : all) {
    if (p.parent_path().filename() == "newer-versions") continue;
    if (largest.empty() || fs::file_size(p) > fs::file_size(largest)) largest = p;
  }
  ASSERT_FALSE(largest.empty());
  // The embedded sources of a sample are extracted next to it; the samples
  // are read-only, so dump a copy.
  fs::path copy = fs::path(scratch) / largest.filename();
  fs::copy_file(largest, copy, fs::copy_options::overwrite_existing);
  ToolRun r = RunDump({"--all", copy.filename().string()}, scratch);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_GT(r.out.size(), 1000u);
}

}  // namespace
