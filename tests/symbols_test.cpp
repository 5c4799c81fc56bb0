// The symbol table: symbol and macro records, attachment, the label index,
// locations, the searches by name and the symbol methods.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "TestSupport.h"

using namespace mirl;
using testsupport::Bstr;
using testsupport::Component;

namespace {

// Symbol ids, in definition order, of the program below.
enum : uint32_t {
  kCounter,     // global of "app" in data memory
  kMain,        // label at 0x200
  kMainToo,     // same address: not the label
  kAnswer,      // class 9: never found by name
  kSix,         // class 6: never found by name
  kExit,        // the program's exit at 0x300
  kLocalCount,  // local "counter" of main, with two ranges
  kLocalLabel,  // local of main at 0x220: never a label
  kK,           // local of the block inside main
  kOrphan,      // defined after a block end: attached nowhere
  kGrpVar,      // in segment group 2
  kShared,      // global of the hidden module "?lib"
  kPort,        // "_A_port"
  kPortAlias,   // its alias "port"
  kPin,         // "_A_pin", attribute without the alias bit
  kLed,         // "_A_led", followed by another record
  kPlain,       // "plain", not prefixed
  kSymbolCount
};
// Scope ids.
enum : uint32_t { kApp, kMainFn, kBlock, kLib, kHelper, kScopeCount };
// Name entries made first, by t_scoped_name.
enum : uint32_t { kNamePort, kNamePin, kNameLed, kNamePlainName };

ubrofw::Writer Program(const std::string& toolVersion = "1.5") {
  ubrofw::Writer w;
  w.Start()
      .ScopedName1("_A_port", 77)
      .ScopedName1("_A_pin", kNone)
      .ScopedName1("_A_led", kNone)
      .ScopedName1("plain", kNone)
      .BegPgm("app")
      .Aux1(0, toolVersion)
      .SymbolDef1(1, 2, 0x60, "counter", 0)
      .SymbolDef(1, 0, 0x200, "main", 0, "xyz")
      .SymbolDef(2, 0, 0x200, "main_too", 0)
      .SymbolDef(9, 0, 42, "answer", 0)
      .SymbolDef(6, 0, 0x210, "six", 0)
      .SymbolDef(1, 0, 0x300, "exit", 0)
      .FuncBegin1("main", {{7, 0, 4, "counter", 0, {{0x100, 8, 0, 24}, {0x180, 1, 2, 0x60}}},
                           {1, 0, 0x220, "local_lbl", 0, {}}})
      .BlockBegin1({{2, 2, 5, "k", 0, {}}})
      .BlockEnd()
      .SymbolDef(1, 0, 0x230, "orphan", 0)
      .BlockEnd()
      .Grp(2)
      .SymbolDef(1, 2, 0x70, "grpvar", 0)
      .Macro("VERSION", "3")
      .End()
      .BegLib("?lib")
      .GrpRef(40)  // no such group
      .GrpRef(2)
      .Macro("LIBMAC", "x")
      .SymbolDef(1, 2, 0x80, "shared", 0)
      .SymbolDef2(1, 3, 0x40, kNamePort, 5)
      .SubDefObjAttr(1)
      .SymbolDef2(1, 0, 0x41, kNamePin, 5)
      .SubDefObjAttr(0x10)
      .SymbolDef2(1, 0, 0x42, kNameLed, 5)
      .Macro("AFTER", "1")
      .SymbolDef2(1, 0, 0x43, kNamePlainName, 5)
      .SubDefObjAttr(1, "xy")
      .FuncBegin1("helper")
      .BlockEnd()
      .EndAbs()
      .Finish();
  return w;
}

struct Lookup {
  HRESULT hr;
  ULONG id, scope;
};

Lookup Find(Component& c, const std::string& name, ULONG scope, ULONG flags = 0) {
  Lookup r{0, 0xDEAD, 0xDEAD};
  Bstr b(name);
  r.hr = c->LookupSymbolName(&b, scope, flags, &r.id, &r.scope);
  EXPECT_TRUE(b.null()) << name;
  return r;
}

struct Location {
  HRESULT hr;
  unsigned char info, memType;
  ULONG address;
};

Location Where(Component& c, ULONG id, ULONG address) {
  Location l{0, 0xEE, 0xEE, 0xDEAD};
  l.hr = c->GetSymbolLocation(id, address, &l.info, &l.address, &l.memType);
  return l;
}

std::string Label(Component& c, ULONG address, HRESULT* phr) {
  Bstr b("previous");
  *phr = c->LookupLabel(address, &b);
  return b.str();
}

class SymbolProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(c.Parse(Program()), S_OK);
    ASSERT_EQ(c->m_SymbolTable.Count(), uint32_t(kSymbolCount));
    ASSERT_EQ(c->m_ScopeTable.Count(), uint32_t(kScopeCount));
  }
  Component c;
};

}  // namespace

// ---------------------------------------------------------------------------
// Records and attachment
// ---------------------------------------------------------------------------
TEST_F(SymbolProgram, DefinitionsAttachByModuleState) {
  const ScopeTable& st = c->m_ScopeTable;
  EXPECT_EQ(st.Scopes[kApp].Symbols,
            (std::vector<uint32_t>{kCounter, kMain, kMainToo, kAnswer, kSix, kExit}));
  EXPECT_EQ(st.Scopes[kMainFn].Symbols, (std::vector<uint32_t>{kLocalCount, kLocalLabel}));
  EXPECT_EQ(st.Scopes[kBlock].Symbols, (std::vector<uint32_t>{kK}));
  EXPECT_EQ(st.Scopes[kLib].Symbols,
            (std::vector<uint32_t>{kShared, kPort, kPortAlias, kPin, kLed, kPlain}));
  EXPECT_EQ(st.Scopes[kLib].GroupRefs, (std::vector<uint32_t>{40, 2}));
  EXPECT_EQ(st.Scopes[kLib].Macros, (std::vector<uint32_t>{1, 2}));
  ASSERT_EQ(c->m_SegmentGroups.size(), 3u);
  EXPECT_EQ(c->m_SegmentGroups[2].m_SymbolIds, (std::vector<uint32_t>{kGrpVar}));
  EXPECT_EQ(c->m_SegmentGroups[2].m_MacroIds, (std::vector<uint32_t>{0}));
  // The symbol after a nested block's end is stored but attached nowhere.
  for (const ScopeRecord& s : st.Scopes)
    for (uint32_t id : s.Symbols) EXPECT_NE(id, uint32_t(kOrphan));
  for (const SegmentGroupRecord& g : c->m_SegmentGroups)
    for (uint32_t id : g.m_SymbolIds) EXPECT_NE(id, uint32_t(kOrphan));
  ASSERT_EQ(c->m_Macros.size(), 3u);
  EXPECT_EQ(c->m_Macros[0].Name, "VERSION");
  EXPECT_EQ(c->m_Macros[0].Text, "3");
  EXPECT_EQ(c->m_Macros[2].Name, "AFTER");
}

TEST_F(SymbolProgram, RecordFieldsAndNameEntries) {
  const SymbolTable& t = c->m_SymbolTable;
  const SymbolRecord& local = t.Symbols[kLocalCount];
  EXPECT_EQ(local.Class, 7);
  EXPECT_EQ(local.Value, 4u);
  ASSERT_EQ(local.RangeCount, 2u);
  EXPECT_EQ(t.Ranges[local.FirstRange].Start, 0x100u);
  EXPECT_EQ(t.Ranges[local.FirstRange + 1].MemoryAttribute, 2);
  const NameEntry* e = c->m_NameTable.Entry(local.NameIndex);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Kind, uint32_t(kNameSymbol));
  EXPECT_EQ(e->SubKind, 0u);
  EXPECT_EQ(e->Number, uint32_t(kLocalCount));
  EXPECT_EQ(c->m_NameTable.Entry(t.Symbols[kMain].NameIndex)->Number, uint32_t(kMain));
  EXPECT_EQ(t.Symbols[kMain].RangeCount, 0u);
  EXPECT_EQ(t.Symbols[kCounter].MemoryAttribute, 2);

  // The prefixed symbol keeps the record's name index; its alias gets a new
  // entry with the prefix dropped, the record entry's link, and type 1.
  EXPECT_EQ(t.Symbols[kPort].NameIndex, uint32_t(kNamePort));
  EXPECT_EQ(t.Symbols[kPort].TypeId, 5);
  const SymbolRecord& alias = t.Symbols[kPortAlias];
  EXPECT_EQ(alias.TypeId, 1);
  EXPECT_EQ(alias.Class, 1);
  EXPECT_EQ(alias.MemoryAttribute, 3);
  EXPECT_EQ(alias.Value, 0x40u);
  EXPECT_EQ(alias.RangeCount, 0u);
  const NameEntry* ae = c->m_NameTable.Entry(alias.NameIndex);
  ASSERT_NE(ae, nullptr);
  EXPECT_EQ(ae->Text, "port");
  EXPECT_EQ(ae->Kind, uint32_t(kNameSymbol));
  EXPECT_EQ(ae->Number, uint32_t(kPortAlias));
  EXPECT_EQ(ae->Link, 77u);
  EXPECT_EQ(c->m_NameTable.GetName(t.Symbols[kPlain].NameIndex), "plain");
}

TEST(SymbolRecords, AliasNeedsThePrefixTheBitAndTheNextRecord) {
  struct Case {
    std::string name;
    bool objAttrFollows;
    uint32_t attribute;
    uint32_t expectedSymbols;
  };
  const Case cases[] = {
      {"_A_x", true, 1, 2},  {"_A_x", true, 0xFFFFFFFF, 2}, {"_A_x", true, 0xFFFFFFFE, 1},
      {"_A_x", false, 1, 1}, {"_a_x", true, 1, 1},          {"A_x", true, 1, 1},
      {"_A_", true, 1, 2},  // an empty alias name
  };
  for (const Case& k : cases) {
    ubrofw::Writer w;
    w.Start().ScopedName1(k.name, kNone).BegPgm("m").SymbolDef2(1, 0, 0x10, 0, 9);
    if (k.objAttrFollows)
      w.SubDefObjAttr(k.attribute, "e");
    else
      w.Macro("M", "").SubDefObjAttr(k.attribute);  // not directly after the symbol
    w.End().Finish();
    Component c;
    ASSERT_EQ(c.Parse(w), S_OK) << k.name;
    EXPECT_EQ(c->m_SymbolTable.Count(), k.expectedSymbols) << k.name << " " << k.attribute;
    // The peeked record is read again by the tag loop: the module ended.
    EXPECT_EQ(c->m_ScopeTable.CurrentScope, kNone);
    if (k.expectedSymbols == 2) {
      EXPECT_EQ(c->m_NameTable.GetName(c->m_SymbolTable.Symbols[1].NameIndex), k.name.substr(3));
      EXPECT_EQ(c->m_ScopeTable.Scopes[0].Symbols, (std::vector<uint32_t>{0, 1}));
    }
  }
}

TEST(SymbolRecords, LookAheadAtTheEndOfTheFileFailsButKeepsTheSymbol) {
  ubrofw::Writer w;
  w.Start().ScopedName1("_A_x", kNone).BegPgm("m").SymbolDef2(1, 0, 0x10, 0, 9);
  Component c;
  EXPECT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
  EXPECT_EQ(c->m_SymbolTable.Count(), 1u);
  // Without the prefix nothing is read past the record: the missing end
  // record is then the only fault.
  ubrofw::Writer w2;
  w2.Start().ScopedName1("x", kNone).BegPgm("m").SymbolDef2(1, 0, 0x10, 0, 9).Finish();
  Component c2;
  EXPECT_EQ(c2.Parse(w2), S_OK);
}

TEST(SymbolRecords, NameIndicesFromTheFileAreStoredUnchecked) {
  ubrofw::Writer w;
  w.Start().BegPgm("m").SymbolDef2(1, 0, 0x10, 0xFFFFFF00, 9).SubDefObjAttr(1).End().Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  ASSERT_EQ(c->m_SymbolTable.Count(), 1u);
  EXPECT_EQ(c->m_SymbolTable.Symbols[0].NameIndex, 0xFFFFFF00u);
  Bstr name("x");
  ULONG scope = 0, type = 0;
  EXPECT_EQ(c->GetSymbolInfo(0, &name, &scope, &type), S_OK);
  EXPECT_EQ(name.str(), "");
  EXPECT_EQ(scope, 0xFFFFFF00u);
  HRESULT hr;
  EXPECT_EQ(Label(c, 0x10, &hr), "");
  EXPECT_EQ(hr, S_OK);
}

TEST(SymbolRecords, CutShortRecordsFailAndKeepWhatWasRead) {
  std::vector<std::function<void(ubrofw::Writer&)>> tails = {
      [](ubrofw::Writer& w) { w.Byte(0x4C).Byte(1).Word(0).Long(5).ByteString("n").Word(0); },
      [](ubrofw::Writer& w) {
        w.Byte(0xA6).Byte(1).Word(0).Long(5).ByteString("n").Word(0).Word(2).Zeros(13);
      },
      [](ubrofw::Writer& w) { w.Byte(0xCE).Zeros(4).Byte(1).Word(0).Long(5); },
      [](ubrofw::Writer& w) { w.Byte(0xC3).Zeros(2).Long(1).Byte(4).Text("ab"); },
      [](ubrofw::Writer& w) { w.Byte(0x4E).ByteString("M").Word(100).Text("short"); },
  };
  for (size_t i = 0; i < tails.size(); ++i) {
    ubrofw::Writer w;
    w.Start().BegPgm("m").SymbolDef(1, 0, 0x10, "kept", 0).Macro("K", "1");
    tails[i](w);
    Component c;
    EXPECT_EQ(c.Parse(w), PARSER_E_INVALID_FILE) << i;
    ASSERT_GE(c->m_SymbolTable.Count(), 1u) << i;
    EXPECT_EQ(c->m_NameTable.GetName(c->m_SymbolTable.Symbols[0].NameIndex), "kept");
    EXPECT_EQ(c->m_Macros.size(), 1u) << i;
  }
}

// ---------------------------------------------------------------------------
// Searches by name
// ---------------------------------------------------------------------------
TEST_F(SymbolProgram, LocalsShadowGlobalsAndTheSearchGoesOutward) {
  Lookup r = Find(c, "counter", kMainFn);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.id, uint32_t(kLocalCount));
  EXPECT_EQ(r.scope, uint32_t(kMainFn));
  r = Find(c, "counter", kBlock);
  EXPECT_EQ(r.id, uint32_t(kLocalCount));
  EXPECT_EQ(r.scope, uint32_t(kMainFn));
  r = Find(c, "counter", kApp);
  EXPECT_EQ(r.id, uint32_t(kCounter));
  EXPECT_EQ(r.scope, uint32_t(kApp));
  r = Find(c, "k", kBlock);
  EXPECT_EQ(r.id, uint32_t(kK));
  EXPECT_EQ(r.scope, uint32_t(kBlock));
  EXPECT_EQ(Find(c, "k", kMainFn).hr, E_FAIL);  // never inward
}

TEST_F(SymbolProgram, OtherModulesAreSearchedWithoutReportingAScope) {
  // From a function of "app": found in the hidden module in the second step.
  Lookup r = Find(c, "shared", kMainFn);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.id, uint32_t(kShared));
  EXPECT_EQ(r.scope, kNone);
  // From inside the hidden module: its own module scope.
  r = Find(c, "shared", kHelper);
  EXPECT_EQ(r.id, uint32_t(kShared));
  EXPECT_EQ(r.scope, uint32_t(kLib));
  // Global search (flag 1): every module in order, no scope.
  r = Find(c, "counter", kBlock, 1);
  EXPECT_EQ(r.id, uint32_t(kCounter));
  EXPECT_EQ(r.scope, kNone);
  r = Find(c, "shared", kApp, 1);
  EXPECT_EQ(r.id, uint32_t(kShared));
  EXPECT_EQ(r.scope, kNone);
  // Locals are not reached by the global search.
  EXPECT_EQ(Find(c, "local_lbl", kApp, 1).hr, E_FAIL);
  EXPECT_EQ(Find(c, "local_lbl", kMainFn, 1).hr, E_FAIL);
  // Other flag values search from the scope.
  r = Find(c, "counter", kMainFn, 2);
  EXPECT_EQ(r.id, uint32_t(kLocalCount));
}

TEST_F(SymbolProgram, SegmentGroupsAreSearchedThroughGroupReferences) {
  Lookup r = Find(c, "grpvar", kHelper);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.id, uint32_t(kGrpVar));
  EXPECT_EQ(r.scope, uint32_t(kLib));
  // "app" has no reference to the group; "?lib" does.
  r = Find(c, "grpvar", kMainFn);
  EXPECT_EQ(r.id, uint32_t(kGrpVar));
  EXPECT_EQ(r.scope, kNone);
}

TEST_F(SymbolProgram, NamesThatAreNeverFound) {
  const char* names[] = {"answer",   "six", "orphan", "Counter", "count",
                         "counter ", "",    "pin",    "led",     "x"};
  for (const char* n : names) {
    Lookup r = Find(c, n, kMainFn);
    EXPECT_EQ(r.hr, E_FAIL) << n;
    EXPECT_EQ(r.id, 0xDEADu) << n;
    EXPECT_EQ(r.scope, 0xDEADu) << n;
  }
  // Classes 6 and 9 still answer by id.
  Bstr name;
  ULONG scope, type;
  EXPECT_EQ(c->GetSymbolInfo(kAnswer, &name, &scope, &type), S_OK);
  EXPECT_EQ(name.str(), "answer");
  Location l = Where(c, kAnswer, 0);
  EXPECT_EQ(l.hr, S_OK);
  EXPECT_EQ(l.info, 3);
  EXPECT_EQ(l.address, 42u);
  // The alias and the prefixed name are both found.
  EXPECT_EQ(Find(c, "port", kApp).id, uint32_t(kPortAlias));
  EXPECT_EQ(Find(c, "_A_port", kApp).id, uint32_t(kPort));
  EXPECT_EQ(Find(c, "_A_pin", kHelper).id, uint32_t(kPin));
}

TEST_F(SymbolProgram, DamagedListsAreSkipped) {
  // Ids and group numbers that lie outside their tables.
  c->m_ScopeTable.Scopes[kMainFn].Symbols.insert(c->m_ScopeTable.Scopes[kMainFn].Symbols.begin(),
                                                 0xFFFFFFF0u);
  c->m_ScopeTable.Scopes[kLib].GroupRefs.insert(c->m_ScopeTable.Scopes[kLib].GroupRefs.begin(),
                                                0xFFFFFFFFu);
  c->m_SegmentGroups[2].m_SymbolIds.insert(c->m_SegmentGroups[2].m_SymbolIds.begin(), 1000000u);
  EXPECT_EQ(Find(c, "counter", kMainFn).id, uint32_t(kLocalCount));
  EXPECT_EQ(Find(c, "grpvar", kHelper).id, uint32_t(kGrpVar));
  EXPECT_EQ(Find(c, "nothing", kHelper).hr, E_FAIL);
}

TEST_F(SymbolProgram, LookupSymbolNameChecks) {
  ULONG id = 0xDEAD, scope = 0xDEAD;
  Bstr name("counter");
  EXPECT_EQ(c->LookupSymbolName(nullptr, 0, 0, &id, &scope), E_POINTER);
  EXPECT_EQ(c->LookupSymbolName(&name, 0, 0, nullptr, &scope), E_POINTER);
  EXPECT_FALSE(name.null());
  // The scope is checked before the flags: a global search needs a valid id.
  EXPECT_EQ(c->LookupSymbolName(&name, kNone, 1, &id, &scope), PARSER_E_BAD_ID);
  EXPECT_EQ(c->LookupSymbolName(&name, kScopeCount, 0, &id, &scope), PARSER_E_BAD_ID);
  EXPECT_EQ(id, 0xDEADu);
  // A null name names nothing; pulScopeIdOut may be null.
  Bstr none;
  EXPECT_EQ(c->LookupSymbolName(&none, 0, 0, &id, &scope), E_FAIL);
  EXPECT_EQ(c->LookupSymbolName(&name, kMainFn, 0, &id, nullptr), S_OK);
  EXPECT_EQ(id, uint32_t(kLocalCount));
  EXPECT_TRUE(name.null());
  Component fresh;
  Bstr n2("counter");
  EXPECT_EQ(fresh->LookupSymbolName(&n2, 0, 0, &id, &scope), PARSER_E_NOT_PARSED);
}

TEST(SymbolSearch, ModulesNestedAfterAnAbsoluteEndShareTheOuterSearch) {
  ubrofw::Writer w;
  w.Start()
      .BegPgm("outer")  // scope 0
      .SymbolDef(1, 0, 0x10, "a", 0)
      .EndAbs()
      .SymbolDef(1, 0, 0x20, "loose", 0)  // module state 0: attached nowhere
      .BegPgm("inner")                    // scope 1, inside 0
      .SymbolDef(1, 0, 0x30, "b", 0)
      .End()
      .BegPgm("third")  // scope 2, inside 0
      .End()
      .Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  Lookup r = Find(c, "a", 1);
  EXPECT_EQ(r.id, 0u);
  EXPECT_EQ(r.scope, 0u);
  // "b" lives in a nested module, which no search from outside reaches: the
  // second step searches only the top-level modules and skips the one the
  // outward walk ended in.
  EXPECT_EQ(Find(c, "b", 2).hr, E_FAIL);
  EXPECT_EQ(Find(c, "b", 0, 1).hr, E_FAIL);
  EXPECT_EQ(Find(c, "b", 1).id, 2u);
  EXPECT_EQ(Find(c, "loose", 0, 1).hr, E_FAIL);
}

// ---------------------------------------------------------------------------
// Info, location and labels
// ---------------------------------------------------------------------------
TEST_F(SymbolProgram, SymbolInfoGivesTheNameIndexAndType) {
  Bstr name("previous");
  ULONG nameIndex = 0xDEAD, type = 0xDEAD;
  ASSERT_EQ(c->GetSymbolInfo(kPort, &name, &nameIndex, &type), S_OK);
  EXPECT_EQ(name.str(), "_A_port");
  EXPECT_EQ(nameIndex, uint32_t(kNamePort));
  EXPECT_EQ(type, 5u);
  ASSERT_EQ(c->GetSymbolInfo(kPortAlias, &name, nullptr, &type), S_OK);
  EXPECT_EQ(name.str(), "port");
  EXPECT_EQ(type, 1u);
  ASSERT_EQ(c->GetSymbolInfo(kK, &name, &nameIndex, &type), S_OK);
  EXPECT_EQ(name.str(), "k");
  EXPECT_EQ(nameIndex, c->m_SymbolTable.Symbols[kK].NameIndex);
  EXPECT_EQ(c->GetSymbolInfo(kSymbolCount, &name, &nameIndex, &type), PARSER_E_BAD_ID);
  EXPECT_EQ(name.str(), "k");
  EXPECT_EQ(c->GetSymbolInfo(0, nullptr, &nameIndex, &type), E_POINTER);
  EXPECT_EQ(c->GetSymbolInfo(0, &name, &nameIndex, nullptr), E_POINTER);
}

TEST_F(SymbolProgram, LocationFollowsTheRanges) {
  // Own location: class 7 (kind 2), no memory type.
  Location l = Where(c, kLocalCount, 0x0FF);
  EXPECT_EQ(l.info, 2);
  EXPECT_EQ(l.address, 4u);
  EXPECT_EQ(l.memType, 0xEE);
  for (ULONG a : {0x100u, 0x17Fu}) {
    l = Where(c, kLocalCount, a);
    EXPECT_EQ(l.info, 1) << a;
    EXPECT_EQ(l.memType, 16) << a;
    EXPECT_EQ(l.address, 24u) << a;
  }
  for (ULONG a : {0x180u, 0xFFFFFFFEu}) {
    l = Where(c, kLocalCount, a);
    EXPECT_EQ(l.info, 1) << a;
    EXPECT_EQ(l.memType, 2) << a;
    EXPECT_EQ(l.address, 0x60u) << a;
  }
  l = Where(c, kLocalCount, 0xFFFFFFFF);
  EXPECT_EQ(l.info, 2);
  EXPECT_EQ(l.address, 4u);

  l = Where(c, kCounter, 0);
  EXPECT_EQ(l.info, 1);
  EXPECT_EQ(l.memType, 2);
  EXPECT_EQ(l.address, 0x60u);
  // Memory attribute 3 before any version of 2.0: program memory.
  l = Where(c, kPort, 0);
  EXPECT_EQ(l.memType, 1);

  EXPECT_EQ(Where(c, kSymbolCount, 0).hr, PARSER_E_BAD_ID);
  unsigned char info = 0, mem = 0;
  ULONG address = 0;
  EXPECT_EQ(c->GetSymbolLocation(0, 0, &info, nullptr, &mem), E_POINTER);
  EXPECT_EQ(c->GetSymbolLocation(0, 0, &info, &address, nullptr), E_POINTER);
  EXPECT_EQ(c->GetSymbolLocation(kCounter, 0, nullptr, &address, &mem), S_OK);
  EXPECT_EQ(address, 0x60u);
}

TEST(SymbolLocation, EepromAttributeFollowsTheCompilerVersion) {
  struct Case {
    std::string version;
    unsigned char memType;
  };
  const Case cases[] = {{"1.5", 1}, {"1.99", 1}, {"2.0", 4}, {"2.10A", 4}, {"abc", 1}};
  for (const Case& k : cases) {
    Component c;
    ASSERT_EQ(c.Parse(Program(k.version)), S_OK);
    Location l = Where(c, kPort, 0);
    EXPECT_EQ(l.info, 1) << k.version;
    EXPECT_EQ(l.memType, k.memType) << k.version;
  }
}

TEST_F(SymbolProgram, IoTypesAreIoMemoryWhateverTheClass) {
  // Type 5 made an i/o type (a qualified type with the i/o flags).
  c->m_TypeTable.Types[5].Kind = 21;
  c->m_TypeTable.Types[5].Word1 = 0x50;
  Location l = Where(c, kPort, 0);
  EXPECT_EQ(l.info, 1);
  EXPECT_EQ(l.memType, 8);
  EXPECT_EQ(l.address, 0x40u);
  c->m_SymbolTable.Symbols[kPin].Class = 9;
  l = Where(c, kPin, 0);
  EXPECT_EQ(l.info, 1);
  EXPECT_EQ(l.memType, 8);
  EXPECT_EQ(l.address, 0x41u);
}

TEST_F(SymbolProgram, LabelsNameTheFirstSymbolAtAnAddress) {
  HRESULT hr;
  EXPECT_EQ(Label(c, 0x200, &hr), "main");
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(Label(c, 0x300, &hr), "exit");
  EXPECT_EQ(Label(c, 0x230, &hr), "orphan");  // attached nowhere, still a label
  EXPECT_EQ(Label(c, 0x40, &hr), "_A_port");  // the alias is no label
  EXPECT_EQ(Label(c, 0x43, &hr), "plain");
  // Not labels: locals, data memory, classes other than 1 to 4, near misses.
  for (ULONG a : {0x220u, 0x60u, 0x70u, 0x80u, 0x210u, 42u, 0x201u, 0x1FFu}) {
    EXPECT_EQ(Label(c, a, &hr), "previous") << a;
    EXPECT_EQ(hr, E_FAIL) << a;
  }
  EXPECT_EQ(c->LookupLabel(0x200, nullptr), E_POINTER);
}

// ---------------------------------------------------------------------------
// Fixed answers and the program exit
// ---------------------------------------------------------------------------
TEST_F(SymbolProgram, CategoriesAndSymbolEnumeration) {
  Bstr name("held");
  EXPECT_EQ(c->EnumSymbolCategories(0, &name), PARSER_E_BAD_ID);
  EXPECT_TRUE(name.null());
  EXPECT_EQ(c->EnumSymbolCategories(7, &name), PARSER_E_BAD_ID);
  EXPECT_EQ(c->EnumSymbolCategories(0, nullptr), E_POINTER);
  ULONG id = 0;
  EXPECT_EQ(c->EnumSymbols(0, 0, &id), PARSER_E_BAD_ID);
  id = kSymbolCount - 1;
  EXPECT_EQ(c->EnumSymbols(kNone, kNone, &id), PARSER_E_BAD_ID);
  id = kSymbolCount;
  EXPECT_EQ(c->EnumSymbols(0, 0, &id), S_OK);
  EXPECT_EQ(id, uint32_t(kSymbolCount));
  EXPECT_EQ(c->EnumSymbols(0, 0, nullptr), E_POINTER);

  ubrofw::Writer w;
  w.Start().BegPgm("m").End().Finish();
  Component empty;
  ASSERT_EQ(empty.Parse(w), S_OK);
  id = 0;
  EXPECT_EQ(empty->EnumSymbols(0, 0, &id), S_OK);
}

TEST_F(SymbolProgram, ProgramExit) {
  ULONG address = 0;
  EXPECT_EQ(c->GetProgramExit(&address), S_OK);
  EXPECT_EQ(address, 0x300u);
  EXPECT_EQ(c->GetProgramExit(nullptr), E_POINTER);
}

TEST(ProgramExit, NeedsAGlobalExitWithAnAddress) {
  ULONG address = 0xDEAD;
  Component before;
  EXPECT_EQ(before->GetProgramExit(&address), E_FAIL);  // not PARSER_E_NOT_PARSED
  {
    // Only a local "exit": the global search does not see it.
    ubrofw::Writer w;
    w.Start().BegPgm("m").FuncBegin1("f", {{1, 0, 0x10, "exit", 0, {}}}).BlockEnd().End().Finish();
    Component c;
    ASSERT_EQ(c.Parse(w), S_OK);
    EXPECT_EQ(c->GetProgramExit(&address), E_FAIL);
  }
  {
    // An "exit" that is a constant, not an address.
    ubrofw::Writer w;
    w.Start().BegPgm("m").SymbolDef(22, 0, 0x10, "exit", 0).End().Finish();
    Component c;
    ASSERT_EQ(c.Parse(w), S_OK);
    EXPECT_EQ(c->GetProgramExit(&address), E_FAIL);
  }
  EXPECT_EQ(address, 0xDEADu);
  {
    // In the second module, with a range at address 0 that puts it in a
    // register.
    ubrofw::Writer w;
    w.Start().BegPgm("a").End().BegPgm("b").SymbolDef1(1, 0, 0x500, "exit", 0, {{0, 8, 0, 40}});
    w.End().Finish();
    Component c;
    ASSERT_EQ(c.Parse(w), S_OK);
    EXPECT_EQ(c->GetProgramExit(&address), S_OK);
    EXPECT_EQ(address, 16u);
  }
}

TEST(SymbolMethods, ParseStateIsCheckedAfterThePointers) {
  Component c;
  Bstr name("x");
  ULONG a = 0, b = 0;
  unsigned char u = 0, v = 0;
  EXPECT_EQ(c->LookupLabel(0, &name), PARSER_E_NOT_PARSED);
  EXPECT_EQ(c->EnumSymbolCategories(0, &name), PARSER_E_NOT_PARSED);
  EXPECT_FALSE(name.null());
  EXPECT_EQ(c->EnumSymbols(0, 0, &a), PARSER_E_NOT_PARSED);
  EXPECT_EQ(c->GetSymbolInfo(0, &name, &a, &b), PARSER_E_NOT_PARSED);
  EXPECT_EQ(c->GetSymbolLocation(0, 0, &u, &a, &v), PARSER_E_NOT_PARSED);
}

// ---------------------------------------------------------------------------
// The location rule on its own
// ---------------------------------------------------------------------------
class LocationRule : public ::testing::Test {
 protected:
  LocationRule() : types(&names), table(&names, &types) {}
  uint32_t Add(uint8_t cls, uint16_t memAttr, uint32_t value, uint16_t type = 0) {
    table.AddSymbol(cls, memAttr, value, kNone, type);
    return table.Count() - 1;
  }
  NameTable names;
  TypeTable types;
  SymbolTable table;
};

TEST_F(LocationRule, RegisterNumbersGiveTheFirstRegisterOfTheGroup) {
  struct Case {
    uint32_t n, address;
  };
  // Singles, pairs, quadruples (two series), singles again, groups of eight.
  const Case cases[] = {{0, 0},   {31, 31}, {32, 0},  {40, 16}, {47, 30},       {48, 0},  {50, 8},
                        {55, 28}, {56, 0},  {60, 16}, {61, 20}, {62, 62},       {73, 73}, {74, 0},
                        {76, 16}, {77, 24}, {78, 0},  {80, 0},  {0xFFFFFFFF, 0}};
  for (const Case& k : cases) {
    EXPECT_EQ(SymbolTable::RegisterAddress(k.n), k.address) << k.n;
    SymbolLocation l = table.GetLocation(Add(8, 0, k.n), 0);
    EXPECT_EQ(l.Kind, 1);
    EXPECT_TRUE(l.HasMemType);
    EXPECT_EQ(l.MemType, 16);
    EXPECT_EQ(l.Address, k.address) << k.n;
  }
}

TEST_F(LocationRule, KindsByClass) {
  struct Case {
    uint8_t cls;
    uint8_t kind;
    bool address, memType;
  };
  const Case cases[] = {{0, 0, false, false},  {1, 1, true, true},    {2, 1, true, true},
                        {3, 1, true, true},    {4, 1, true, true},    {5, 0, false, false},
                        {6, 0, false, false},  {7, 2, true, false},   {9, 3, true, false},
                        {21, 0, false, false}, {22, 3, true, false},  {23, 4, false, false},
                        {24, 0, false, false}, {255, 0, false, false}};
  for (const Case& k : cases) {
    SymbolLocation l = table.GetLocation(Add(k.cls, 0, 0x1234), 0);
    EXPECT_EQ(l.Kind, k.kind) << int(k.cls);
    EXPECT_EQ(l.HasAddress, k.address) << int(k.cls);
    EXPECT_EQ(l.HasMemType, k.memType) << int(k.cls);
    if (k.address) {
      EXPECT_EQ(l.Address, 0x1234u);
    }
  }
  EXPECT_EQ(table.GetLocation(table.Count(), 0).Kind, 0);
}

TEST_F(LocationRule, MemoryAttributes) {
  uint32_t data = Add(1, 2, 1), eeprom = Add(3, 3, 1), other = Add(4, 7, 1), none = Add(2, 0, 1);
  EXPECT_EQ(table.GetLocation(data, 0).MemType, 2);
  EXPECT_EQ(table.GetLocation(eeprom, 0).MemType, 1);
  EXPECT_EQ(table.GetLocation(other, 0).MemType, 1);
  EXPECT_EQ(table.GetLocation(none, 0).MemType, 1);
  table.SetCompilerVersion(1.9);
  EXPECT_EQ(table.GetLocation(eeprom, 0).MemType, 1);
  table.SetCompilerVersion(2.0);
  EXPECT_EQ(table.GetLocation(eeprom, 0).MemType, 4);
  table.SetCompilerVersion(1.0);  // never lowered
  table.SetCompilerVersion(std::nan(""));
  EXPECT_EQ(table.CompilerVersion, 2.0);
  table.CompilerVersion = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(table.GetLocation(eeprom, 0).MemType, 1);
}

TEST_F(LocationRule, RangesOfClassZeroOrTwentyOneDeferToTheSymbol) {
  uint32_t id = Add(1, 2, 0x60);
  table.AddRange(0x10, 0, 0, 0x99);
  table.AddRange(0x20, 7, 0, 3);
  table.AddRange(0x30, 21, 0, 0x99);
  table.AddRange(0x40, 9, 0, 5);
  struct Case {
    uint32_t at;
    uint8_t kind;
    uint32_t address;
  };
  const Case cases[] = {{0x0F, 1, 0x60},    {0x10, 1, 0x60},      {0x20, 2, 3},
                        {0x2F, 2, 3},       {0x30, 1, 0x60},      {0x40, 3, 5},
                        {0xFFFFFFFE, 3, 5}, {0xFFFFFFFF, 1, 0x60}};
  for (const Case& k : cases) {
    SymbolLocation l = table.GetLocation(id, k.at);
    EXPECT_EQ(l.Kind, k.kind) << k.at;
    EXPECT_EQ(l.Address, k.address) << k.at;
  }
  // A range count that runs past the range table stops at its end.
  table.Symbols[id].RangeCount = 1000;
  EXPECT_EQ(table.GetLocation(id, 0x50).Kind, 3);
  table.Symbols[id].FirstRange = 0xFFFFFFF0u;
  EXPECT_EQ(table.GetLocation(id, 0x50).Kind, 1);
}

TEST_F(LocationRule, IoTypeWinsAndUsesTheChosenValue) {
  types.Types[12].Kind = 36;
  types.Types[12].Word1 = 0x8000;
  uint32_t id = Add(7, 0, 0x30, 12);
  table.AddRange(0x100, 9, 0, 0x31);
  SymbolLocation l = table.GetLocation(id, 0);
  EXPECT_EQ(l.Kind, 1);
  EXPECT_EQ(l.MemType, 8);
  EXPECT_EQ(l.Address, 0x30u);
  l = table.GetLocation(id, 0x100);
  EXPECT_EQ(l.Address, 0x31u);
  // Type ids beyond the type table are simply not i/o types.
  uint32_t far = Add(1, 0, 0x30, 0xFFFF);
  EXPECT_EQ(table.GetLocation(far, 0).MemType, 1);
}
