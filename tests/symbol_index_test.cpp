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

struct Answer {
  uint32_t id;
  uint32_t scope;
  bool operator==(const Answer& o) const { return id == o.id && scope == o.scope; }
};

// Every search from every starting point (global, each scope, one beyond),
// and the single-scope search in every scope.
std::vector<Answer> AskAll(CMirlParserUbrof* c, const std::vector<std::string>& names) {
  std::vector<Answer> out;
  const SymbolTable& t = c->m_SymbolTable;
  const ScopeTable& s = c->m_ScopeTable;
  for (const std::string& name : names) {
    for (uint32_t start = 0; start <= s.Count() + 1; ++start) {
      uint32_t from = start == s.Count() + 1 ? kNone : start;
      Answer a;
      a.id = t.FindSymbol(s, from, name, &a.scope);
      out.push_back(a);
      out.push_back({t.FindSymbolInScope(s, from, name), 0});
    }
  }
  return out;
}

// Compares the indexed answers with those of the scans over the same tables.
// Asks for the given names and for the name of every stride-th symbol.
void ExpectSameAnswers(CMirlParserUbrof* c, std::vector<std::string> names, size_t stride) {
  const auto& symbols = c->m_SymbolTable.Symbols;
  for (size_t i = 0; i < symbols.size(); i += stride)
    names.push_back(c->m_NameTable.GetName(symbols[i].NameIndex));
  ASSERT_TRUE(c->m_SymbolTable.m_NameIndex.Matches(c->m_SymbolTable, c->m_ScopeTable))
      << "the parse did not leave an index";
  std::vector<Answer> indexed = AskAll(c, names);
  c->m_SymbolTable.m_NameIndex = SymbolNameIndex();  // the searches scan again
  std::vector<Answer> scanned = AskAll(c, names);
  ASSERT_EQ(indexed.size(), scanned.size());
  size_t found = 0;
  for (size_t i = 0; i < indexed.size(); ++i) {
    found += scanned[i].id != kNone;
    if (!(indexed[i] == scanned[i]))
      ADD_FAILURE() << "question " << i << ": indexed " << indexed[i].id << "/" << indexed[i].scope
                    << ", scanned " << scanned[i].id << "/" << scanned[i].scope;
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
  ExpectSameAnswers(c.get(), {"missing", longName, longName.substr(0, 999), "block3", "fa"}, 1);
}

TEST(SymbolNameIndex, TablesChangedAfterIndexingAreScanned) {
  ubrofw::Writer w;
  w.Start().BegPgm("M").SymbolDef(1, 0, 0x10, "first", 0).End().Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  SymbolTable& t = c->m_SymbolTable;
  ScopeTable& s = c->m_ScopeTable;
  // A symbol added after the index was built is still found.
  uint32_t name = c->m_NameTable.AddName(kNameSymbol, kSubNone, "later", t.Count(), kNone);
  s.Scopes[0].Symbols.push_back(t.Count());
  t.AddSymbol(1, 0, 0x20, name, 0);
  uint32_t scope = 0;
  EXPECT_EQ(t.FindSymbol(s, kNone, "later", &scope), 1u);
  EXPECT_EQ(t.FindSymbol(s, kNone, "first", &scope), 0u);
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
    ExpectSameAnswers(c.get(), {"missing"}, 5);
  }
}

}  // namespace
