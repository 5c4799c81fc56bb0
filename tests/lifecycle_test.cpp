// The parse lifecycle: states, status codes and the general information.
#include <gtest/gtest.h>

#include <tuple>

#include "TestSupport.h"

using testsupport::Bstr;
using testsupport::Component;
using testsupport::UniquePath;

namespace {
std::string Minimal() {
  ubrofw::Writer w;
  w.Start().Finish();
  std::string path = UniquePath("min");
  w.Save(path);
  return path;
}
}  // namespace

TEST(Lifecycle, ParseNeedsInitAndHappensOnce) {
  Component c;
  Bstr path(Minimal());
  EXPECT_EQ(c->ParseObjectFile(nullptr, 0), E_POINTER);
  EXPECT_EQ(c->ParseObjectFile(&path, 0), PARSER_E_NOT_INITIALIZED);
  ASSERT_EQ(c->Init(0), S_OK);
  EXPECT_EQ(c->ParseObjectFile(&path, 7), S_OK);  // flags are ignored
  EXPECT_EQ(c->ParseObjectFile(&path, 0), PARSER_E_ALREADY_PARSED);
  EXPECT_EQ(c->ParseObjectFile(nullptr, 0), E_POINTER);
  EXPECT_FALSE(path.null());  // the caller's string is left alone
  // Init again returns to the initialised state; a new parse is allowed.
  ASSERT_EQ(c->Init(0), S_OK);
  DATE d;
  EXPECT_EQ(c->GetTimeOfBuild(&d), PARSER_E_NOT_PARSED);
  EXPECT_EQ(c->ParseObjectFile(&path, 0), S_OK);
}

TEST(Lifecycle, ASecondParseAfterInitAddsToTheTables) {
  ubrofw::Writer w[2];
  for (uint32_t i = 0; i < 2; ++i) {
    const std::string n(1, char('a' + i));
    w[i].Start().BegPgm(n).SymbolDef(1, 0, 0x10, n, 0).FileRef(0, n + ".c").Org(1, 0x100 * i);
    w[i].FuncBegin1("f").SrcStat(1, 1, 1, 2).AbsVar({1}).BlockEnd().End().Finish();
  }
  Component c;
  ASSERT_EQ(c.Parse(w[0]), S_OK);
  const mirl::api::Program p = c.Program();
  const mirl::api::Counts a = p.Count();
  ASSERT_EQ(c.Parse(w[1]), S_OK);  // Init(0) again, then the second file
  const mirl::api::Counts n = p.Count();
  EXPECT_EQ(std::vector<uint32_t>({n.modules, n.scopes, n.symbols, n.statements, n.sourceFiles}),
            std::vector<uint32_t>({2, 2 * a.scopes, 2 * a.symbols, 2, 2}));
  const auto m = p.Modules();
  const auto s = p.Symbols();
  const auto st = p.Statements();
  EXPECT_EQ(std::make_tuple(m[0].name, m[0].scope, m[1].name, m[1].scope),
            std::make_tuple("a", 0u, "b", a.scopes));
  EXPECT_EQ(std::make_tuple(s[0].name, s[0].scope, s[1].name, s[1].scope),
            std::make_tuple("a", 0u, "b", a.scopes));
  EXPECT_EQ(std::make_tuple(st[0].address, st[0].file, st[1].address, st[1].file),
            std::make_tuple(0u, 0u, 0x100u, 1u));
  uint32_t scope = 0;
  EXPECT_EQ(p.FindSymbol("b", a.scopes + 1, false, &scope), a.symbols);
  EXPECT_EQ(scope, a.scopes);
}

TEST(Lifecycle, InitWithEventsIsRefusedAndDefaultValuesNeedInit) {
  Component c;
  EXPECT_EQ(c->Init(1), E_FAIL);
  EXPECT_FALSE(c.Program().Initialized());
  EXPECT_EQ(c->SetDefaultDataValue(1, 0), PARSER_E_NOT_INITIALIZED);
  EXPECT_EQ(c->SetDefaultDataValue(0x40, 0), PARSER_E_NOT_INITIALIZED);
  ASSERT_EQ(c->Init(0), S_OK);
  EXPECT_EQ(c->Init(3), E_FAIL);
  EXPECT_TRUE(c.Program().Initialized());
  // One value per memory; the statement map and unknown types have none.
  for (unsigned char type : {1, 2, 4}) EXPECT_EQ(c->SetDefaultDataValue(type, type * 0x11), S_OK);
  EXPECT_EQ(c->SetDefaultDataValue(0x40, 0), PARSER_E_BAD_MEMORY_TYPE);
  EXPECT_EQ(c->SetDefaultDataValue(3, 0), PARSER_E_BAD_MEMORY_TYPE);
  for (uint8_t type : {1, 2, 4}) EXPECT_EQ(c.Program().Memory(type).fill, type * 0x11);
}

TEST(Lifecycle, FailedParseKeepsStateAndAllowsRetry) {
  Component c;
  ASSERT_EQ(c->Init(0), S_OK);
  Bstr empty(""), missing(testsupport::TempDir() + "/does-not-exist.d90"), nullString;
  for (BSTR* b : {&empty, &missing, &nullString})
    EXPECT_EQ(c->ParseObjectFile(b, 0), PARSER_E_INVALID_FILE);
  EXPECT_TRUE(c.Program().Initialized());
  EXPECT_FALSE(c.Program().Parsed());
  Bstr good(Minimal());
  EXPECT_EQ(c->ParseObjectFile(&good, 0), S_OK);
  EXPECT_TRUE(c.Program().Initialized() && c.Program().Parsed());
}

TEST(Lifecycle, ValidateChecksOnlyTheFirstByte) {
  Component c;  // needs neither Init nor a parse
  EXPECT_EQ(c->ValidateObjectFile(nullptr), E_POINTER);
  Bstr missing(testsupport::TempDir() + "/does-not-exist.d90"), none;
  EXPECT_EQ(c->ValidateObjectFile(&missing), PARSER_E_CANNOT_OPEN);
  EXPECT_EQ(c->ValidateObjectFile(&none), PARSER_E_CANNOT_OPEN);
  const std::pair<std::vector<uint8_t>, HRESULT> files[] = {
      {{}, PARSER_E_INVALID_FILE}, {{0x4D, 0xFF}, PARSER_E_INVALID_FILE}, {{0xA5, 0x01}, S_OK}};
  for (const auto& f : files) {
    std::string path = UniquePath("validate");
    testsupport::WriteFile(path, f.first);
    Bstr b(path);
    EXPECT_EQ(c->ValidateObjectFile(&b), f.second) << f.first.size();
    EXPECT_EQ(b.str(), path);
  }
  EXPECT_FALSE(c.Program().Initialized());
}

TEST(Lifecycle, TargetInfoIsNotImplementedAfterAParse) {
  Component c;
  Bstr name("old");
  ULONG core = 5, model = 6;
  EXPECT_EQ(c->GetTargetInfo(&name, &core, nullptr), E_POINTER);
  EXPECT_EQ(c->GetTargetInfo(&name, &core, &model), PARSER_E_NOT_PARSED);
  ubrofw::Writer w;
  w.Start().Finish();
  ASSERT_EQ(c.Parse(w), S_OK);
  EXPECT_EQ(c->GetTargetInfo(&name, &core, &model), E_NOTIMPL);
  EXPECT_TRUE(name.null());
  EXPECT_EQ(core + model, 0u);
}
