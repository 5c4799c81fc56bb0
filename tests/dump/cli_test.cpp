// ubrofdump as a person runs it: error messages for files it cannot use,
// the command line, JSON output, lookups and exports, checked against what
// the fixtures were built from.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "../../tools/dump/IntelHex.h"
#include "Fixtures.h"
#include "MapFile.h"
#include "RunTool.h"

using dumptest::RunDump;
using dumptest::ToolRun;
using Json = nlohmann::json;

namespace {

struct DumpCli : ::testing::Test {
  static std::string dir;
  static void SetUpTestSuite() {
    dir = dumptest::ScratchDir("cli");
    ASSERT_TRUE(dumpfix::Edges().Save(dir + "/edges.d90"));
    ASSERT_TRUE(dumpfix::Eeprom().Save(dir + "/eeprom.d90"));
  }
  static std::string Save(const ubrofw::Writer& w, const std::string& name) {
    EXPECT_TRUE(w.Save(dir + "/" + name));
    return name;
  }
  static Json JsonOf(const ToolRun& r) {
    Json j = Json::parse(r.out, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << r.out;
    return j;
  }
};
std::string DumpCli::dir;

// ---------------------------------------------------------------------------
// The command line: mistakes exit with 2 before the file is read.
// ---------------------------------------------------------------------------
TEST_F(DumpCli, WrongArgumentsExitWithTwo) {
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"--addr", "xyz", "edges.d90"},
      {"edges.d90", "--range", "10:10"},
      {"edges.d90", "--range", "0+5000000"},
      {"edges.d90", "--line", "edges.c"},
      {"edges.d90", "--line", "edges.c:0"},
      {"edges.d90", "--memory-type", "flash", "--range", "0+1"},
      {"edges.d90", "--remap", "=x"},
      {"edges.d90", "--no-such-option"},
  };
  for (const auto& args : wrong) {
    ToolRun r = RunDump(args, dir);
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    EXPECT_EQ(r.status, 2) << shown << "\n" << r.err;
    EXPECT_FALSE(r.err.empty()) << shown;
    EXPECT_EQ(r.out.find("File:"), std::string::npos) << shown;
  }
  ToolRun help = RunDump({"--help"}, dir);
  EXPECT_EQ(help.status, 0);
  for (const char* option : {"--all", "--addr", "--line", "--symbol", "--ihex", "--eeprom-ihex",
                             "--bin", "--remap", "--base-dir", "--json", "--range", "Examples:"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

TEST_F(DumpCli, RawImageRunsFromTheLowestToTheHighestAddress) {
  // (The eeprom image has an Intel HEX export of its own.)
  ToolRun r = RunDump({"eeprom.d90", "--eeprom-ihex", "e.hex"}, dir);
  EXPECT_EQ(dumptest::ReadImage(dir + "/e.hex"),
            dumpfix::Expected(dumpfix::EepromWrites(), 4, true));
  r = RunDump({"edges.d90", "--bin", "edges.bin", "--json"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string bin = dumptest::Slurp(dir + "/edges.bin");
  std::map<uint32_t, uint8_t> expected = dumpfix::Expected(dumpfix::EdgesWrites(), 1, false);
  ASSERT_EQ(bin.size(), size_t(expected.rbegin()->first - expected.begin()->first + 1));
  size_t unwritten = 0;
  for (size_t i = 0; i < bin.size(); ++i) {
    auto it = expected.find(uint32_t(expected.begin()->first + i));
    if (it == expected.end()) {
      ++unwritten;
      EXPECT_EQ(uint8_t(bin[i]), 0xFF) << "gaps read as the fill value, at " << i;
    } else {
      EXPECT_EQ(uint8_t(bin[i]), it->second) << i;
    }
  }
  EXPECT_EQ(unwritten, bin.size() - expected.size());
  Json e = JsonOf(r)["exports"];
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0]["format"], "binary");
  EXPECT_EQ(e[0]["bytes"], bin.size());
}

}  // namespace
