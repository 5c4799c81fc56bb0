// The scope tree: the function and block records, the tree operations, and
// EnumSubScopes, GetScopeInfo, GetScopeFromProgMemAddress, GetScopeFromName.
#include <gtest/gtest.h>

#include "../scopes/BlockArray.h"
#include "../ubrof/Modules.h"
#include "TestSupport.h"

using namespace mirl;

namespace {

// One statement on the 0-based lines [line, lineEnd] and its `bytes` bytes
// of code at `address` (none: the statement has no code).
void Stat(ubrofw::Writer& w, uint32_t address, uint16_t line, uint16_t lineEnd, uint8_t bytes) {
  w.Org(0, address).SrcStat(uint16_t(line + 1), 1, uint16_t(lineEnd + 1), 1);
  w.AbsVar(std::vector<uint8_t>(bytes, 0));
}

const std::string kName999(999, 'n'), kPath999(999, 'q');

// 0 module "app"; 1 function "main"; 2 block "block3" (the third scope) in
// 1; 3 block "block4" in 2; 4 function "idle" in 0, without code; 5 module
// "?lib", hidden, ending with t_end_abs and left open; 6 function "helper".
// With code, "helper" has a 999-character name, the modules list source
// files, and (scope: code; statements, lines) 0: [0x100, 0x200); 6 at 0x180
// (60). 1: [0x100, 0x180); 3 (10), 4 (11). 2: [0x120, 0x160); 0 (12-15),
// then 2 (14). 3: [0x130, 0x140); 1 (16). 4: none; 5 (30-35), no code.
// 5: [0x200, 0x300); 8. 6: [0x200, 0x280); 7.
ubrofw::Writer TwoModules(bool code = false) {
  ubrofw::Writer w;
  w.Start().ScopedName1("unit", kNone);  // name entry 0, named by no scope
  if (code) w.ScopedName1(kName999, kNone).FileRef(0, "orphan.c");  // a file no module lists
  w.BegPgm("app");
  if (code) w.FileRef(1, "src\\main.c").FileRef(2, kPath999).FileRef(3, kPath999 + "q");
  w.FuncBegin1("main").BlockBegin1();
  if (code) Stat(w, 0x120, 12, 15, 0x10);
  w.BlockBegin1();
  if (code) Stat(w, 0x130, 16, 16, 0x10);
  w.BlockEnd();
  if (code) Stat(w, 0x140, 14, 14, 0x20);
  w.BlockEnd();
  if (code) {
    Stat(w, 0x100, 10, 10, 0x20);
    Stat(w, 0x160, 11, 11, 0x20);
  }
  w.BlockEnd().FuncBegin1("idle");
  if (code) Stat(w, 0, 30, 35, 0);
  w.BlockEnd();
  if (code) Stat(w, 0x180, 60, 60, 0x80);
  w.End().BegLib("?lib");
  if (code) {
    w.FileRef(0, "lib.c").BlockBegin3(1);
    Stat(w, 0x200, 1, 1, 0x80);
    w.BlockEnd();
    Stat(w, 0x280, 2, 2, 0x80);
  } else {
    w.FuncBegin1("helper").BlockEnd();
  }
  w.EndAbs().Finish();
  return w;
}

struct Enumerated {
  HRESULT hr;
  ULONG count = 0xDEAD;
  std::vector<ULONG> ids;
  bool isNull = false;
};

Enumerated Enum(Component& c, ULONG scope) {
  Enumerated e;
  ULONG* const junk = reinterpret_cast<ULONG*>(0x10);  // must be overwritten, never freed
  ULONG* ids = junk;
  e.hr = c->EnumSubScopes(scope, &e.count, &ids);
  if (e.hr != S_OK) {
    EXPECT_EQ(ids, junk);
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
  ULONG type = 0xDEAD, start = 0xDEAD, size = 0xDEAD, firstStat = 0xDEAD;
};

Info ScopeInfo(Component& c, ULONG scope) {
  Info i;
  Bstr name("previous"), full("previous");
  i.hr = c->GetScopeInfo(scope, &name, &full, &i.type, &i.start, &i.size, &i.firstStat);
  i.name = name.str();
  i.fullName = full.str();
  i.fullNameNull = full.null();
  return i;
}

}  // namespace

TEST(ScopeTree, RecordsBuildTheTreeThatTheMethodsReport) {
  Component c;
  ASSERT_EQ(c.Parse(TwoModules()), S_OK);
  const mirl::api::Program prog = c.Program();
  ASSERT_EQ(prog.Count().scopes, 7u);
  EXPECT_EQ(prog.RootScopes(), (std::vector<uint32_t>{0, 5}));
  const uint32_t parents[] = {kNone, 0, 1, 2, 0, kNone, 5};
  const uint32_t kinds[] = {2, 1, 3, 3, 1, 2, 1};
  const char* names[] = {"", "main", "block3", "block4", "idle", "", "helper"};
  for (uint32_t i = 0; i < 7; ++i) {
    mirl::api::Scope s;
    ASSERT_TRUE(prog.GetScope(i, &s));
    EXPECT_EQ(std::tie(s.parent, s.kind, s.name), std::tie(parents[i], kinds[i], names[i])) << i;
    EXPECT_EQ(s.module, i == 0 ? 0 : i == 5 ? 1 : kNone) << i;
    EXPECT_EQ(s.hidden, i == 5) << i;
    Info info = ScopeInfo(c, i);
    EXPECT_EQ(std::tie(info.name, info.type), std::tie(names[i], kinds[i])) << i;
    // No statements and no code.
    EXPECT_EQ(std::vector<ULONG>({info.start, info.size, info.firstStat}),
              std::vector<ULONG>({0xFFFFFFFF, 1, 0xFFFFFFFF}))
        << i;
  }

  // The root lists the visible modules only; a leaf gives no array.
  EXPECT_EQ(Enum(c, kNone).ids, (std::vector<ULONG>{0}));
  EXPECT_EQ(Enum(c, 0).ids, (std::vector<ULONG>{1, 4}));
  EXPECT_EQ(Enum(c, 5).ids, (std::vector<ULONG>{6}));
  Enumerated leaf = Enum(c, 3);
  EXPECT_EQ(std::make_tuple(leaf.hr, leaf.count, leaf.isNull), std::make_tuple(S_OK, 0ul, true));
  EXPECT_EQ(Enum(c, 7).hr, PARSER_E_BAD_ID);
  EXPECT_EQ(Enum(c, 0xFFFFFFFE).hr, PARSER_E_BAD_ID);
  Info bad = ScopeInfo(c, 7);
  EXPECT_EQ(std::make_tuple(bad.hr, bad.name, bad.type),
            std::make_tuple(PARSER_E_BAD_ID, std::string("previous"), 0xDEADul));
  EXPECT_EQ(ScopeInfo(c, kNone).hr, PARSER_E_BAD_ID);

  // Range and first statement: the first of the scope's first run, also
  // for a scope without code.
  Component code;
  ASSERT_EQ(code.Parse(TwoModules(true)), S_OK);
  Info main = ScopeInfo(code, 1);
  EXPECT_EQ(std::make_tuple(main.hr, main.fullName, main.fullNameNull),
            std::make_tuple(S_OK, std::string(), false));
  const ULONG ranges[][4] = {{1, 0x100, 0x80, 3},
                             {2, 0x120, 0x40, 0},
                             {0, 0x100, 0x100, 6},
                             {4, 0xFFFFFFFF, 1, 5},
                             {6, 0x200, 0x80, 7}};
  for (const auto& r : ranges) {
    Info i = ScopeInfo(code, r[0]);
    EXPECT_EQ(std::vector<ULONG>({i.start, i.size, i.firstStat}),
              std::vector<ULONG>({r[1], r[2], r[3]}))
        << r[0];
  }
}

TEST(GetScopeFromName, AcceptedAndRefusedTexts) {
  Component c;
  ASSERT_EQ(c.Parse(TwoModules(true)), S_OK);
  const std::string& path999 = kPath999;
  const std::string& name999 = kName999;
  const ULONG fail = ULONG(E_FAIL);
  const std::string m = "{\"src\\main.c\"";  // most texts name this file
  const struct {
    std::string text;
    ULONG expected;
  } cases[] = {
      // clang-format off
      // Form 1: file and line, in decimal, hexadecimal or octal (012 is 10);
      // text after the number is not checked; no child covering the line
      // gives the module.
      {m + ", 16}", 3}, {m + ",10}", 1}, {m + ", 33}", 4}, {"  {  \"SRC\\Main.C\"  ,  0x10  }  ", 3},
      {m + ",0X0f}", 2}, {m + ",\t012}", 1}, {m + ", 016}", 2}, {m + ", 12abc", 2},
      {m + ", +16 ]", 3}, {m + ", 45}", 0}, {m + ", -16}", 0}, {m + ", 99999999999999}", 0},
      // Form 2: file and a child of the module, compared with case; the
      // blank belongs to the name; block3 is no child of the module.
      {m + ", main}", 1}, {"{ \"src\\main.c\" ,idle}", 4}, {m + ", main }", fail},
      {m + ", Main}", fail}, {m + ", block3}", fail}, {m + ", x16}", fail},
      {m + ", nosuch}", fail}, {"{\"lib.c\", " + name999 + "}", 6},
      {"{\"lib.c\", " + name999.substr(1) + "}", fail},
      // Form 3: the file's module, hidden or not; the rest is not checked.
      {m + "}", 0}, {"{\"SRC\\MAIN.C\" }", 0}, {" \t{\"lib.c\"}\n", 5}, {m, 0},
      {"{\"src\\main.c", 0}, {m + " , }", 0},
      // Texts beyond the 999-character buffers fail their conversion; a
      // name that does leaves the file-only form.
      {"{\"" + path999 + "\", 16}", 3}, {"{\"" + path999 + "q\", 16}", fail},
      {"{\"" + std::string(5000, 'p') + "\"}", fail}, {"{\"lib.c\", " + name999 + "n}", 5},
      // Anything else.
      {"", fail}, {"   ", fail}, {"src\\main.c", fail}, {"{src\\main.c}", fail},
      {"{\"\"}", fail}, {"x" + m + "}", fail}, {"{\"nofile.c\"}", fail},
      {"{\"nofile.c\", 10}", fail}, {"{\"orphan.c\"}", fail}, {"{ \"src\\main.c \"}", fail},
      // clang-format on
  };
  for (const auto& k : cases) {
    Bstr name(k.text);
    ULONG s = 0xDEAD;
    HRESULT hr = c->GetScopeFromName(&name, &s);
    EXPECT_EQ(hr == S_OK ? s : ULONG(hr), k.expected) << k.text.substr(0, 40);
    if (hr != S_OK) {
      EXPECT_EQ(s, 0xDEADu);
    }
    EXPECT_TRUE(name.null());  // released and cleared
  }

  // Scopes named by the file's first name entry are passed over, as the
  // entry view's searches do.
  ubrofw::Writer w;
  w.Start().ScopedName1("unit", kNone).ScopedName1("fn", kNone).BegPgm("m").FileRef(0, "a.c");
  w.BlockBegin3(0).BlockEnd().BlockBegin3(1).BlockEnd().End().Finish();
  Component first;
  ASSERT_EQ(first.Parse(w), S_OK);
  for (const char* name : {"unit", "fn"}) {
    Bstr text("{\"a.c\", " + std::string(name) + "}");
    ULONG s = 0;
    HRESULT hr = first->GetScopeFromName(&text, &s);
    EXPECT_EQ(hr == S_OK ? s : ULONG(hr), name[0] == 'u' ? ULONG(E_FAIL) : 2u) << name;
  }
}

// The block array behind the scope table: elements stay where they were made.
TEST(BlockArray, IndicesAcrossBlocksAndStableElements) {
  mirl::BlockArray<std::vector<int>, 2> a;  // blocks of four
  EXPECT_TRUE(a.empty());
  std::vector<const std::vector<int>*> where;
  for (int i = 0; i < 19; ++i) {
    a.emplace_back().assign(size_t(i % 3), i);
    where.push_back(&a.back());
  }
  ASSERT_EQ(a.size(), 19u);
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(&a[i], where[i]) << "element " << i << " moved";
    EXPECT_EQ(a[i], std::vector<int>(i % 3, int(i))) << i;
  }
  size_t n = 0;
  for (const std::vector<int>& v : static_cast<const mirl::BlockArray<std::vector<int>, 2>&>(a))
    EXPECT_EQ(&v, where[n++]);
  EXPECT_EQ(n, 19u);
  // A new element is made fresh, even at the start of a block.
  for (int i = 19; i < 24; ++i) EXPECT_TRUE(a.emplace_back().empty()) << i;
}

// The file's first records: the time of build is kept only when it is a
// real date and time (1999-12-31 is day 36525); UBROF 9 and later are
// refused, with the version message, and UBROF 8 is not.
TEST(FileRecords, TimeOfBuildAndVersionLimits) {
  const struct {
    uint8_t sec, min, hour, day, month;
    double date;
  } stamps[] = {{59, 59, 23, 31, 12, 36525.0 + 86399.0 / 86400.0},
                {0, 0, 0, 28, 2, 36219.0},
                {60, 0, 0, 31, 12, 0},
                {0, 60, 0, 31, 12, 0},
                {0, 0, 24, 31, 12, 0},
                {0, 0, 0, 32, 12, 0},
                {0, 0, 0, 29, 2, 0},
                {0, 0, 0, 1, 13, 0}};
  for (const auto& k : stamps) {
    ubrofw::Writer w;
    w.BegFile1(k.sec, k.min, k.hour, k.day, k.month, 99).Version(8, 0, 2).BegLib("m").End();
    Component c;
    ASSERT_EQ(c.Parse(w.Finish()), S_OK);
    EXPECT_DOUBLE_EQ(c.Program().File().timeOfBuild, k.date)
        << int(k.hour) << ":" << int(k.min) << ":" << int(k.sec) << " " << int(k.day) << "."
        << int(k.month);
  }
  // Leap days: 2000 and 2004 have one, 1900 and 2100 do not; years end at 9999.
  DATE d = 0;
  const unsigned leap[][3] = {{2000, 2, 29}, {1900, 2, 29},  {2100, 2, 29},
                              {2004, 2, 29}, {9999, 12, 31}, {10000, 1, 1}};
  std::vector<bool> valid;
  for (const auto& k : leap) valid.push_back(mirl::DateFromFields(k[0], k[1], k[2], 0, 0, 0, &d));
  EXPECT_EQ(valid, (std::vector<bool>{true, false, false, true, true, false}));
  for (uint8_t version : {8, 9, 10}) {
    ubrofw::Writer w;
    w.BegFile1(0, 0, 0, 1, 1, 99).Version(version, 3, 0).BegLib("m").End();
    testsupport::MessageCapture capture;
    Component c;
    EXPECT_EQ(c.Parse(w.Finish()), version < 9 ? S_OK : PARSER_E_INVALID_FILE);
    EXPECT_EQ(testsupport::MessageCapture::count, version < 9 ? 0 : 1) << int(version);
    EXPECT_EQ(c.Program().File().minor, 3);  // read before a newer version is refused
  }
}
