// The symbol table: symbol and macro records, attachment, the label index,
// locations, the searches by name and the symbol methods.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <tuple>

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
  kPort,        // "_A_port", eeprom attribute
  kPortAlias,   // its alias "port"
  kPin,         // "_A_pin", attribute without the alias bit
  kLed,         // "_A_led", followed by another record
  kPlain,       // "plain", not prefixed
  kSymbolCount
};
enum : uint32_t { kApp, kMainFn, kBlock, kLib, kHelper, kScopeCount };
// Name entries made first, by t_scoped_name.
enum : uint32_t { kNamePort, kNamePin, kNameLed, kNamePlainName };

ubrofw::Writer Program(const std::string& toolVersion = "1.5") {
  ubrofw::Writer w;
  w.Start().ScopedName1("_A_port", 77).ScopedName1("_A_pin", kNone);
  w.ScopedName1("_A_led", kNone).ScopedName1("plain", kNone);
  w.BegPgm("app").Aux1(0, toolVersion);
  w.SymbolDef1(1, 2, 0x60, "counter", 0).SymbolDef(1, 0, 0x200, "main", 0, "xyz");
  w.SymbolDef(2, 0, 0x200, "main_too", 0).SymbolDef(9, 0, 42, "answer", 0);
  w.SymbolDef(6, 0, 0x210, "six", 0).SymbolDef(1, 0, 0x300, "exit", 0);
  w.FuncBegin1("main", {{7, 0, 4, "counter", 0, {{0x100, 8, 0, 24}, {0x180, 1, 2, 0x60}}},
                        {1, 0, 0x220, "local_lbl", 0, {}}});
  w.BlockBegin1({{2, 2, 5, "k", 0, {}}}).BlockEnd();
  w.SymbolDef(1, 0, 0x230, "orphan", 0).BlockEnd();
  w.Grp(2).SymbolDef(1, 2, 0x70, "grpvar", 0).Macro("VERSION", "3").End();
  w.BegLib("?lib").GrpRef(40).GrpRef(2).Macro("LIBMAC", "x");  // no group 40
  w.SymbolDef(1, 2, 0x80, "shared", 0);
  w.SymbolDef2(1, 3, 0x40, kNamePort, 5).SubDefObjAttr(1);
  w.SymbolDef2(1, 0, 0x41, kNamePin, 5).SubDefObjAttr(0x10);
  w.SymbolDef2(1, 0, 0x42, kNameLed, 5).Macro("AFTER", "1");
  w.SymbolDef2(1, 0, 0x43, kNamePlainName, 5).SubDefObjAttr(1, "xy");
  w.FuncBegin1("helper").BlockEnd().EndAbs().Finish();
  return w;
}

struct Lookup {
  HRESULT hr;
  ULONG id = 0xDEAD, scope = 0xDEAD;
};

Lookup Find(Component& c, const std::string& name, ULONG scope, ULONG flags = 0) {
  Lookup r;
  Bstr b(name);
  r.hr = c->LookupSymbolName(&b, scope, flags, &r.id, &r.scope);
  EXPECT_TRUE(b.null()) << name;
  return r;
}

struct Location {
  HRESULT hr;
  unsigned char info = 0xEE, memType = 0xEE;
  ULONG address = 0xDEAD;
};

Location Where(Component& c, ULONG id, ULONG address) {
  Location l;
  l.hr = c->GetSymbolLocation(id, address, &l.info, &l.address, &l.memType);
  return l;
}

class SymbolProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(c.Parse(Program()), S_OK);
    ASSERT_EQ(c.Program().Count().symbols, uint32_t(kSymbolCount));
    ASSERT_EQ(c.Program().Count().scopes, uint32_t(kScopeCount));
  }
  Component c;
};

}  // namespace

TEST_F(SymbolProgram, DefinitionsAttachByModuleState) {
  const mirl::api::Program prog = c.Program();
  const std::vector<uint32_t> owned[kScopeCount] = {
      {kCounter, kMain, kMainToo, kAnswer, kSix, kExit},
      {kLocalCount, kLocalLabel},
      {kK},
      {kShared, kPort, kPortAlias, kPin, kLed, kPlain},
      {}};
  for (uint32_t id = 0; id < kScopeCount; ++id) {
    mirl::api::Scope s;
    ASSERT_TRUE(prog.GetScope(id, &s));
    EXPECT_EQ(s.symbols, owned[id]) << id;
    EXPECT_EQ(s.macros, id == kLib ? (std::vector<uint32_t>{1, 2}) : std::vector<uint32_t>{}) << id;
  }
  const std::vector<mirl::api::SegmentGroup> groups = prog.SegmentGroups();
  ASSERT_GT(groups.size(), 2u);
  EXPECT_EQ(groups[2].symbols, (std::vector<uint32_t>{kGrpVar}));
  EXPECT_EQ(groups[2].macros, (std::vector<uint32_t>{0}));
  const std::vector<mirl::api::Symbol> symbols = prog.Symbols();
  // The orphan is stored, attached nowhere.
  EXPECT_EQ(std::tie(symbols[kOrphan].scope, symbols[kOrphan].segmentGroup),
            std::make_tuple(mirl::api::kNoId, mirl::api::kNoId));
  const std::vector<mirl::api::Macro> macros = prog.Macros();
  ASSERT_EQ(macros.size(), 3u);
  EXPECT_EQ(std::tie(macros[0].name, macros[0].text), std::make_tuple("VERSION", "3"));

  const mirl::api::Symbol& local = symbols[kLocalCount];
  ASSERT_EQ(local.ranges.size(), 2u);
  EXPECT_EQ(local.ranges[1].start, 0x180u);
  // The alias: same location, type 1, no ranges, a name of its own.
  EXPECT_EQ(symbols[kPort].nameIndex, uint32_t(kNamePort));
  const mirl::api::Symbol& alias = symbols[kPortAlias];
  EXPECT_EQ(std::tie(alias.type, alias.memoryAttribute, alias.value, alias.name),
            std::make_tuple(1, 3, 0x40u, "port"));
  EXPECT_TRUE(alias.ranges.empty());
}

TEST(SymbolRecords, AliasNeedsThePrefixTheBitAndTheNextRecord) {
  const struct {
    std::string name;
    bool objAttrFollows;
    uint32_t attribute, expectedSymbols;
  } cases[] = {
      {"_A_x", true, 1, 2},  {"_A_x", true, 0xFFFFFFFF, 2}, {"_A_x", true, 0xFFFFFFFE, 1},
      {"_A_x", false, 1, 1}, {"_a_x", true, 1, 1},          {"A_x", true, 1, 1},
      {"_A_", true, 1, 2},  // an empty alias name
  };
  for (const auto& k : cases) {
    ubrofw::Writer w;
    w.Start().ScopedName1(k.name, kNone).BegPgm("m").SymbolDef2(1, 0, 0x10, 0, 9);
    if (!k.objAttrFollows) w.Macro("M", "");
    w.SubDefObjAttr(k.attribute, "e").End().BegPgm("next").End().Finish();
    Component c;
    ASSERT_EQ(c.Parse(w), S_OK) << k.name;
    const mirl::api::Program prog = c.Program();
    EXPECT_EQ(prog.Count().symbols, k.expectedSymbols) << k.name << " " << k.attribute;
    // The peeked record was read again by the tag loop: the module ended
    // and the next one is a module of its own.
    EXPECT_EQ(prog.RootScopes(), (std::vector<uint32_t>{0, 1}));
    mirl::api::Symbol alias;
    mirl::api::Scope m;
    if (k.expectedSymbols == 2 && prog.GetSymbol(1, &alias) && prog.GetScope(0, &m)) {
      EXPECT_EQ(alias.name, k.name.substr(3));
      EXPECT_EQ(m.symbols, (std::vector<uint32_t>{0, 1}));
    }
  }
  // The look-ahead reads one byte past the record.
  ubrofw::Writer end;
  end.Start().ScopedName1("_A_x", kNone).BegPgm("m").SymbolDef2(1, 0, 0x10, 0, 9);
  Component c;
  EXPECT_EQ(c.Parse(end), PARSER_E_INVALID_FILE);
  EXPECT_EQ(c.Program().Count().symbols, 1u);
}

TEST(SymbolRecords, CutShortRecordsFailAndKeepWhatWasRead) {
  const std::function<void(ubrofw::Writer&)> tails[] = {
      [](ubrofw::Writer& w) { w.Byte(0x4C).Byte(1).Word(0).Long(5).ByteString("n").Word(0); },
      [](ubrofw::Writer& w) {
        w.Byte(0xA6).Byte(1).Word(0).Long(5).ByteString("n").Word(0).Word(2).Zeros(13);
      },
      [](ubrofw::Writer& w) { w.Byte(0xCE).Zeros(4).Byte(1).Word(0).Long(5); },
      [](ubrofw::Writer& w) { w.Byte(0xC3).Zeros(2).Long(1).Byte(4).Text("ab"); },
      [](ubrofw::Writer& w) { w.Byte(0x4E).ByteString("M").Word(100).Text("short"); },
  };
  for (const auto& tail : tails) {
    ubrofw::Writer w;
    w.Start().BegPgm("m").SymbolDef(1, 0, 0x10, "kept", 0).Macro("K", "1");
    tail(w);
    Component c;
    EXPECT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
    mirl::api::Symbol kept;
    ASSERT_TRUE(c.Program().GetSymbol(0, &kept));
    EXPECT_EQ(kept.name, "kept");
    EXPECT_EQ(c.Program().Macros().size(), 1u);
  }
}

TEST_F(SymbolProgram, SearchesByName) {
  const ULONG fail = ULONG(E_FAIL);
  const struct {
    const char* name;
    ULONG from, flags, id, scope;
  } cases[] = {
      // clang-format off
      // A local shadows the global inside its function; outward from a
      // block; only flag 1 is global; never inward.
      {"counter", kMainFn, 0, kLocalCount, kMainFn}, {"counter", kBlock, 0, kLocalCount, kMainFn},
      {"counter", kApp, 0, kCounter, kApp},          {"counter", kMainFn, 2, kLocalCount, kMainFn},
      {"k", kBlock, 0, kK, kBlock},                  {"k", kMainFn, 0, fail, 0},
      // Other modules: found, but without a scope.
      {"shared", kMainFn, 0, kShared, kNone},        {"shared", kHelper, 0, kShared, kLib},
      {"counter", kBlock, 1, kCounter, kNone},       {"shared", kApp, 1, kShared, kNone},
      {"local_lbl", kApp, 1, fail, 0},
      // Segment groups through the group references of "?lib"; the alias
      // and the prefixed name.
      {"grpvar", kHelper, 0, kGrpVar, kLib},         {"grpvar", kMainFn, 0, kGrpVar, kNone},
      {"port", kApp, 0, kPortAlias, kNone},          {"_A_port", kHelper, 0, kPort, kLib},
      // Never found: classes 6 and 9, unattached, other case, near misses.
      {"answer", kApp, 0, fail, 0}, {"six", kApp, 0, fail, 0}, {"orphan", kMainFn, 0, fail, 0},
      {"Counter", kMainFn, 0, fail, 0}, {"counter ", kMainFn, 0, fail, 0}, {"", kMainFn, 0, fail, 0},
      {"pin", kHelper, 0, fail, 0}, {"led", kHelper, 0, fail, 0},
      // clang-format on
  };
  for (const auto& k : cases) {
    Lookup r = Find(c, k.name, k.from, k.flags);
    const bool found = k.id != fail;
    EXPECT_EQ(
        std::make_tuple(r.hr, r.id, r.scope),
        std::make_tuple(found ? S_OK : E_FAIL, found ? k.id : 0xDEAD, found ? k.scope : 0xDEAD))
        << k.name << " from " << k.from;
  }
}

TEST_F(SymbolProgram, LookupSymbolNameChecks) {
  ULONG id = 0xDEAD, scope = 0xDEAD;
  Bstr name("counter");
  EXPECT_EQ(c->LookupSymbolName(nullptr, 0, 0, &id, &scope), E_POINTER);
  EXPECT_EQ(c->LookupSymbolName(&name, 0, 0, nullptr, &scope), E_POINTER);
  // The scope is checked before the flags: a global search needs a valid id.
  EXPECT_EQ(c->LookupSymbolName(&name, kNone, 1, &id, &scope), PARSER_E_BAD_ID);
  EXPECT_EQ(c->LookupSymbolName(&name, kScopeCount, 0, &id, &scope), PARSER_E_BAD_ID);
  EXPECT_EQ(id, 0xDEADu);
  Bstr none;  // a null name names nothing
  EXPECT_EQ(c->LookupSymbolName(&none, 0, 0, &id, &scope), E_FAIL);
  EXPECT_EQ(c->LookupSymbolName(&name, kMainFn, 0, &id, nullptr), S_OK);
  EXPECT_EQ(id, uint32_t(kLocalCount));
}

TEST(SymbolSearch, ModulesNestedAfterAnAbsoluteEndAreReachedOnlyFromInside) {
  ubrofw::Writer w;
  w.Start().BegPgm("outer").SymbolDef(1, 0, 0x10, "a", 0).EndAbs();  // scope 0, left open
  w.SymbolDef(1, 0, 0x20, "loose", 0);                               // state 0: nowhere
  w.BegPgm("inner").SymbolDef(1, 0, 0x30, "b", 0).End();             // scope 1, inside 0
  w.BegPgm("third").End().Finish();                                  // scope 2, inside 0
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  const mirl::api::Program prog = c.Program();
  mirl::api::Scope outer, inner;
  ASSERT_TRUE(prog.GetScope(0, &outer) && prog.GetScope(1, &inner));
  EXPECT_EQ(prog.RootScopes(), (std::vector<uint32_t>{0}));
  EXPECT_EQ(outer.children, (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(inner.kind, unsigned(mirl::api::kModule));
  Lookup r = Find(c, "a", 1);
  EXPECT_EQ(std::tie(r.id, r.scope), std::make_tuple(0u, 0u));
  EXPECT_EQ(Find(c, "b", 1).id, 2u);
  // The second step searches only top-level modules, skipping the one the
  // outward walk ended in.
  EXPECT_EQ(Find(c, "b", 2).hr, E_FAIL);
  EXPECT_EQ(Find(c, "b", 0, 1).hr, E_FAIL);
  EXPECT_EQ(Find(c, "loose", 0, 1).hr, E_FAIL);
}

TEST_F(SymbolProgram, SymbolInfo) {
  Bstr name("previous");
  ULONG nameIndex = 0xDEAD, type = 0xDEAD;
  ASSERT_EQ(c->GetSymbolInfo(kPort, &name, &nameIndex, &type), S_OK);
  EXPECT_EQ(name.str(), "_A_port");
  EXPECT_EQ(nameIndex, uint32_t(kNamePort));  // the name index, not a scope
  EXPECT_EQ(type, 5u);
  ASSERT_EQ(c->GetSymbolInfo(kPortAlias, &name, nullptr, &type), S_OK);
  EXPECT_EQ(name.str(), "port");
  EXPECT_EQ(type, 1u);
  ASSERT_EQ(c->GetSymbolInfo(kAnswer, &name, &nameIndex, &type), S_OK);  // class 9 too
  EXPECT_EQ(name.str(), "answer");
  EXPECT_EQ(c->GetSymbolInfo(kSymbolCount, &name, &nameIndex, &type), PARSER_E_BAD_ID);
  EXPECT_EQ(name.str(), "answer");
  EXPECT_EQ(c->GetSymbolInfo(0, nullptr, &nameIndex, &type), E_POINTER);
  EXPECT_EQ(c->GetSymbolInfo(0, &name, &nameIndex, nullptr), E_POINTER);

  // A name index from the file beyond the name table gives an empty name.
  ubrofw::Writer w;
  w.Start().BegPgm("m").SymbolDef2(1, 0, 0x10, 0xFFFFFF00, 9).SubDefObjAttr(1).End().Finish();
  Component odd;
  ASSERT_EQ(odd.Parse(w), S_OK);
  ASSERT_EQ(odd->GetSymbolInfo(0, &name, &nameIndex, &type), S_OK);
  EXPECT_EQ(name.str(), "");
  EXPECT_EQ(nameIndex, 0xFFFFFF00u);
}

TEST_F(SymbolProgram, LocationFollowsTheRanges) {
  const struct {
    uint32_t id;
    ULONG at;
    unsigned char info, memType;
    ULONG address;
  } cases[] = {
      {kLocalCount, 0x0FF, 2, 0xEE, 4},  // own location: class 7, no memory type
      {kLocalCount, 0x100, 1, 16, 24},   // register 24
      {kLocalCount, 0x17F, 1, 16, 24},
      {kLocalCount, 0x180, 1, 2, 0x60},
      {kLocalCount, 0xFFFFFFFE, 1, 2, 0x60},
      {kLocalCount, 0xFFFFFFFF, 2, 0xEE, 4},  // asks for the own location
      {kCounter, 0, 1, 2, 0x60},
      {kPort, 0, 1, 1, 0x40},  // attribute 3 before a version 2.0: program
      {kAnswer, 0, 3, 0xEE, 42},
  };
  for (const auto& k : cases) {
    Location l = Where(c, k.id, k.at);
    EXPECT_EQ(std::make_tuple(l.hr, l.info, l.memType, l.address),
              std::make_tuple(S_OK, k.info, k.memType, k.address))
        << k.id << " at " << k.at;
  }
  EXPECT_EQ(Where(c, kSymbolCount, 0).hr, PARSER_E_BAD_ID);
  unsigned char info = 0, mem = 0;
  ULONG address = 0;
  EXPECT_EQ(c->GetSymbolLocation(0, 0, &info, nullptr, &mem), E_POINTER);
  EXPECT_EQ(c->GetSymbolLocation(0, 0, &info, &address, nullptr), E_POINTER);
  EXPECT_EQ(c->GetSymbolLocation(kCounter, 0, nullptr, &address, &mem), S_OK);
  EXPECT_EQ(address, 0x60u);

  // An i/o type makes any class an address in i/o memory.
  ubrofw::Writer w;
  w.Start().TypeQualified21(5, 0x50, 6).BegPgm("m").SymbolDef(9, 0, 0x41, "pin", 5).End().Finish();
  Component ioc;
  ASSERT_EQ(ioc.Parse(w), S_OK);
  Location io = Where(ioc, 0, 0);
  EXPECT_EQ(std::make_tuple(io.info, io.memType, io.address), std::make_tuple(1, 8, 0x41u));
}

TEST(SymbolLocation, EepromAttributeFollowsTheCompilerVersion) {
  const struct {
    const char* version;
    unsigned char memType;
  } cases[] = {{"1.5", 1}, {"1.99", 1}, {"2.0", 4}, {"2.10A", 4}, {"abc", 1}};
  for (const auto& k : cases) {
    Component c;
    ASSERT_EQ(c.Parse(Program(k.version)), S_OK);
    EXPECT_EQ(Where(c, kPort, 0).memType, k.memType) << k.version;
  }
}

TEST_F(SymbolProgram, LabelsNameTheFirstSymbolAtAnAddress) {
  const struct {
    ULONG address;
    const char* label;  // null: no label
  } cases[] = {
      {0x200, "main"},   {0x300, "exit"},  {0x230, "orphan"},  // attached nowhere, still a label
      {0x40, "_A_port"},                                       // not its alias
      {0x43, "plain"},   {0x220, nullptr},                     // a local
      {0x60, nullptr},   {0x80, nullptr},                      // data memory
      {0x210, nullptr},  {42, nullptr},                        // classes 6 and 9
      {0x201, nullptr},  {0x1FF, nullptr},
  };
  for (const auto& k : cases) {
    Bstr b("previous");
    HRESULT hr = c->LookupLabel(k.address, &b);
    EXPECT_EQ(hr, k.label ? S_OK : E_FAIL) << k.address;
    EXPECT_EQ(b.str(), k.label ? k.label : "previous") << k.address;
  }
  EXPECT_EQ(c->LookupLabel(0x200, nullptr), E_POINTER);
}

TEST_F(SymbolProgram, FixedAnswersAndTheProgramExit) {
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
  ULONG address = 0;
  EXPECT_EQ(c.Mem()->GetProgramExit(&address), S_OK);
  EXPECT_EQ(address, 0x300u);
  EXPECT_EQ(c.Mem()->GetProgramExit(nullptr), E_POINTER);
}

TEST(ProgramExit, NeedsAGlobalExitWithAnAddress) {
  ULONG address = 0xDEAD;
  Component before;
  EXPECT_EQ(before.Mem()->GetProgramExit(&address), E_FAIL);  // not PARSER_E_NOT_PARSED
  const std::function<void(ubrofw::Writer&)> fails[] = {
      [](ubrofw::Writer&) {},  // no exit, no symbols at all
      [](ubrofw::Writer& w) {
        w.FuncBegin1("f", {{1, 0, 0x10, "exit", 0, {}}}).BlockEnd();
      },
      [](ubrofw::Writer& w) { w.SymbolDef(22, 0, 0x10, "exit", 0); },  // a constant
  };
  for (const auto& body : fails) {
    ubrofw::Writer w;
    w.Start().BegPgm("m");
    body(w);
    w.End().Finish();
    Component c;
    ASSERT_EQ(c.Parse(w), S_OK);
    EXPECT_EQ(c.Mem()->GetProgramExit(&address), E_FAIL);
    ULONG id = 0;
    EXPECT_EQ(c->EnumSymbols(0, 0, &id), c.Program().Count().symbols ? PARSER_E_BAD_ID : S_OK);
  }
  EXPECT_EQ(address, 0xDEADu);
  // In the second module, with a range at address 0 that puts it in a register.
  ubrofw::Writer w;
  w.Start().BegPgm("a").End().BegPgm("b").SymbolDef1(1, 0, 0x500, "exit", 0, {{0, 8, 0, 40}});
  w.End().Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  EXPECT_EQ(c.Mem()->GetProgramExit(&address), S_OK);
  EXPECT_EQ(address, 16u);
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
  EXPECT_EQ(c->LookupSymbolName(&name, 0, 0, &a, &b), PARSER_E_NOT_PARSED);
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
  // Singles, pairs, quadruples (two series), singles again, groups of eight.
  const uint32_t cases[][2] = {{0, 0},   {31, 31}, {32, 0},  {40, 16},       {47, 30},
                               {48, 0},  {50, 8},  {55, 28}, {56, 0},        {60, 16},
                               {61, 20}, {62, 62}, {73, 73}, {74, 0},        {76, 16},
                               {77, 24}, {78, 0},  {80, 0},  {0xFFFFFFFF, 0}};
  for (const auto& k : cases) {
    SymbolLocation l = table.GetLocation(Add(8, 0, k[0]), 0);
    EXPECT_EQ(std::make_tuple(l.Kind, l.MemType, l.Address), std::make_tuple(1, 16, k[1])) << k[0];
  }
}

TEST_F(LocationRule, KindsByClassAndMemoryAttribute) {
  const struct {
    uint8_t cls, kind;
    bool address, memType;
  } cases[] = {{0, 0, false, false},  {1, 1, true, true},    {2, 1, true, true},
               {3, 1, true, true},    {4, 1, true, true},    {5, 0, false, false},
               {6, 0, false, false},  {7, 2, true, false},   {9, 3, true, false},
               {21, 0, false, false}, {22, 3, true, false},  {23, 4, false, false},
               {24, 0, false, false}, {255, 0, false, false}};
  for (const auto& k : cases) {
    SymbolLocation l = table.GetLocation(Add(k.cls, 0, 0x1234), 0);
    EXPECT_EQ(std::make_tuple(l.Kind, l.HasAddress, l.HasMemType, l.HasAddress ? l.Address : 0),
              std::make_tuple(k.kind, k.address, k.memType, k.address ? 0x1234u : 0))
        << int(k.cls);
  }
  EXPECT_EQ(table.GetLocation(table.Count(), 0).Kind, 0);

  uint32_t data = Add(1, 2, 1), eeprom = Add(3, 3, 1), other = Add(4, 7, 1);
  EXPECT_EQ(table.GetLocation(data, 0).MemType, 2);
  EXPECT_EQ(table.GetLocation(other, 0).MemType, 1);
  table.SetCompilerVersion(1.9);
  EXPECT_EQ(table.GetLocation(eeprom, 0).MemType, 1);
  table.SetCompilerVersion(2.0);
  EXPECT_EQ(table.GetLocation(eeprom, 0).MemType, 4);
  table.SetCompilerVersion(1.0);  // never lowered
  table.SetCompilerVersion(std::nan(""));
  EXPECT_EQ(table.CompilerVersion, 2.0);
  table.CompilerVersion = std::nan("");  // counts as below 2.0
  EXPECT_EQ(table.GetLocation(eeprom, 0).MemType, 1);
}

TEST_F(LocationRule, RangesOfClassZeroOrTwentyOneDeferToTheSymbol) {
  uint32_t id = Add(1, 2, 0x60);
  table.AddRange(0x10, 0, 0, 0x99);
  table.AddRange(0x20, 7, 0, 3);
  table.AddRange(0x30, 21, 0, 0x99);
  table.AddRange(0x40, 9, 0, 5);
  const uint32_t cases[][3] = {{0x0F, 1, 0x60},    {0x10, 1, 0x60},      {0x20, 2, 3},
                               {0x2F, 2, 3},       {0x30, 1, 0x60},      {0x40, 3, 5},
                               {0xFFFFFFFE, 3, 5}, {0xFFFFFFFF, 1, 0x60}};
  for (const auto& k : cases) {
    SymbolLocation l = table.GetLocation(id, k[0]);
    EXPECT_EQ(std::make_tuple(uint32_t(l.Kind), l.Address), std::make_tuple(k[1], k[2])) << k[0];
  }
  // Range lists that run past the range table stop at its end.
  table.Symbols[id].RangeCount = 1000;
  EXPECT_EQ(table.GetLocation(id, 0x50).Kind, 3);
  table.Symbols[id].FirstRange = 0xFFFFFFF0u;
  EXPECT_EQ(table.GetLocation(id, 0x50).Kind, 1);
  // An i/o type uses the value the ranges chose; type ids beyond the type
  // table are no i/o types.
  types.Types[12].Kind = 36;
  types.Types[12].Word1 = 0x8000;
  uint32_t io = Add(7, 0, 0x30, 12);
  table.AddRange(0x100, 9, 0, 0x31);
  EXPECT_EQ(table.GetLocation(io, 0).MemType, 8);
  EXPECT_EQ(table.GetLocation(io, 0).Address, 0x30u);
  EXPECT_EQ(table.GetLocation(io, 0x100).Address, 0x31u);
  EXPECT_EQ(table.GetLocation(Add(1, 0, 0x30, 0xFFFF), 0).MemType, 1);
}
