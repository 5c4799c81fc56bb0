// The symbol table: symbol and macro records, attachment, the label index,
// locations, the searches by name and the symbol methods.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <tuple>

#include "TestSupport.h"

using namespace mirl;

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
  kK,           // local of the block inside main, with a range
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
  w.BlockBegin1({{2, 2, 5, "k", 0, {{0x100, 1, 2, 0x70}}}}).BlockEnd();
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

// Ranges of class 0 or 21 defer to the symbol; a range list that runs
// past the shared list stops at its end; an i/o type takes the address the
// ranges chose, and a type id beyond the table is no i/o type.
TEST_F(LocationRule, RangesDeferOrChooseAndStopAtTheEndOfTheList) {
  uint32_t id = Add(1, 2, 0x60);
  const uint32_t ranges[][3] = {{0x10, 0, 0x99}, {0x20, 7, 3}, {0x30, 21, 0x99}, {0x40, 9, 5}};
  for (const auto& r : ranges) table.AddRange(r[0], uint8_t(r[1]), 0, r[2]);
  const uint32_t cases[][3] = {{0x0F, 1, 0x60},    {0x10, 1, 0x60},      {0x20, 2, 3},
                               {0x2F, 2, 3},       {0x30, 1, 0x60},      {0x40, 3, 5},
                               {0xFFFFFFFE, 3, 5}, {0xFFFFFFFF, 1, 0x60}};
  for (const auto& k : cases) {
    SymbolLocation l = table.GetLocation(id, k[0]);
    EXPECT_EQ(std::make_tuple(uint32_t(l.Kind), l.Address), std::make_tuple(k[1], k[2])) << k[0];
  }
  table.Symbols[id].RangeCount = 1000;
  EXPECT_EQ(table.GetLocation(id, 0x50).Kind, 3);
  table.Symbols[id].FirstRange = 0xFFFFFFF0u;
  EXPECT_EQ(table.GetLocation(id, 0x50).Kind, 1);
  types.Types[12].Kind = 36;
  types.Types[12].Word1 = 0x8000;
  uint32_t io = Add(7, 0, 0x30, 12);
  table.AddRange(0x100, 9, 0, 0x31);
  EXPECT_EQ(std::make_tuple(table.GetLocation(io, 0).MemType, table.GetLocation(io, 0).Address,
                            table.GetLocation(io, 0x100).Address),
            std::make_tuple(8, 0x30u, 0x31u));
  EXPECT_EQ(table.GetLocation(Add(1, 0, 0x30, 0xFFFF), 0).MemType, 1);
}

// What a host is told about the program's symbols, one row per call.
TEST_F(SymbolProgram, LabelsSymbolInfoAndLocationsAsAHostAsks) {
  Bstr label;
  EXPECT_EQ(c->LookupLabel(0x200, &label), S_OK);
  EXPECT_EQ(label.str(), "main");
  EXPECT_EQ(c->LookupLabel(0x201, &label), E_FAIL);
  // EnumSymbols tells whether an id is past the last symbol; macros keep their names.
  ULONG past = kSymbolCount, last = kSymbolCount - 1;
  EXPECT_EQ(std::make_pair(c->EnumSymbols(0, 0, &past), c->EnumSymbols(0, 0, &last)),
            std::make_pair(S_OK, PARSER_E_BAD_ID));
  EXPECT_EQ(c.Program().Macros().at(0).name + "=" + c.Program().Macros().at(0).text, "VERSION=3");
  api::Scope lib;  // LIBMAC (macro 1) belongs to the module it is defined in
  ASSERT_TRUE(c.Program().GetScope(kLib, &lib));
  EXPECT_EQ(std::count(lib.macros.begin(), lib.macros.end(), 1u), 1);

  // GetSymbolInfo reports the name index where a scope id would be, and
  // a null place for it is no error.
  Bstr name;
  ULONG scope = 0, type = 0;
  ASSERT_EQ(c->GetSymbolInfo(kCounter, &name, &scope, &type), S_OK);
  api::Symbol s;
  ASSERT_TRUE(c.Program().GetSymbol(kCounter, &s));
  EXPECT_EQ(std::make_tuple(name.str(), scope, type), std::make_tuple("counter", s.nameIndex, 0ul));
  EXPECT_EQ(c->GetSymbolInfo(kMain, &name, nullptr, &type), S_OK);
  EXPECT_EQ(name.str(), "main");

  // Locations: the symbol's own, then the range in force at an address
  // (a register from 0x100, data memory from 0x180; the ranges of k that
  // follow in the shared list are not its own); attribute 2 is data.
  const struct {
    uint32_t id, address;
    unsigned kind, memType;
    ULONG where;
  } rows[] = {{kLocalCount, 0xFFFFFFFF, 2, 0x77, 4},
              {kLocalCount, 0xFF, 2, 0x77, 4},
              {kLocalCount, 0x100, 1, 16, 24},
              {kLocalCount, 0x17F, 1, 16, 24},
              {kLocalCount, 0x180, 1, 2, 0x60},
              {kCounter, 0, 1, 2, 0x60},
              {kMain, 0, 1, 1, 0x200},
              {kAnswer, 0, 3, 0x77, 42},
              {kPort, 0, 1, 1, 0x40}};
  for (const auto& r : rows) {
    unsigned char kind = 0, mem = 0x77;
    ULONG where = 0;
    ASSERT_EQ(c->GetSymbolLocation(r.id, r.address, &kind, &where, &mem), S_OK);
    EXPECT_EQ(std::make_tuple(unsigned(kind), unsigned(mem), where),
              std::make_tuple(r.kind, r.memType, r.where))
        << r.id << " at " << r.address;
  }
}

// Over segment groups (one of them missing), aliases and hidden modules.
TEST_F(SymbolProgram, NameIndexAnswersAsTheScansDo) {
  testsupport::ExpectIndexAnswersAsScans(c, c.Path(), 1);
}

// The eeprom attribute means eeprom for tools of version 2.0 and later;
// earlier ones, and versions that are not numbers, put it in program memory.
TEST(SymbolLocation, EepromAttributeByToolVersion) {
  for (const auto& [version, mem] :
       {std::pair<std::string, unsigned>{"1.99", 1}, {"2.0", 4}, {"2.01", 4}, {"v2", 1}}) {
    Component c;
    ASSERT_EQ(c.Parse(Program(version)), S_OK);
    unsigned char kind = 0, memType = 0;
    ULONG where = 0;
    ASSERT_EQ(c->GetSymbolLocation(kPort, 0, &kind, &where, &memType), S_OK);
    EXPECT_EQ(unsigned(memType), mem) << version;
  }
}
