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
