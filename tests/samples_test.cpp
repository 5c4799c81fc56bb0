// Acceptance on real object files: linked debug outputs of a UBROF toolchain
// from the shared samples folder, read through the interfaces: every table
// answers and agrees with itself. The samples are read where they lie; every
// test skips when the folder is absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"

#ifndef MIRL_SAMPLES_DIR
#define MIRL_SAMPLES_DIR ""
#endif

namespace fs = std::filesystem;
using testsupport::MessageCapture;

namespace {

const std::string kSamplesDir = MIRL_SAMPLES_DIR;

#define SKIP_WITHOUT_SAMPLES()                                               \
  if (kSamplesDir.empty() || !fs::is_directory(kSamplesDir))                 \
  GTEST_SKIP() << "real sample files not available: folder '" << kSamplesDir \
               << "' is absent (tests on real object files need the shared samples)"

// The UBROF 8.0.2 samples. (Their memory and entries are checked against the
// linker's .hex and .map through ubrofdump, in tests/dump/samples_test.cpp.)
struct Sample {
  const char* folder;
  const char* stem;  // file name without extension
};

const Sample kSamples[] = {
    {"rx_osv1", "rx_OSv1"},          {"emi198810", "EMI198810"},
    {"mvsn21-4a7f62886e", "Mvsn21"}, {"mvsn21-31eb661d07", "Mvsn21"},
    {"mvsn21-e1570e485b", "Mvsn21"}, {"mvsn21-07c93383d6", "Mvsn21"},
    {"mvsn21-fbae9227a7", "Mvsn21"}, {"mvds9-7adcb93765", "Mvds9"},
};

// Names the sample in failure messages instead of dumping its bytes.
void PrintTo(const Sample& s, std::ostream* os) { *os << s.folder << "/" << s.stem; }

std::string SamplePath(const Sample& s, const char* ext) {
  return kSamplesDir + "/" + s.folder + "/" + s.stem + ext;
}

// ---- The fixture: one parsed sample ----------------------------------------------
class RealFile : public ::testing::TestWithParam<Sample> {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_SAMPLES();
    const std::string path = SamplePath(GetParam(), ".d90");
    ASSERT_TRUE(fs::exists(path)) << path << " is listed among the samples but missing";
    ASSERT_EQ(c_.ParsePath(path), S_OK) << path;
    ULONG blocks = 0;
    ASSERT_EQ(c_->GetMemoryInfo(1, &low_, &high_, &blocks), S_OK);
    ASSERT_LE(low_, high_) << "a linked program has code";
  }

  Component c_;
  ULONG low_ = 0, high_ = 0;  // program-memory bounds as the host sees them
};

std::string SampleName(const ::testing::TestParamInfo<Sample>& info) {
  std::string s = info.param.folder;
  for (char& ch : s)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return s;
}

INSTANTIATE_TEST_SUITE_P(Samples, RealFile, ::testing::ValuesIn(kSamples), SampleName);

// ---- Every table answers ---------------------------------------------------------

TEST_P(RealFile, EveryEnumerationAnswersUpToItsCount) {
  IMirlParser* c = c_.Itf();
  IMirlParser3* p3 = c_.P3();
  const mirl::api::Program prog = c_.Program();
  const mirl::api::Counts n = prog.Count();
  auto hidden = [&](ULONG id) {
    mirl::api::Scope s;
    return prog.GetScope(id, &s) && s.hidden;
  };
  // Scopes: every id answers, one beyond fails; a scope with code lies in
  // program memory.
  const ULONG scopes = n.scopes;
  ASSERT_GT(scopes, 0u);
  std::vector<ULONG> start(scopes + 1), size(scopes + 1);
  for (ULONG id = 0; id <= scopes; ++id) {
    Bstr name, full;
    ULONG kind = 0, first = 0;
    ASSERT_EQ(c->GetScopeInfo(id, &name, &full, &kind, &start[id], &size[id], &first),
              id < scopes ? S_OK : PARSER_E_BAD_ID)
        << id;
    EXPECT_TRUE(id == scopes || (kind >= 1 && kind <= 3)) << id;
    if (id < scopes && start[id] != 0xFFFFFFFF) {
      EXPECT_LE(low_, start[id]) << "scope " << id;
      EXPECT_LE(start[id] + size[id] - 1, high_) << "scope " << id;
    }
  }
  // The tree reached from the root lists every scope exactly once, apart
  // from the hidden (library) modules that only the root listing leaves
  // out; a closed scope's code lies inside its parent's.
  std::vector<unsigned> seen(scopes, 0);
  std::vector<ULONG> work = {0xFFFFFFFF};
  for (ULONG root : prog.RootScopes())
    if (hidden(root)) {
      ++seen[root];
      work.push_back(root);
    }
  while (!work.empty()) {
    const ULONG parent = work.back();
    work.pop_back();
    ULONG count = 0, *ids = nullptr;
    ASSERT_EQ(c->EnumSubScopes(parent, &count, &ids), S_OK);
    for (ULONG i = 0; i < count; ++i) {
      const ULONG child = ids[i];
      ASSERT_LT(child, scopes);
      ++seen[child];
      work.push_back(child);
      if (parent != 0xFFFFFFFF && start[child] != 0xFFFFFFFF) {
        EXPECT_LE(start[parent], start[child]) << "scope " << child << " in " << parent;
        EXPECT_LE(start[child] + size[child], start[parent] + size[parent])
            << "scope " << child << " in " << parent;
      }
    }
    CoTaskMemFree(ids);
  }
  for (ULONG id = 0; id < scopes; ++id) EXPECT_EQ(seen[id], 1u) << "scope " << id;

  // Symbols: name, type and location for every id.
  const ULONG symbols = n.symbols;
  ASSERT_GT(symbols, 0u);
  for (ULONG id = 0; id <= symbols; ++id) {
    Bstr name;
    ULONG nameIndex = 0, type = 0, address = 0;
    unsigned char kind = 0, mem = 0;
    ASSERT_EQ(c->GetSymbolInfo(id, &name, &nameIndex, &type), id < symbols ? S_OK : PARSER_E_BAD_ID)
        << id;
    if (id == symbols) break;
    ASSERT_EQ(c->GetSymbolLocation(id, 0xFFFFFFFF, &kind, &address, &mem), S_OK) << id;
    ASSERT_EQ(c->GetSymbolLocation(id, low_, &kind, &address, &mem), S_OK) << id;
    EXPECT_LE(kind, 4) << id;
  }

  // Statements: type bytes carry bit 0 and nothing above bit 2.
  const ULONG statements = n.statements;
  ASSERT_GT(statements, 0u);
  for (ULONG id = 0; id <= statements; ++id) {
    ULONG address = 0;
    unsigned char type = 0;
    ASSERT_EQ(c->EnumHLStatements(id, &address, &type), id < statements ? S_OK : PARSER_E_BAD_ID)
        << id;
    EXPECT_EQ(type & ~0x06, id < statements ? 0x01 : 0) << id;
  }

  // Types: every id has a name and attributes; structures list their members.
  const ULONG types = n.types;
  for (ULONG id = 0; id <= types; ++id) {
    Bstr name;
    ULONG sz = 0, spec = 0, elements = 0, ptr = 0, ref = 0, refMem = 0;
    unsigned char mem = 0;
    ASSERT_EQ(c->GetTypeInfo(id, &name, &sz, &spec, &elements, &mem, &ptr),
              id < types ? S_OK : PARSER_E_BAD_ID)
        << id;
    if (id == types) break;
    HRESULT hr = c->GetRefferedType(id, &ref, &refMem);
    EXPECT_TRUE(hr == E_FAIL || (hr == S_OK && ref < types)) << id;
    mirl::api::Type t;
    ASSERT_TRUE(prog.GetType(id, &t));
    const uint32_t typeKind = t.kind;
    for (ULONG m = 0; (typeKind == 17 || typeKind == 18 || typeKind == 52) && m < elements; ++m) {
      Bstr member;  // a structure, union or class
      ULONG memberType = 0, offset = 0;
      EXPECT_EQ(c->GetStructuralMember(id, &member, m, &memberType, &offset), S_OK)
          << id << "." << m;
    }
  }

  // Source files.
  const ULONG files = n.sourceFiles;
  ASSERT_GT(files, 0u);
  for (ULONG id = 0; id <= files; ++id) {
    Bstr path;
    DATE stamp = 0;
    unsigned char language = 0, temporary = 0;
    EXPECT_EQ(c->GetSourceFileInfo(id, &path, &stamp, &language, &temporary),
              id < files ? S_OK : PARSER_E_BAD_ID)
        << id;
    EXPECT_EQ(path.str().empty(), id == files) << id;
  }

  // Dies: the walk from the root's modules, and from the hidden (library)
  // modules it leaves out, reaches every scope once.
  std::vector<unsigned> dieSeen(scopes + symbols + 1, 0);
  std::vector<LONG> dieWork = c_.Dies(0, 0x11);
  for (ULONG root : prog.RootScopes()) {
    bool listed = std::find(dieWork.begin(), dieWork.end(), LONG(root + 1)) != dieWork.end();
    EXPECT_NE(listed, hidden(root)) << "module " << root;
    if (!listed) dieWork.push_back(LONG(root + 1));
  }
  while (!dieWork.empty()) {
    const LONG die = dieWork.back();
    dieWork.pop_back();
    ASSERT_GT(die, 0);
    ASSERT_LE(ULONG(die), scopes + symbols);
    ++dieSeen[die];
    LONG tag = -1;
    EXPECT_EQ(p3->GetTag(die, &tag), S_OK);
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(p3->GetAttr(die, 0x03, &v), S_OK) << die;
    EXPECT_EQ(v.vt, VT_BSTR) << die;
    VariantClear(&v);
    if (ULONG(die) <= scopes) {
      EXPECT_EQ(p3->GetAttr(die, 0x4000, &v), S_OK);
      EXPECT_EQ(v.lVal, die - 1);
      for (LONG child : c_.Dies(die, 0)) dieWork.push_back(child);
    }
  }
  for (ULONG id = 0; id < scopes; ++id) EXPECT_EQ(dieSeen[id + 1], 1u) << "scope die " << id + 1;
  std::vector<LONG> rootSymbols = c_.Dies(0, 0x34);
  EXPECT_EQ(std::set<LONG>(rootSymbols.begin(), rootSymbols.end()).size(), rootSymbols.size());
  for (LONG die : rootSymbols) EXPECT_GT(ULONG(die), scopes);
}

// ---- Statements and the address/line lookups ---------------------------------------

TEST_P(RealFile, StatementsLieInProgramMemoryAndMapBackToThemselves) {
  IMirlParser* c = c_.Itf();
  const mirl::api::Program prog = c_.Program();
  const std::vector<mirl::api::Statement> stats = prog.Statements();
  const std::vector<mirl::api::StatementRun> runs = prog.StatementRuns();
  const std::vector<mirl::api::SourceFile> files = prog.SourceFiles();
  auto end = [&](uint32_t id) { return stats[id].address + stats[id].length; };
  auto runEnd = [&](uint32_t r) { return end(runs[r].first + runs[r].count - 1); };

  size_t self = 0;
  for (uint32_t id = 0; id < stats.size(); ++id) {
    const mirl::api::Statement& s = stats[id];
    SCOPED_TRACE("statement " + std::to_string(id));
    ASSERT_NE(s.run, mirl::api::kNoId);
    EXPECT_LE(low_, s.address);
    EXPECT_LE((s.length ? end(id) - 1 : s.address), high_);

    BSTR path = nullptr;
    ULONG line = 0, col = 0, lineEnd = 0, colEnd = 0, startOut = 0;
    HRESULT hr =
        c->GetSourceFromProgMemAddress(s.address, &path, &line, &col, &lineEnd, &colEnd, &startOut);
    std::string file = platform::BstrToAnsi(path);
    SysFreeString(path);
    if (s.length == 0) {
      // A statement without code covers no address; whatever answers there
      // is another statement that does.
      bool other = hr != S_OK;
      for (uint32_t k = 0; k < stats.size(); ++k)
        other |= k != id && stats[k].address == startOut && stats[k].line == line &&
                 startOut <= s.address && s.address < end(k);
      EXPECT_TRUE(other);
      continue;
    }

    // The innermost scope at the address is the scope whose run holds the
    // statement: only that scope's runs are searched.
    ULONG scope = 0;
    ASSERT_EQ(c->GetScopeFromProgMemAddress(s.address, 0, &scope), S_OK);
    mirl::api::Scope owner;
    ASSERT_TRUE(prog.GetScope(scope, &owner));
    const std::vector<uint32_t>& scopeRuns = owner.statementRuns;
    ASSERT_NE(std::find(scopeRuns.begin(), scopeRuns.end(), s.run), scopeRuns.end())
        << "run " << s.run << " is not a run of scope " << scope;

    // Which statement answers. A run is passed over when its last statement
    // ends below the address (the cheap test assumes ascending addresses), so
    // a statement followed in its run by code placed lower (an interrupt
    // vector, say) is not found through its run. Among the statements of the
    // scope's other runs, the first run and lowest id covering the address
    // wins; runs of one scope are begun in id order, so that is the lowest
    // covering id.
    uint32_t expected = mirl::api::kNoId;
    for (uint32_t r : scopeRuns) {
      if (runs[r].count == 0 || runEnd(r) < s.address) continue;
      for (uint32_t k = runs[r].first; k < runs[r].first + runs[r].count; ++k)
        if (stats[k].address <= s.address && s.address < end(k)) expected = std::min(expected, k);
    }
    if (expected == mirl::api::kNoId) {
      EXPECT_EQ(hr, E_FAIL);
      EXPECT_LT(runEnd(s.run), s.address) << "only a passed-over run explains a miss";
      continue;
    }
    ASSERT_EQ(hr, S_OK);
    const mirl::api::Statement& t = stats[expected];
    EXPECT_EQ(std::make_tuple(startOut, line, col, lineEnd, colEnd),
              std::make_tuple(t.address, t.line, t.column, t.lineEnd, t.columnEnd));
    ASSERT_LT(t.file, files.size());
    EXPECT_EQ(file, files[t.file].path);
    self += expected == id;

    // Back from the source line: some statement of that file covering the
    // line answers, at its own address.
    Bstr stored(file);
    ULONG address = 0;
    ASSERT_EQ(c->GetProgMemAddressFromSource(&stored, s.line, 0, &address), S_OK);
    bool covered = false;
    ASSERT_LT(s.file, files.size());
    for (uint32_t r : files[s.file].statementRuns)
      for (uint32_t k = runs[r].first; k < runs[r].first + runs[r].count; ++k)
        covered |=
            stats[k].address == address && stats[k].line <= s.line && s.line <= stats[k].lineEnd;
    EXPECT_TRUE(covered) << "line " << s.line << " answered 0x" << std::hex << address;
  }
  // The exceptions are few: almost every statement maps back to itself.
  EXPECT_GE(self, stats.size() * 3 / 4);
}

// ---- Files the component must refuse ---------------------------------------------

TEST(RealFileRefused, NewerVersionsAfterTheirTimeOfBuildAndFilesThatAreNotUbrof) {
  SKIP_WITHOUT_SAMPLES();
  const struct {
    const char* file;
    uint8_t revision;  // 0: not UBROF at all
    double date;       // 2016-05-16 19:02:43 and 2019-06-04 21:16:32, counted by hand
  } cases[] = {
      {"newer-versions/ThermoRelay_iar.d90", 2, 42506.0 + (19 * 3600 + 2 * 60 + 43) / 86400.0},
      {"newer-versions/flowing_lights.d43", 6, 43620.0 + (21 * 3600 + 16 * 60 + 32) / 86400.0},
      {"not-ubrof/text_image.d43", 0, 0},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.file);
    const std::string path = kSamplesDir + "/" + k.file;
    ASSERT_TRUE(fs::exists(path));
    MessageCapture capture;
    Component c;
    ASSERT_EQ(c->Init(0), S_OK);
    // A newer file starts like any UBROF file; its version record refuses
    // it, after the time of build was read and with the version message.
    Bstr b(path);
    EXPECT_EQ(c->ValidateObjectFile(&b), k.revision ? S_OK : PARSER_E_INVALID_FILE);
    EXPECT_EQ(c.ParsePath(path), PARSER_E_INVALID_FILE);
    EXPECT_EQ(MessageCapture::count, k.revision ? 1 : 0);
    const mirl::api::Program prog = c.Program();
    EXPECT_FALSE(prog.Parsed());
    ULONG lo = 0, hi = 0, blocks = 0;
    EXPECT_EQ(c->GetMemoryInfo(1, &lo, &hi, &blocks), PARSER_E_NOT_PARSED);
    if (k.revision) {
      EXPECT_NE(MessageCapture::lastText.find("UBROF8 or earlier"), std::string::npos);
      EXPECT_EQ(prog.Count().scopes + prog.Count().symbols, 0u);
      EXPECT_EQ(prog.File().version, 10u);
      EXPECT_EQ(prog.File().revision, k.revision);
      EXPECT_NEAR(prog.File().timeOfBuild, k.date, 1e-9);
    }
  }
}

}  // namespace

// ---- The name index against plain scans -----------------------------------------------
TEST_P(RealFile, NameIndexAnswersAsTheScansDo) {
  testsupport::ExpectIndexAnswersAsScans(c_, SamplePath(GetParam(), ".d90"), 10);
}
