// The scope tree: the function and block records, the tree operations, and
// EnumSubScopes, GetScopeInfo, GetScopeFromProgMemAddress, GetScopeFromName.
#include <gtest/gtest.h>

#include "TestSupport.h"

using namespace mirl;
using testsupport::Bstr;
using testsupport::Component;

namespace {

// A program of two modules:
//   0 module "app"
//     1 function "main"
//       2 block (third scope: "block3")
//         3 block ("block4")
//     4 function "idle" (no code)
//   5 module "?lib" (hidden, ends with t_end_abs and stays open)
//     6 function "helper"
ubrofw::Writer TwoModules() {
  ubrofw::Writer w;
  w.Start()
      .ScopedName1("unit", kNone)  // name entry 0, named by no scope
      .BegPgm("app")
      .FuncBegin1("main")
      .BlockBegin1()
      .BlockBegin1()
      .BlockEnd()
      .BlockEnd()
      .BlockEnd()
      .FuncBegin1("idle")
      .BlockEnd()
      .End()
      .BegLib("?lib")
      .FuncBegin1("helper")
      .BlockEnd()
      .EndAbs()
      .Finish();
  return w;
}

// Code addresses and statements come from records of other parts of the
// reader; the tests set them on the parsed tables.
void SetRange(Component& c, uint32_t scope, uint32_t low, uint32_t high) {
  c->m_ScopeTable.Scopes[scope].LowAddress = low;
  c->m_ScopeTable.Scopes[scope].HighAddress = high;
}

// Appends a run of `count` statements (the first at `line`) to the scope and
// returns the run index.
uint32_t AddRun(Component& c, uint32_t scope, uint16_t line, int32_t maxEndLine, uint32_t count = 1,
                uint32_t address = 0, uint16_t length = 0) {
  StatementRun run;
  run.File = 0;
  run.MaxEndLine = maxEndLine;
  run.FirstStatement = uint32_t(c->m_Statements.size());
  run.Count = count;
  for (uint32_t i = 0; i < count; ++i) {
    StatementRecord st;
    st.Line = uint16_t(line + i);
    st.Address = address + i * length;
    st.Length = length;
    c->m_Statements.push_back(st);
  }
  c->m_StatementRuns.push_back(run);
  uint32_t index = uint32_t(c->m_StatementRuns.size() - 1);
  c->m_ScopeTable.Scopes[scope].StatementRuns.push_back(index);
  return index;
}

struct Enumerated {
  HRESULT hr;
  ULONG count;
  std::vector<ULONG> ids;
  bool isNull;
};

Enumerated Enum(Component& c, ULONG scope) {
  Enumerated e{};
  ULONG* ids = reinterpret_cast<ULONG*>(uintptr_t(0x10));  // overwritten, never freed
  e.count = 0xDEAD;
  e.hr = c->EnumSubScopes(scope, &e.count, &ids);
  if (e.hr != S_OK) {
    EXPECT_EQ(ids, reinterpret_cast<ULONG*>(uintptr_t(0x10)));
    EXPECT_EQ(e.count, 0xDEADu);
    return e;
  }
  e.isNull = ids == nullptr;
  if (ids) e.ids.assign(ids, ids + e.count);
  CoTaskMemFree(ids);
  return e;
}

struct Info {
  HRESULT hr;
  std::string name, fullName;
  bool fullNameNull;
  ULONG type, start, size, firstStat;
};

Info ScopeInfo(Component& c, ULONG scope) {
  Info i{};
  Bstr name("previous"), full("previous");
  i.type = i.start = i.size = i.firstStat = 0xDEAD;
  i.hr = c->GetScopeInfo(scope, &name, &full, &i.type, &i.start, &i.size, &i.firstStat);
  i.name = name.str();
  i.fullName = full.str();
  i.fullNameNull = full.null();
  return i;
}

HRESULT ScopeAt(Component& c, ULONG address, unsigned char type, ULONG* pScope) {
  *pScope = 0xDEAD;
  return c->GetScopeFromProgMemAddress(address, type, pScope);
}

}  // namespace

// ---------------------------------------------------------------------------
// Building the tree
// ---------------------------------------------------------------------------
TEST(ScopeTree, RecordsBuildTheTreeWithNames) {
  Component c;
  ASSERT_EQ(c.Parse(TwoModules()), S_OK);
  const ScopeTable& st = c->m_ScopeTable;
  ASSERT_EQ(st.Count(), 7u);
  EXPECT_EQ(st.RootScopes, (std::vector<uint32_t>{0, 5}));
  EXPECT_EQ(st.Scopes[0].Children, (std::vector<uint32_t>{1, 4}));
  EXPECT_EQ(st.Scopes[1].Children, (std::vector<uint32_t>{2}));
  EXPECT_EQ(st.Scopes[2].Children, (std::vector<uint32_t>{3}));
  EXPECT_EQ(st.Scopes[5].Children, (std::vector<uint32_t>{6}));
  const uint32_t parents[] = {kNone, 0, 1, 2, 0, kNone, 5};
  const uint32_t kinds[] = {2, 1, 3, 3, 1, 2, 1};
  const char* names[] = {"", "main", "block3", "block4", "idle", "", "helper"};
  for (uint32_t i = 0; i < 7; ++i) {
    EXPECT_EQ(st.Scopes[i].Parent, parents[i]) << i;
    EXPECT_EQ(st.Scopes[i].Kind, kinds[i]) << i;
    EXPECT_EQ(st.ScopeName(i), names[i]) << i;
    if (kinds[i] != kScopeModule) {
      EXPECT_EQ(st.Scopes[i].ModuleIndex, kNone);
      EXPECT_EQ(st.Scopes[i].Hidden, 0);
    }
  }
  // Name entries of the inline forms.
  const NameEntry* fn = c->m_NameTable.Entry(st.Scopes[1].NameIndex);
  ASSERT_NE(fn, nullptr);
  EXPECT_EQ(fn->Kind, uint32_t(kNameScope));
  EXPECT_EQ(fn->SubKind, uint32_t(kSubFunction));
  EXPECT_EQ(fn->Number, kNone);
  EXPECT_EQ(fn->Link, kNone);
  const NameEntry* block = c->m_NameTable.Entry(st.Scopes[2].NameIndex);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->SubKind, uint32_t(kSubBlock));
  EXPECT_EQ(block->Number, 3u);
  // The hidden module is left open by its t_end_abs.
  EXPECT_EQ(st.CurrentScope, 5u);
  EXPECT_EQ(st.CurrentModule, 5u);
}

TEST(ScopeTree, NewerBlockRecordsTakeTheirKindFromTheName) {
  ubrofw::Writer w;
  w.Start()
      .ScopedName1("fn", kNone)  // 0
      .ScopedName2(0, 1)         // 1: function named "fn"
      .ScopedName3(1, 5)         // 2: block 5
      .BegPgm("m")               // scope 0
      .BlockBegin3(1)            // scope 1: function
      .BlockBegin3(2)            // scope 2: block
      .BlockEnd()
      .BlockEnd()
      .BlockBegin3(kNone)  // scope 3: no name
      .BlockEnd()
      .BlockBegin3(0x7FFFFFFF)  // scope 4: a name index beyond the table
      .BlockEnd()
      .End()
      .Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  const ScopeTable& st = c->m_ScopeTable;
  ASSERT_EQ(st.Count(), 5u);
  EXPECT_EQ(st.Scopes[1].Kind, uint32_t(kScopeFunction));
  EXPECT_EQ(st.Scopes[1].NameIndex, 1u);
  EXPECT_EQ(st.Scopes[2].Kind, uint32_t(kScopeBlock));
  EXPECT_EQ(st.Scopes[2].Parent, 1u);
  EXPECT_EQ(st.Scopes[3].Kind, uint32_t(kScopeBlock));
  EXPECT_EQ(st.Scopes[4].Kind, uint32_t(kScopeFunction));
  EXPECT_EQ(st.Scopes[4].NameIndex, 0x7FFFFFFFu);
  EXPECT_EQ(ScopeInfo(c, 1).name, "fn");
  EXPECT_EQ(ScopeInfo(c, 2).name, "block5");
  Info odd = ScopeInfo(c, 4);
  EXPECT_EQ(odd.hr, S_OK);
  EXPECT_EQ(odd.name, "");
}

TEST(ScopeTree, OlderScopeRecordsAndCutRecordsFailTheParse) {
  {
    ubrofw::Writer w;
    w.Start().BegPgm("m").FuncBegin1("f").Byte(0xA8).Word(1).Byte(1).Finish();
    Component c;
    EXPECT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
    EXPECT_EQ(c->m_ScopeTable.Count(), 3u);  // what was read stays
  }
  {
    ubrofw::Writer w;
    w.Start().BegPgm("m").Byte(0xA7).ByteString("f").Zeros(3);
    Component c;
    EXPECT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
  }
}

TEST(ScopeTable, ClosingAScopeWidensItsParent) {
  NameTable names;
  SymbolTable symbols(&names, nullptr);
  std::vector<MacroRecord> macros;
  std::vector<SegmentGroupRecord> groups;
  std::vector<StatementRun> runs;
  std::vector<StatementRecord> statements;
  ScopeTable st(&names, &symbols, &macros, &groups, &runs, &statements);

  st.PopScope();  // nothing open: nothing happens
  st.WidenScope(0, 10);
  st.AddGroupRef(1);
  st.AddStatementRun(1);
  st.AddSymbolId(1);
  st.AddMacroId(1);
  st.SetFileRef(0, 1);
  EXPECT_EQ(st.GetFileRef(0), kNone);
  EXPECT_EQ(st.Count(), 0u);

  st.PushScope();  // 0 module
  st.PushScope();  // 1 function
  st.PushScope();  // 2 block without code
  st.PopScope();   // leaves 1 unchanged
  EXPECT_EQ(st.Scopes[1].LowAddress, 0xFFFFFFFFu);
  EXPECT_EQ(st.Scopes[1].HighAddress, 0u);
  st.PushScope();  // 3 block
  st.WidenScope(0x120, 0x130);
  st.WidenScope(0x110, 0x118);
  EXPECT_EQ(st.Scopes[3].LowAddress, 0x110u);
  EXPECT_EQ(st.Scopes[3].HighAddress, 0x130u);
  st.PopScope();
  EXPECT_EQ(st.Scopes[1].LowAddress, 0x110u);
  EXPECT_EQ(st.Scopes[1].HighAddress, 0x130u);
  st.WidenScope(0x200, 0x210);
  st.PopScope();
  EXPECT_EQ(st.Scopes[0].LowAddress, 0x110u);
  EXPECT_EQ(st.Scopes[0].HighAddress, 0x210u);
  EXPECT_EQ(st.CurrentModule, 0u);
  st.PopScope();
  EXPECT_EQ(st.CurrentScope, kNone);
  EXPECT_EQ(st.CurrentModule, kNone);
}

TEST(ScopeTable, FileReferencesGoToTheCurrentModule) {
  NameTable names;
  SymbolTable symbols(&names, nullptr);
  std::vector<MacroRecord> macros;
  std::vector<SegmentGroupRecord> groups;
  std::vector<StatementRun> runs;
  std::vector<StatementRecord> statements;
  ScopeTable st(&names, &symbols, &macros, &groups, &runs, &statements);
  st.PushScope();  // module 0, left open as after t_end_abs
  st.PushScope();  // module 1 nests inside it
  st.SetFileRef(2, 7);
  st.SetFileRef(0, 4);
  EXPECT_TRUE(st.Scopes[1].FileRefs.empty());
  EXPECT_EQ(st.Scopes[0].FileRefs, (std::vector<uint32_t>{4, kNone, 7}));
  EXPECT_EQ(st.GetFileRef(2), 7u);
  EXPECT_EQ(st.GetFileRef(1), kNone);
  EXPECT_EQ(st.GetFileRef(3), kNone);  // never registered
  EXPECT_EQ(st.FindModuleByFile(7), 0u);
  EXPECT_EQ(st.FindModuleByFile(5), kNone);
}

// ---------------------------------------------------------------------------
// EnumSubScopes and GetScopeInfo
// ---------------------------------------------------------------------------
TEST(EnumSubScopes, ListsVisibleModulesAndChildren) {
  Component c;
  ASSERT_EQ(c.Parse(TwoModules()), S_OK);
  Enumerated top = Enum(c, kNone);
  ASSERT_EQ(top.hr, S_OK);
  EXPECT_EQ(top.ids, (std::vector<ULONG>{0}));  // module 5 is hidden
  EXPECT_EQ(Enum(c, 0).ids, (std::vector<ULONG>{1, 4}));
  EXPECT_EQ(Enum(c, 1).ids, (std::vector<ULONG>{2}));
  EXPECT_EQ(Enum(c, 5).ids, (std::vector<ULONG>{6}));
  // A block without nested blocks: count 0 and no array.
  Enumerated leaf = Enum(c, 3);
  EXPECT_EQ(leaf.hr, S_OK);
  EXPECT_EQ(leaf.count, 0u);
  EXPECT_TRUE(leaf.isNull);
  EXPECT_EQ(Enum(c, 7).hr, PARSER_E_BAD_ID);
  EXPECT_EQ(Enum(c, 0xFFFFFFFE).hr, PARSER_E_BAD_ID);
}

TEST(EnumSubScopes, OnlyHiddenModulesGiveAnArrayWithCountZero) {
  ubrofw::Writer w;
  w.Start().BegPgm("?only").End().Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  Enumerated top = Enum(c, kNone);
  EXPECT_EQ(top.hr, S_OK);
  EXPECT_EQ(top.count, 0u);
  EXPECT_FALSE(top.isNull);
  // The hidden module still has its id.
  Info i = ScopeInfo(c, 0);
  EXPECT_EQ(i.hr, S_OK);
  EXPECT_EQ(i.type, 2u);
  EXPECT_EQ(i.name, "");

  ubrofw::Writer empty;
  empty.Start().Finish();
  Component none;
  ASSERT_EQ(none.Parse(empty), S_OK);
  Enumerated nothing = Enum(none, kNone);
  EXPECT_EQ(nothing.hr, S_OK);
  EXPECT_EQ(nothing.count, 0u);
  EXPECT_TRUE(nothing.isNull);
  EXPECT_EQ(Enum(none, 0).hr, PARSER_E_BAD_ID);
}

TEST(GetScopeInfo, ReportsNameKindRangeAndFirstStatement) {
  Component c;
  ASSERT_EQ(c.Parse(TwoModules()), S_OK);
  SetRange(c, 1, 0x100, 0x180);
  AddRun(c, 2, 5, 5, 3);               // statements 0..2
  uint32_t r = AddRun(c, 1, 1, 4, 2);  // statements 3, 4
  AddRun(c, 1, 9, 9);                  // a later run of the same scope

  Info main = ScopeInfo(c, 1);
  ASSERT_EQ(main.hr, S_OK);
  EXPECT_EQ(main.name, "main");
  EXPECT_EQ(main.fullName, "");
  EXPECT_FALSE(main.fullNameNull);
  EXPECT_EQ(main.type, 1u);
  EXPECT_EQ(main.start, 0x100u);
  EXPECT_EQ(main.size, 0x80u);
  EXPECT_EQ(main.firstStat, c->m_StatementRuns[r].FirstStatement);
  EXPECT_EQ(main.firstStat, 3u);

  Info block = ScopeInfo(c, 2);
  EXPECT_EQ(block.name, "block3");
  EXPECT_EQ(block.type, 3u);
  EXPECT_EQ(block.firstStat, 0u);

  // A function without code.
  Info idle = ScopeInfo(c, 4);
  EXPECT_EQ(idle.start, 0xFFFFFFFFu);
  EXPECT_EQ(idle.size, 1u);
  EXPECT_EQ(idle.firstStat, 0xFFFFFFFFu);

  Info module = ScopeInfo(c, 0);
  EXPECT_EQ(module.name, "");
  EXPECT_EQ(module.type, 2u);

  // A run index beyond the run table names no statement.
  c->m_ScopeTable.Scopes[6].StatementRuns.push_back(1000);
  EXPECT_EQ(ScopeInfo(c, 6).firstStat, 0xFFFFFFFFu);

  Info bad = ScopeInfo(c, 7);
  EXPECT_EQ(bad.hr, PARSER_E_BAD_ID);
  EXPECT_EQ(bad.name, "previous");  // nothing written
  EXPECT_EQ(bad.type, 0xDEADu);
  EXPECT_EQ(ScopeInfo(c, kNone).hr, PARSER_E_BAD_ID);
}

// ---------------------------------------------------------------------------
// By address
// ---------------------------------------------------------------------------
TEST(GetScopeFromProgMemAddress, InnermostScopeAndTheKindAsked) {
  Component c;
  ASSERT_EQ(c.Parse(TwoModules()), S_OK);
  SetRange(c, 0, 0x100, 0x200);
  SetRange(c, 1, 0x100, 0x180);
  SetRange(c, 2, 0x120, 0x160);
  SetRange(c, 3, 0x130, 0x140);
  SetRange(c, 5, 0x200, 0x300);
  SetRange(c, 6, 0x200, 0x280);
  ULONG s;
  EXPECT_EQ(ScopeAt(c, 0x135, 0, &s), S_OK);
  EXPECT_EQ(s, 3u);
  EXPECT_EQ(ScopeAt(c, 0x135, 1, &s), S_OK);
  EXPECT_EQ(s, 1u);
  EXPECT_EQ(ScopeAt(c, 0x135, 2, &s), S_OK);
  EXPECT_EQ(s, 0u);
  EXPECT_EQ(ScopeAt(c, 0x135, 3, &s), S_OK);
  EXPECT_EQ(s, 3u);
  EXPECT_EQ(ScopeAt(c, 0x150, 0, &s), S_OK);  // in block 2, past block 3
  EXPECT_EQ(s, 2u);
  EXPECT_EQ(ScopeAt(c, 0x17F, 0, &s), S_OK);
  EXPECT_EQ(s, 1u);
  EXPECT_EQ(ScopeAt(c, 0x180, 0, &s), S_OK);  // only the module holds it
  EXPECT_EQ(s, 0u);
  EXPECT_EQ(ScopeAt(c, 0x180, 1, &s), E_FAIL);
  EXPECT_EQ(s, 0xDEADu);
  EXPECT_EQ(ScopeAt(c, 0x200, 0, &s), S_OK);  // high addresses are exclusive
  EXPECT_EQ(s, 6u);
  EXPECT_EQ(ScopeAt(c, 0x135, 5, &s), E_FAIL);
  EXPECT_EQ(ScopeAt(c, 0x0FF, 0, &s), E_FAIL);
  EXPECT_EQ(ScopeAt(c, 0x300, 0, &s), E_FAIL);
  EXPECT_EQ(ScopeAt(c, 0xFFFFFFFF, 0, &s), E_FAIL);
  // Scopes without code contain nothing.
  EXPECT_EQ(ScopeAt(c, 0xFFFFFFFE, 0, &s), E_FAIL);
}

TEST(GetScopeFromProgMemAddress, OverlappingModules) {
  ubrofw::Writer w;
  w.Start()
      .BegPgm("a")      // 0
      .FuncBegin1("f")  // 1
      .BlockEnd()
      .End()
      .BegPgm("b")      // 2
      .FuncBegin1("g")  // 3
      .BlockEnd()
      .End()
      .Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  SetRange(c, 0, 0x100, 0x300);
  SetRange(c, 1, 0x100, 0x200);
  SetRange(c, 2, 0x180, 0x400);
  SetRange(c, 3, 0x280, 0x300);
  ULONG s;
  // The first module whose children hold the address.
  EXPECT_EQ(ScopeAt(c, 0x190, 0, &s), S_OK);
  EXPECT_EQ(s, 1u);
  EXPECT_EQ(ScopeAt(c, 0x290, 0, &s), S_OK);
  EXPECT_EQ(s, 3u);
  // Only the modules hold it: the later one wins...
  EXPECT_EQ(ScopeAt(c, 0x250, 0, &s), S_OK);
  EXPECT_EQ(s, 2u);
  // ...unless the last statement of one of the earlier module's runs covers
  // it. Empty runs, and runs that point outside the statement table, do not.
  AddRun(c, 0, 1, 1, 0);
  c->m_StatementRuns.push_back(StatementRun{0, 0, 5000, 2});
  c->m_ScopeTable.Scopes[0].StatementRuns.push_back(uint32_t(c->m_StatementRuns.size() - 1));
  c->m_ScopeTable.Scopes[0].StatementRuns.push_back(999);
  EXPECT_EQ(ScopeAt(c, 0x250, 0, &s), S_OK);
  EXPECT_EQ(s, 2u);
  // Two statements: only the last one of a run counts.
  AddRun(c, 0, 1, 2, 2, 0x240, 0x10);  // 0x240..0x24F, then 0x250..0x25F
  EXPECT_EQ(ScopeAt(c, 0x245, 0, &s), S_OK);
  EXPECT_EQ(s, 2u);
  EXPECT_EQ(ScopeAt(c, 0x250, 0, &s), S_OK);
  EXPECT_EQ(s, 0u);
  EXPECT_EQ(ScopeAt(c, 0x260, 0, &s), S_OK);
  EXPECT_EQ(s, 2u);
}

// ---------------------------------------------------------------------------
// By name
// ---------------------------------------------------------------------------
class ScopeFromName : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(c.Parse(TwoModules()), S_OK);
    c->m_FileNames["src\\main.c"] = 0;
    c->m_FileNames["lib.c"] = 1;
    c->m_FileNames["orphan.c"] = 2;  // no module lists it
    c->m_ScopeTable.Scopes[0].FileRefs = {kNone, 0};
    c->m_ScopeTable.Scopes[5].FileRefs = {1};
    AddRun(c, 1, 10, 11);     // main: lines 10..11
    AddRun(c, 2, 12, 15);     // block 2: 12..15
    AddRun(c, 3, 16, 16);     // block 3 (inside 2): 16
    AddRun(c, 4, 30, 35);     // idle: 30..35
    AddRun(c, 1, 40, 50, 0);  // an empty run covers nothing
  }
  // Returns the status; *pScope is 0xDEAD unless the call wrote it.
  HRESULT Find(const std::string& text, ULONG* pScope) {
    Bstr name(text);
    *pScope = 0xDEAD;
    HRESULT hr = c->GetScopeFromName(&name, pScope);
    EXPECT_TRUE(name.null()) << text;  // released and cleared
    return hr;
  }
  ULONG FindOk(const std::string& text) {
    ULONG s;
    EXPECT_EQ(Find(text, &s), S_OK) << text;
    return s;
  }
  Component c;
};

TEST_F(ScopeFromName, FileAndLine) {
  EXPECT_EQ(FindOk("{\"src\\main.c\", 16}"), 3u);
  EXPECT_EQ(FindOk("{\"src\\main.c\",10}"), 1u);
  EXPECT_EQ(FindOk("{\"src\\main.c\", 13}"), 2u);
  EXPECT_EQ(FindOk("{\"src\\main.c\", 33}"), 4u);
  // Hexadecimal and octal numbers; blanks anywhere a blank is allowed.
  EXPECT_EQ(FindOk("  {  \"SRC\\Main.C\"  ,  0x10  }  "), 3u);
  EXPECT_EQ(FindOk("{\"src\\main.c\",0X0f}"), 2u);
  EXPECT_EQ(FindOk("{\"src\\main.c\",\t012}"), 1u);  // octal 10
  EXPECT_EQ(FindOk("{\"src\\main.c\", 016}"), 2u);   // octal 14, not 16
  // Text after the number is not checked.
  EXPECT_EQ(FindOk("{\"src\\main.c\", 12abc"), 2u);
  EXPECT_EQ(FindOk("{\"src\\main.c\", +16 ]"), 3u);
  // No child covers the line: the module itself.
  EXPECT_EQ(FindOk("{\"src\\main.c\", 45}"), 0u);
  EXPECT_EQ(FindOk("{\"src\\main.c\", 0}"), 0u);
  EXPECT_EQ(FindOk("{\"src\\main.c\", -16}"), 0u);
  EXPECT_EQ(FindOk("{\"src\\main.c\", 99999999999999}"), 0u);
}

TEST_F(ScopeFromName, FileAndScopeName) {
  EXPECT_EQ(FindOk("{\"src\\main.c\", main}"), 1u);
  EXPECT_EQ(FindOk("{ \"src\\main.c\" ,idle}"), 4u);
  EXPECT_EQ(FindOk("{\"lib.c\", helper}"), 6u);
  ULONG s;
  // A blank before the closing brace belongs to the name.
  EXPECT_EQ(Find("{\"src\\main.c\", main }", &s), E_FAIL);
  EXPECT_EQ(s, 0xDEADu);
  // Names are compared with case, and only the module's own children count.
  EXPECT_EQ(Find("{\"src\\main.c\", Main}", &s), E_FAIL);
  EXPECT_EQ(Find("{\"src\\main.c\", block3}", &s), E_FAIL);
  EXPECT_EQ(Find("{\"src\\main.c\", helper}", &s), E_FAIL);
  // A text that does not begin like a number is a name.
  EXPECT_EQ(Find("{\"src\\main.c\", x16}", &s), E_FAIL);
  // Scopes named by the file's first name entry are passed over, as the
  // entry view's searches do.
  c->m_ScopeTable.Scopes[4].NameIndex = 0;
  EXPECT_EQ(Find("{\"src\\main.c\", unit}", &s), E_FAIL);
}

TEST_F(ScopeFromName, FileOnly) {
  EXPECT_EQ(FindOk("{\"src\\main.c\"}"), 0u);
  EXPECT_EQ(FindOk("{\"SRC\\MAIN.C\"}"), 0u);
  EXPECT_EQ(FindOk("{\"src\\main.c\" }"), 0u);
  EXPECT_EQ(FindOk(" \t{\"lib.c\"}\n"), 5u);  // the hidden module too
  // What follows the quoted path is not checked.
  EXPECT_EQ(FindOk("{\"src\\main.c\""), 0u);
  EXPECT_EQ(FindOk("{\"src\\main.c"), 0u);
  EXPECT_EQ(FindOk("{\"src\\main.c\" , }"), 0u);
}

TEST_F(ScopeFromName, RefusedTexts) {
  const char* texts[] = {
      "",
      "   ",
      "src\\main.c",
      "\"src\\main.c\"",
      "{src\\main.c}",
      "{\"\"}",
      "{ \"\" , 10}",
      "x{\"src\\main.c\"}",
      "{\"nofile.c\"}",
      "{\"nofile.c\", 10}",
      "{\"nofile.c\", main}",
      "{\"orphan.c\"}",  // a file that no module lists
      "{\"src\\main.c\", nosuch}",
      "{ \"src\\main.c \"}",  // blanks inside the quotes belong to the path
  };
  for (const char* t : texts) {
    ULONG s;
    EXPECT_EQ(Find(t, &s), E_FAIL) << t;
    EXPECT_EQ(s, 0xDEADu) << t;
  }
}

TEST_F(ScopeFromName, TextsLongerThanTheBufferAreNotCut) {
  ULONG s;
  std::string longPath(5000, 'p');
  EXPECT_EQ(Find("{\"" + longPath + "\"}", &s), E_FAIL);
  EXPECT_EQ(Find("{\"" + longPath + "\", 10}", &s), E_FAIL);
  // A path of exactly 999 characters fits.
  std::string path999(999, 'q');
  c->m_FileNames[path999] = 0;
  EXPECT_EQ(FindOk("{\"" + path999 + "\", 16}"), 3u);
  // One more character does not fit, and is not taken for the shorter path.
  c->m_FileNames[path999 + "q"] = 0;
  EXPECT_EQ(Find("{\"" + path999 + "q\", 16}", &s), E_FAIL);
  // A scope name of 999 characters is compared whole.
  std::string name999(999, 'n');
  c->m_ScopeTable.Scopes[4].NameIndex =
      c->m_NameTable.AddName(kNameScope, kSubFunction, name999.c_str(), kNone, kNone);
  EXPECT_EQ(FindOk("{\"src\\main.c\", " + name999 + "}"), 4u);
  EXPECT_EQ(Find("{\"src\\main.c\", " + name999.substr(1) + "}", &s), E_FAIL);
  // A longer name fails its conversion; the text then reads as a file name
  // followed by unchecked text, which names the module.
  EXPECT_EQ(FindOk("{\"src\\main.c\", " + name999 + "n}"), 0u);
}

TEST_F(ScopeFromName, PointersAndState) {
  ULONG s = 0;
  Bstr name("{\"src\\main.c\"}");
  EXPECT_EQ(c->GetScopeFromName(nullptr, &s), E_POINTER);
  EXPECT_EQ(c->GetScopeFromName(&name, nullptr), E_POINTER);
  Bstr null;
  EXPECT_EQ(c->GetScopeFromName(&null, &s), E_POINTER);
  Component fresh;
  EXPECT_EQ(fresh->GetScopeFromName(&name, &s), PARSER_E_NOT_PARSED);
}

TEST(GetScopeFromName, DeeplyNestedScopesAreSearchedWithoutRecursion) {
  // A damaged or hostile file can nest blocks as deep as its size allows.
  const uint32_t depth = 200000;
  ubrofw::Writer w;
  w.Start().BegPgm("deep");
  for (uint32_t i = 0; i < depth; ++i) w.BlockBegin1();
  w.Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  ASSERT_EQ(c->m_ScopeTable.Count(), depth + 1);
  c->m_FileNames["deep.c"] = 0;
  c->m_ScopeTable.Scopes[0].FileRefs = {0};
  AddRun(c, depth, 7, 7);  // only the innermost block covers line 7
  Bstr name("{\"deep.c\", 7}");
  ULONG s = 0;
  EXPECT_EQ(c->GetScopeFromName(&name, &s), S_OK);
  EXPECT_EQ(s, depth);
  Bstr other("{\"deep.c\", 8}");
  EXPECT_EQ(c->GetScopeFromName(&other, &s), S_OK);
  EXPECT_EQ(s, 0u);
  // And by address, down the same chain.
  for (uint32_t i = 0; i <= depth; ++i) {
    c->m_ScopeTable.Scopes[i].LowAddress = 0x100;
    c->m_ScopeTable.Scopes[i].HighAddress = 0x200;
  }
  EXPECT_EQ(c->GetScopeFromProgMemAddress(0x150, 0, &s), S_OK);
  EXPECT_EQ(s, depth);
  EXPECT_EQ(c->GetScopeFromProgMemAddress(0x150, 2, &s), S_OK);
  EXPECT_EQ(s, 0u);
}

TEST(ScopeMethods, PointersAreCheckedBeforeTheParseState) {
  Component c;
  ULONG n = 0, a = 0, b = 0, d = 0, e = 0;
  ULONG* ids = nullptr;
  BSTR s1 = nullptr, s2 = nullptr;
  EXPECT_EQ(c->EnumSubScopes(kNone, nullptr, &ids), E_POINTER);
  EXPECT_EQ(c->EnumSubScopes(kNone, &n, nullptr), E_POINTER);
  EXPECT_EQ(c->EnumSubScopes(kNone, &n, &ids), PARSER_E_NOT_PARSED);
  EXPECT_EQ(c->GetScopeInfo(0, nullptr, &s2, &a, &b, &d, &e), E_POINTER);
  EXPECT_EQ(c->GetScopeInfo(0, &s1, nullptr, &a, &b, &d, &e), E_POINTER);
  EXPECT_EQ(c->GetScopeInfo(0, &s1, &s2, nullptr, &b, &d, &e), E_POINTER);
  EXPECT_EQ(c->GetScopeInfo(0, &s1, &s2, &a, nullptr, &d, &e), E_POINTER);
  EXPECT_EQ(c->GetScopeInfo(0, &s1, &s2, &a, &b, nullptr, &e), E_POINTER);
  EXPECT_EQ(c->GetScopeInfo(0, &s1, &s2, &a, &b, &d, nullptr), E_POINTER);
  EXPECT_EQ(c->GetScopeInfo(0, &s1, &s2, &a, &b, &d, &e), PARSER_E_NOT_PARSED);
  EXPECT_EQ(c->GetScopeFromProgMemAddress(0, 0, nullptr), E_POINTER);
  EXPECT_EQ(c->GetScopeFromProgMemAddress(0, 0, &a), PARSER_E_NOT_PARSED);
  // A failed parse leaves the state unparsed, whatever it added.
  ubrofw::Writer w;
  w.Start().BegPgm("m").Byte(0x77);
  ASSERT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
  ASSERT_EQ(c->m_ScopeTable.Count(), 1u);
  EXPECT_EQ(c->EnumSubScopes(kNone, &n, &ids), PARSER_E_NOT_PARSED);
  EXPECT_EQ(s1, nullptr);
  EXPECT_EQ(s2, nullptr);
}
