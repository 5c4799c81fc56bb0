// ubrofdump --elf checked by the tools the export is for, over every
// sample and the example: the linker's own .hex and .map are the oracles,
// llvm-dwarfdump, readelf, addr2line and avr-gdb the readers. Each check
// skips, saying so, where its tool is not installed.
#include <gelf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <tuple>

#include "../../tools/dump/Format.h"
#include "../../tools/dump/IntelHex.h"
#include "MapFile.h"
#include "RunTool.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

struct Export {
  fs::path object, elf;
  Json doc;  // --lines --scopes --symbols --types
};

// The exports live in one folder, removed when the tests end.
std::string Scratch() {
  static const std::string dir = dumptest::ScratchDir("elf");
  return dir;
}

// Each sample and the example, exported once.
const std::vector<Export>& Exports() {
  static std::vector<Export> all = [] {
    std::vector<Export> out;
    std::vector<fs::path> objects{fs::path(MIRL_EXAMPLES_DIR) / "example.d90"};
    std::error_code ec;
    // The object files of every family; those the parser cannot read (not
    // UBROF, or newer than it reads) are left out below.
    for (const auto& f : fs::recursive_directory_iterator(MIRL_SAMPLES_DIR, ec))
      if (std::set<std::string>{".d90", ".d43", ".d51"}.count(f.path().extension().string()))
        objects.push_back(f.path());
    for (const fs::path& o : objects) {
      Export e{o,
               fs::path(Scratch()) /
                   (o.parent_path().filename().string() + "-" + o.stem().string() + ".elf"),
               {}};
      dumptest::ToolRun r = dumptest::RunDump({"--elf", e.elf.string(), "--lines", "--scopes",
                                               "--symbols", "--types", "--json", o.string()},
                                              Scratch());
      if (r.status == 0) e.doc = Json::parse(r.out), out.push_back(e);  // UBROF 10 not yet read
    }
    return out;
  }();
  return all;
}

// A shell command's status and its output, both streams together.
dumptest::ToolRun Shell(const std::string& command) {
  return dumptest::Run("(" + command + ") 2>&1", Scratch());
}

bool Have(const std::string& tool) { return Shell("command -v " + tool).status == 0; }

#define NEED(tool, package)                                                                      \
  if (!fs::is_directory(MIRL_SAMPLES_DIR)) GTEST_SKIP() << "no sample folder " MIRL_SAMPLES_DIR; \
  if (!Have(tool)) GTEST_SKIP() << tool " is not installed (Debian: " package ")"

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), ::tolower);
  return s;
}

std::string BaseName(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path.substr(path.rfind('/') + 1);
}

// The bytes of one section, read back with libelf.
std::vector<uint8_t> SectionBytes(const fs::path& elf, const std::string& name, uint32_t* pAddr) {
  std::vector<uint8_t> out;
  elf_version(EV_CURRENT);
  std::FILE* f = std::fopen(elf.c_str(), "rb");
  if (!f) return out;
  Elf* e = elf_begin(fileno(f), ELF_C_READ, nullptr);
  size_t strndx = 0;
  elf_getshdrstrndx(e, &strndx);
  for (Elf_Scn* s = nullptr; (s = elf_nextscn(e, s)) != nullptr;) {
    GElf_Shdr sh;
    gelf_getshdr(s, &sh);
    Elf_Data* d = elf_getdata(s, nullptr);
    if (name != elf_strptr(e, strndx, sh.sh_name) || !d || !d->d_buf) continue;
    out.assign(static_cast<uint8_t*>(d->d_buf), static_cast<uint8_t*>(d->d_buf) + d->d_size);
    *pAddr = uint32_t(sh.sh_addr);
  }
  elf_end(e);
  std::fclose(f);
  return out;
}

// --machine sets e_machine and where data memory goes: avr-gcc's 0x800000
// for AVR, the one address space of MSP430, 16 MiB for the others.
TEST(ElfExport, MachineChoosesTheMachineAndTheDataAddresses) {
  const struct {
    const char* name;
    uint16_t machine;
    uint32_t dataBase;
  } kCases[] = {{"avr", EM_AVR, 0x800000},
                {"msp430", EM_MSP430, 0},
                {"8051", 165, 0x1000000},
                {"none", EM_NONE, 0x1000000}};
  fs::path example = fs::path(MIRL_EXAMPLES_DIR) / "example.d90";
  dumptest::ToolRun memory = dumptest::RunDump({"--memory", "--json", example.string()}, Scratch());
  uint32_t low = Json::parse(memory.out)["memory"]["data"]["lowest"];
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    fs::path out = fs::path(Scratch()) / (std::string(c.name) + ".elf");
    ASSERT_EQ(
        dumptest::RunDump({"--elf", out.string(), "--machine", c.name, example.string()}, Scratch())
            .status,
        0);
    uint32_t address = 0;
    EXPECT_FALSE(SectionBytes(out, ".data", &address).empty());
    EXPECT_EQ(address, c.dataBase + low);
    std::string header = dumptest::Slurp(out.string());  // e_machine: bytes 18 and 19
    ASSERT_GT(header.size(), 19u);
    EXPECT_EQ(uint8_t(header[18]) | uint8_t(header[19]) << 8, c.machine);
  }
}

// objcopy writes the code where the ELF file loads it (banked 8051 code in
// flash order): what the linker's HEX output of the link gives at each address.
TEST(ElfExport, TextEqualsTheLinkersHexOutput) {
  NEED("objcopy", "binutils");
  int compared = 0;
  for (const Export& e : Exports()) {
    std::string stem = fs::path(e.object).replace_extension().string();
    fs::path hex = fs::exists(stem + ".hex") ? stem + ".hex" : stem + ".code.hex";
    if (fs::exists(stem + ".txt"))
      std::cout << stem << ".txt: an image of another link (docs/ubrof10.md), not compared\n";
    if (!fs::exists(hex)) continue;
    SCOPED_TRACE(e.object.string());
    std::map<uint32_t, uint8_t> linker = dumptest::ReadImage(hex);
    ASSERT_FALSE(linker.empty());
    Shell("objcopy -O ihex -j '.text*' " + dumptest::Quote(e.elf.string()) + " " +
          dumptest::Quote(e.elf.string() + ".hex"));
    std::map<uint32_t, uint8_t> exported = dumptest::ReadImage(e.elf.string() + ".hex");
    for (const auto& [address, byte] : linker)
      ASSERT_TRUE(exported.count(address) && exported[address] == byte) << "address " << address;
    ++compared;
  }
  EXPECT_GT(compared, 0);
}

// The readers' own checks: each names what it found wrong.
TEST(ElfExport, DwarfReadersFindNothingWrong) {
  NEED("llvm-dwarfdump", "llvm");
  for (const Export& e : Exports()) {
    SCOPED_TRACE(e.object.string());
    dumptest::ToolRun verify = Shell("llvm-dwarfdump --verify " + dumptest::Quote(e.elf.string()));
    EXPECT_EQ(verify.status, 0) << verify.out;
    EXPECT_NE(verify.out.find("No errors."), std::string::npos) << verify.out;
    dumptest::ToolRun dump =
        Shell("readelf --debug-dump=info,line " + dumptest::Quote(e.elf.string()));
    EXPECT_EQ(dump.status, 0);
    EXPECT_EQ(Lower(dump.out).find("warning"), std::string::npos);
  }
}

// addr2line on the ELF file and ubrofdump --addr (given the same options)
// on the object file name the same file and line at every statement
// address: by base name in any letter case, or, with remapped paths, by the
// whole path. Returns how many addresses both answered.
size_t CompareWithAddr2line(const Export& e, const std::vector<std::string>& options,
                            bool wholePath) {
  std::string list;
  for (const Json& st : e.doc["lines"])
    if (st["length"].get<uint32_t>() > 0)
      list += (list.empty() ? "" : ",") + dump::Fmt("%x", st["address"].get<uint32_t>());
  std::string name = e.object.parent_path().filename().string();
  if (list.empty()) return std::cout << name << ": no statements, nothing to compare\n", 0;
  std::vector<std::string> args{"--json", e.object.string(), "--addr", list};
  args.insert(args.end(), options.begin(), options.end());
  Json answers = Json::parse(dumptest::RunDump(args, Scratch()).out);
  std::replace(list.begin(), list.end(), ',', ' ');
  std::istringstream lines(
      Shell("addr2line -e " + dumptest::Quote(e.elf.string()) + " " + list).out);
  // Where statements share code (a common function tail, or ranges that
  // overlap), the line table holds them all and either tool may name any
  // of those that cover the address.
  std::vector<std::tuple<uint32_t, uint32_t, std::string>> all;
  for (const Json& st : e.doc["lines"])
    all.emplace_back(st["address"], st["length"],
                     Lower(BaseName(st["file"])) + ":" + std::to_string(st["line"].get<int>()));
  std::map<uint32_t, std::set<std::string>> shared;
  for (const auto& st : all)
    for (const auto& [address, length, key] : all)
      if (address <= std::get<0>(st) && std::get<0>(st) - address < length)
        shared[std::get<0>(st)].insert(key);
  size_t compared = 0;
  for (const Json& a : answers["lookups"]["addresses"]) {
    std::string answer;
    std::getline(lines, answer);
    if (!a.contains("file")) continue;  // no answer to compare with
    std::string file = a["file"], line = ":" + std::to_string(a["line"].get<int>());
    if (wholePath)
      EXPECT_EQ(answer, file + line) << "address " << a["address"];
    else if (shared[a["address"]].size() > 1)
      EXPECT_TRUE(shared[a["address"]].count(Lower(BaseName(answer)))) << answer;
    else
      EXPECT_EQ(Lower(BaseName(answer)), Lower(BaseName(file)) + line)
          << "address " << a["address"];
    ++compared;
  }
  std::cout << name << ": " << answers["lookups"]["addresses"].size() << " statement addresses, "
            << compared << " answered by ubrofdump --addr and compared\n";
  return compared;
}

TEST(ElfExport, Addr2lineAgreesWithUbrofdumpAtEveryStatement) {
  NEED("addr2line", "binutils");
  size_t compared = 0;
  for (const Export& e : Exports()) {
    SCOPED_TRACE(e.object.string());
    compared += CompareWithAddr2line(e, {}, false);
  }
  EXPECT_GT(compared, 0u);
}

// The paths --remap gives are the ones the export carries (and, being
// absolute, with the unit's comp_dir): addr2line prints them whole.
TEST(ElfExport, RemappedPathsAreWhatAddr2linePrints) {
  NEED("addr2line", "binutils");
  const std::vector<std::string> remap{"--remap", "C:\\proj\\blinky=/src/blinky"};
  Export e = Exports().front();  // the example
  e.elf = fs::path(Scratch()) / "remapped.elf";
  std::vector<std::string> args{"--elf", e.elf.string(), e.object.string()};
  args.insert(args.end(), remap.begin(), remap.end());
  ASSERT_EQ(dumptest::RunDump(args, Scratch()).status, 0);
  EXPECT_GT(CompareWithAddr2line(e, remap, true), 0u);
}

// avr-gdb on the AVR exports: lines, breakpoints, struct types and the
// map's data addresses.
TEST(ElfExport, AvrGdbFindsLinesFunctionsTypesAndVariables) {
  NEED("avr-gdb", "gdb-avr");
  size_t checks = 0;
  for (const Export& e : Exports()) {
    uint32_t at;
    if (SectionBytes(e.elf, ".mmcu", &at).empty()) continue;  // not an AVR program
    SCOPED_TRACE(e.object.string());
    // Each question with the answers that are right.
    std::vector<std::pair<std::string, std::function<bool(const std::string&)>>> asks;
    // A line whose code another line shares has no row of its own.
    std::map<std::string, std::set<uint32_t>> lineAddresses;
    std::map<uint32_t, int> statementsAt;
    for (const Json& st : e.doc["lines"]) {
      lineAddresses[BaseName(st["file"]) + ":" + std::to_string(st["line"].get<int>())].insert(
          st["address"].get<uint32_t>());
      ++statementsAt[st["address"]];
    }
    for (const auto& [where, at] : lineAddresses)
      if (std::any_of(at.begin(), at.end(), [&](uint32_t a) { return statementsAt[a] == 1; }))
        asks.emplace_back("info line " + where, [at = at](const std::string& out) {
          std::smatch m;
          return std::regex_search(out, m, std::regex("starts at address (0x[0-9a-f]+)")) &&
                 at.count(std::stoul(m[1], nullptr, 16));
        });
    // A function's code: from its symbol (before the scope's prologue) to
    // the end of its scope.
    std::map<std::string, int> named;
    std::map<std::pair<Json, std::string>, uint32_t> entry;
    for (const Json& s : e.doc["scopes"]) named[s["name"]]++;
    for (const Json& s : e.doc["symbols"])
      if (s["location"].value("memory", "") == "program")
        entry[{s["scope"], s["name"]}] = s["location"]["address"];
    for (const Json& s : e.doc["scopes"]) {
      if (s["kind"] != "function" || s["low"].is_null() || named[s["name"]] != 1) continue;
      auto symbol = entry.find({s["parent"], s["name"]});
      uint32_t low =
          std::min(s["low"].get<uint32_t>(), symbol == entry.end() ? ~0u : symbol->second);
      asks.emplace_back(
          "break " + s["name"].get<std::string>(),
          [low, high = s["high"].get<uint32_t>()](const std::string& out) {
            std::smatch m;
            return std::regex_search(out, m, std::regex("Breakpoint \\d+ at (0x[0-9a-f]+)")) &&
                   std::stoul(m[1], nullptr, 16) >= low && std::stoul(m[1], nullptr, 16) < high;
          });
    }
    // The members of each struct name; not asked where two structs differ.
    std::map<std::string, std::set<std::set<std::string>>> members;
    for (const Json& t : e.doc["types"])
      if (t.contains("members") && !t["members"].empty()) {
        std::set<std::string> names;
        for (const Json& m : t["members"]) names.insert(m["name"]);
        members[t["name"]].insert(names);
      }
    // Names gdb could take for another: of scopes and of other symbols.
    for (const Json& s : e.doc["symbols"]) named[s["name"]]++;
    for (const Json& s : e.doc["symbols"]) {
      // A struct, or an array of them ("struct TChannelRemap[24]").
      std::string type = s["type"]["name"];
      type = type.substr(0, type.find('['));
      if (members[type].size() == 1 && named[s["name"]] == 1 &&
          s["scope_path"].get<std::string>().find('/') == std::string::npos)
        asks.emplace_back("ptype " + s["name"].get<std::string>(), [m = *members[type].begin()](
                                                                       const std::string& out) {
          std::regex word("\\w+");  // "*mName;" names mName
          std::set<std::string> words(std::sregex_token_iterator(out.begin(), out.end(), word),
                                      std::sregex_token_iterator());
          return std::includes(words.begin(), words.end(), m.begin(), m.end());
        });
    }
    fs::path map = fs::path(e.object).replace_extension(".map");
    std::map<std::string, std::vector<uint32_t>> data;
    if (fs::exists(map))
      for (const auto& [name, address, code] : dumptest::MapEntries(map, "DATA"))
        if (code) data[name.substr(name.rfind(':') + 1)].push_back(address);  // npos + 1 is 0
    for (const auto& [name, at] : data)
      if (at.size() == 1)
        asks.emplace_back("print &'" + name + "'", [a = at[0]](const std::string& out) {
          std::smatch m;
          return std::regex_search(out, m, std::regex(" (0x[0-9a-f]+)")) &&
                 std::stoul(m[1], nullptr, 16) == 0x800000u + a;
        });
    // One -ex each: a question gdb refuses does not end the others.
    std::string command = "avr-gdb -batch -nx " + dumptest::Quote(e.elf.string());
    for (const auto& ask : asks)
      command += " -ex " + dumptest::Quote(ask.first) + " -ex 'echo @@\\n'";
    dumptest::ToolRun gdb = Shell(command);
    std::vector<std::string> answers{""};
    std::istringstream out(gdb.out);
    for (std::string line; std::getline(out, line);)
      line == "@@" ? answers.emplace_back() : answers.back().append(line + "\n");
    ASSERT_GE(answers.size(), asks.size());
    std::map<std::string, int> kinds;
    for (size_t i = 0; i < asks.size(); ++i, ++checks) {
      EXPECT_TRUE(asks[i].second(answers[i])) << asks[i].first << " answered:\n" << answers[i];
      kinds[asks[i].first.substr(0, asks[i].first.find(' '))]++;
    }
    std::cout << e.object.parent_path().filename().string() << ":";
    for (const auto& [kind, n] : kinds) std::cout << " " << n << " " << kind;
    std::cout << "\n";
  }
  EXPECT_GT(checks, 0u);
}

}  // namespace
