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

TEST(SymbolNameIndex, AnswersAsTheScansDo) {
  const std::string longName(1200, 'L');
  ubrofw::Writer w;
  w.Start();
  // Names made ahead (indices 0 and 1): one longer than any name the
  // searches compare, and a prefixed name that gets an alias.
  w.ScopedName1(longName, kNone).ScopedName1("_A_port", kNone);
  // Module A: its own symbols, a duplicate (the first one wins), and group
  // references, one to a group that only a later module creates.
  w.BegPgm("A").SymbolDef(1, 0, 0x10, "shared", 0).SymbolDef(1, 0, 0x12, "a_only", 0);
  w.SymbolDef(1, 0, 0x14, "dup", 0).SymbolDef(2, 0, 0x16, "dup", 0).GrpRef(0);
  w.SymbolDef(9, 0, 0x18, "never", 0).SymbolDef(1, 0, 0x1A, "", 0).SymbolDef2(1, 0, 0, 0, 0);
  w.SymbolDef2(2, 2, 0x1C, 1, 9).SubDefObjAttr(1).SymbolDef(1, 0, 0x1E, "port", 0);
  w.FuncBegin1("fa", {{1, 2, 0x100, "shared", 6, {}}, {6, 0, 0, "typedef6", 6, {}}});
  w.GrpRef(7).GrpRef(2);
  w.BlockBegin1({{1, 2, 0x102, "inner", 6, {}}}).BlockEnd().BlockEnd();
  w.Grp(0).SymbolDef(1, 0, 0x20, "grp0", 0).SymbolDef(1, 0, 0x22, "shared", 0);
  w.End();
  // Module B: a group with a symbol also in A's group, and local names.
  w.BegPgm("B").SymbolDef(1, 0, 0x30, "b_only", 0).GrpRef(2).GrpRef(0);
  w.FuncBegin1("fb", {{1, 2, 0x200, "dup", 6, {}}}).BlockEnd();
  w.Grp(2).SymbolDef(1, 0, 0x40, "grp2", 0).SymbolDef(1, 0, 0x42, "grp0", 0);
  w.SymbolDef(2, 0, 0x44, "grp2", 0);
  w.SymbolDef(6, 0, 0, "never", 0);
  w.End();
  // A hidden library module, and a module ended by t_end_abs with a module
  // nested inside it.
  w.BegLib("?lib").SymbolDef(1, 0, 0x50, "shared", 0).SymbolDef(1, 0, 0x52, "exit", 0).End();
  w.BegPgm("C").SymbolDef(1, 0, 0x60, "c_only", 0).EndAbs();
  w.BegPgm("D").SymbolDef(1, 0, 0x70, "nested", 0).SymbolDef(1, 0, 0x72, "a_only", 0);
  w.FuncBegin1("fd", {{1, 2, 0x300, "nested", 6, {}}}).BlockEnd().End();
  w.BegPgm("E").GrpRef(2).SymbolDef(1, 0, 0x80, "e_only", 0).End();
  w.Finish();

  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  ExpectSameAnswers(c, {"missing", longName, longName.substr(0, 999), "block3", "fa"}, 1);
}

TEST(SymbolNameIndex, TablesChangedAfterIndexingAreScanned) {
  ubrofw::Writer w;
  w.Start().BegPgm("M").SymbolDef(1, 0, 0x10, "first", 0).End().Finish();
  std::string path = testsupport::UniquePath("index");
  ASSERT_TRUE(w.Save(path));
  ScannedTables t(path);
  t.symbols.BuildNameIndex(t.scopes);
  // A symbol added after the index was built is still found.
  uint32_t name = t.names.AddName(kNameSymbol, kSubNone, "later", t.symbols.Count(), kNone);
  t.scopes.Scopes[0].Symbols.push_back(t.symbols.Count());
  t.symbols.AddSymbol(1, 0, 0x20, name, 0);
  uint32_t scope = 0;
  EXPECT_EQ(t.symbols.FindSymbol(t.scopes, kNone, "later", &scope), 1u);
  EXPECT_EQ(t.symbols.FindSymbol(t.scopes, kNone, "first", &scope), 0u);
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
