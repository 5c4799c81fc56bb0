// The name index of the symbol searches must answer exactly as the scans of
// the symbol lists do: the same symbol, the same scope, the same first match
// among duplicates, across segment groups, hidden and nested modules and
// symbols that are never found by name. Each case asks both ways.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"

#ifndef MIRL_SAMPLES_DIR
#define MIRL_SAMPLES_DIR ""
#endif

using namespace mirl;
using testsupport::Component;

namespace {

// Tables of the test's own, filled by a CParser and never indexed, so that
// their searches scan the symbol lists.
struct ScannedTables : testsupport::OwnTables {
  explicit ScannedTables(const std::string& path) { CParser(Get()).ParseFile(path.c_str()); }
};

// The component's indexed answers against the scans over the same file:
// the outward search from every scope and the whole-program search
// (LookupSymbolName), and the single-scope search (LookupDie of a variable),
// for the given names and the name of every stride-th symbol.
void ExpectSameAnswers(Component& c, std::vector<std::string> names, size_t stride) {
  const api::Program p = c.Program();
  ScannedTables t(c.Path());
  const std::vector<api::Symbol> symbols = p.Symbols();
  ASSERT_EQ(symbols.size(), t.symbols.Count());
  for (size_t i = 0; i < symbols.size(); i += stride) names.push_back(symbols[i].name);
  const uint32_t scopes = p.Count().scopes;
  ASSERT_EQ(scopes, t.scopes.Count());
  size_t found = 0;
  for (const std::string& full : names) {
    const std::string name = full.substr(0, kMaxNameLength);
    for (uint32_t from = 0; from <= scopes; ++from) {
      const bool global = from == scopes;
      uint32_t scope = 7, scannedScope = 7;
      uint32_t id = p.FindSymbol(full, global ? 0 : from, global, &scope);
      uint32_t scanned = t.symbols.FindSymbol(t.scopes, global ? kNone : from, name, &scannedScope);
      found += scanned != kNone;
      EXPECT_EQ(std::make_pair(id, scope), std::make_pair(scanned, scannedScope))
          << "'" << name.substr(0, 20) << "' from " << from;
      if (global || name.empty()) continue;  // LookupDie names nothing by ""
      LONG die = -1;
      EXPECT_EQ(c.P3()->LookupDie(LONG(from + 1), testsupport::Bstr(name).get(), 0x34, &die), S_OK);
      uint32_t inScope = t.symbols.FindSymbolInScope(t.scopes, from, name);
      EXPECT_EQ(die, inScope == kNone ? 0 : LONG(scopes + inScope + 1))
          << "'" << name.substr(0, 20) << "' in " << from;
    }
  }
  EXPECT_GT(found, names.size()) << "the questions found too little to compare";
}

TEST(SymbolNameIndex, RealFilesAnswerAsTheScansDo) {
  namespace fs = std::filesystem;
  const std::string dir = MIRL_SAMPLES_DIR;
  if (dir.empty() || !fs::is_directory(dir))
    GTEST_SKIP() << "real sample files not available: folder '" << dir << "' is absent";
  for (const char* file : {"mvsn21-4a7f62886e/Mvsn21.d90", "rx_osv1/rx_OSv1.d90"}) {
    SCOPED_TRACE(file);
    Component c;
    ASSERT_EQ(c.ParsePath(dir + "/" + file), S_OK);
    ExpectSameAnswers(c, {"missing"}, 5);
  }
}

}  // namespace
