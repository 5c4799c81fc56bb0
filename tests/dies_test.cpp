// The debug-information-entry view: a host walks the program with GetDies,
// GetTag and GetAttr only, and finds entries with LookupDie.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <tuple>

#include "TestSupport.h"

namespace {

// Types used below: 6 is the predefined "int"; 120 a function type.
ubrofw::Writer Program() {
  ubrofw::Writer w;
  w.Start();
  w.TypeFunction20(120, 6, 0, {});
  w.BegLib("main");  // scope 0
  w.FileRef(1, "C:\\src\\main.h").FileRef(0, "C:\\src\\main.c");
  w.SymbolDef(1, 2, 0x200, "counter", 6);                 // symbol 0
  w.SymbolDef(1, 0, 0x100, "main", 120);                  // symbol 1: a function
  w.SymbolDef(1, 2, 0x202, "untyped", 0);                 // symbol 2: type 0
  w.FuncBegin1("main", {{1, 2, 0x300, "local", 6, {}}});  // scope 1, symbol 3
  w.Org(1, 0x100).SrcStat(3, 1, 3, 10).AbsVar(std::vector<uint8_t>(0x80, 0));
  w.SrcStat(4, 1, 4, 10).AbsVar(std::vector<uint8_t>(0x80, 0));
  w.BlockBegin1({{8, 0, 24, "reg", 6, {}}});  // scope 2, symbol 4
  w.BlockEnd();
  w.BlockEnd();
  w.FuncBegin1("idle");  // scope 3, no code
  w.BlockEnd();
  w.End();
  w.BegLib("?hidden");                    // scope 4
  w.SymbolDef(1, 2, 0x400, "secret", 6);  // symbol 5
  w.BlockBegin1();                        // scope 5: a block under a module
  w.BlockEnd();
  w.End();
  w.Finish();
  return w;
}

std::string NameAttr(IMirlParser3* c, LONG die) {
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(c->GetAttr(die, 0x03, &v), S_OK);
  EXPECT_EQ(v.vt, VT_BSTR);
  std::string s = v.vt == VT_BSTR ? platform::BstrToAnsi(v.bstrVal) : "";
  VariantClear(&v);
  return s;
}

LONG IntAttr(IMirlParser3* c, LONG die, LONG attr) {
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(c->GetAttr(die, attr, &v), S_OK);
  EXPECT_EQ(v.vt, VT_I4);
  return v.lVal;
}

LONG Lookup(IMirlParser3* c, LONG parent, const std::string& name, LONG tag) {
  Bstr b(name);
  LONG die = -1;
  EXPECT_EQ(c->LookupDie(parent, b.get(), tag, &die), S_OK);
  return die;
}

class DieView : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(c.Parse(Program()), S_OK); }
  Component c;
  const LONG S = 6;  // scopes
  LONG Scope(uint32_t id) { return LONG(id + 1); }
  LONG Symbol(uint32_t id) { return S + LONG(id) + 1; }
};

}  // namespace

TEST_F(DieView, SelectionByParentAndTag) {
  const std::vector<LONG> all = {Symbol(0), Symbol(1), Symbol(2), Symbol(5)}, none;
  const std::tuple<LONG, LONG, std::vector<LONG>> cases[] = {
      // clang-format off
      // Root with 0 or 0x34: every module's symbols, hidden modules and
      // functions included, but no modules.
      {0, 0, all}, {0, 0x34, all}, {0, 0x2E, none},
      {Scope(0), 0x2E, {Scope(1), Scope(3)}}, {Scope(0), 0x0B, none}, {Scope(1), 0x2E, none},
      {Scope(1), 0x0B, {Scope(2)}}, {Scope(0), 0x34, {Symbol(0), Symbol(2)}},
      // A block under a module is listed for 0x2E: children whatever their kind.
      {Scope(4), 0x2E, {Scope(5)}}, {Symbol(0), 0, none}, {Scope(0), 0x99, none},
      // clang-format on
  };
  for (const auto& [parent, tag, dies] : cases)
    EXPECT_EQ(c.Dies(parent, tag), dies) << parent << " " << tag;
}

TEST_F(DieView, AttributesOfScopesAndSymbols) {
  EXPECT_EQ(IntAttr(c.P3(), Scope(1), 0x11), 0x100);
  EXPECT_EQ(IntAttr(c.P3(), Scope(1), 0x12), 0x1FF);  // last address
  EXPECT_EQ(IntAttr(c.P3(), Scope(3), 0x11), LONG(0xFFFFFFFF));
  EXPECT_EQ(IntAttr(c.P3(), Scope(3), 0x12), LONG(0xFFFFFFFF));
  EXPECT_EQ(IntAttr(c.P3(), Symbol(3), 0x4000), 3);
  EXPECT_EQ(NameAttr(c.P3(), Symbol(3)), "local");
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(c.P3()->GetAttr(Symbol(3), 0x11, &v), E_FAIL);
  EXPECT_EQ(c.P3()->GetAttr(Scope(1), 0x3A, &v), E_FAIL);
  EXPECT_EQ(v.vt, VT_EMPTY);
  // The module's name is its C source, preferred over the header listed
  // first, and follows the host's remapping.
  EXPECT_EQ(NameAttr(c.P3(), Scope(0)), "C:\\src\\main.c");
  Bstr from("C:\\src\\main.c"), to("/home/me/main.c");
  ASSERT_EQ(c->RemapSourceFile(&from, &to), S_OK);
  EXPECT_EQ(NameAttr(c.P3(), Scope(0)), "/home/me/main.c");
  // A module without files is named after itself.
  EXPECT_EQ(NameAttr(c.P3(), Scope(4)), "?hidden");
}

TEST_F(DieView, LookupsByPathFunctionAndVariable) {
  const struct {
    LONG parent;
    const char* name;
    LONG tag, die;
  } cases[] = {
      // clang-format off
      // Modules by any of their files, in any letter case; with tag 0 a
      // failed module search falls through to the functions, but never to
      // the symbols.
      {0, "C:\\src\\main.c", 0x11, Scope(0)}, {0, "c:\\SRC\\Main.C", 0x11, Scope(0)},
      {0, "C:\\src\\main.h", 0, Scope(0)},    {0, "C:\\src\\other.c", 0x11, 0},
      {0, "idle", 0, Scope(3)}, {0, "idle", 0x2E, Scope(3)}, {0, "idle", 0x11, 0},
      {0, "counter", 0, 0}, {0, "counter", 0x34, Symbol(0)}, {0, "secret", 0x34, Symbol(5)},
      // In a scope: children by name, variables of that scope only.
      {Scope(0), "main", 0x2E, Scope(1)}, {Scope(1), "block3", 0x0B, Scope(2)},
      {Scope(1), "local", 0x34, Symbol(3)}, {Scope(1), "counter", 0x34, 0},
      {Scope(0), "counter", 0x34, Symbol(0)}, {Symbol(0), "x", 0, 0},
      // clang-format on
  };
  for (const auto& k : cases)
    EXPECT_EQ(Lookup(c.P3(), k.parent, k.name, k.tag), k.die) << k.name << " in " << k.parent;
  Bstr from("C:\\src\\main.c"), to("/work/here/main.c");
  ASSERT_EQ(c->RemapSourceFile(&from, &to), S_OK);
  EXPECT_EQ(Lookup(c.P3(), 0, "/work/here/main.c", 0x11), Scope(0));  // after remapping
  LONG die = -1;
  EXPECT_EQ(c.P3()->LookupDie(0, nullptr, 0, &die), S_OK);
  EXPECT_EQ(die, 0);
}

// After a parse the target is not known: the file does not name it.
TEST(Lifecycle, TargetInfoIsNotImplementedAfterAParse) {
  Component c;
  Bstr name("old");
  ULONG core = 5, model = 6;
  ubrofw::Writer w;
  w.Start().Finish();
  ASSERT_EQ(c.Parse(w), S_OK);
  EXPECT_EQ(c->GetTargetInfo(&name, &core, &model), E_NOTIMPL);
  EXPECT_TRUE(name.null());
  EXPECT_EQ(core + model, 0u);
}
