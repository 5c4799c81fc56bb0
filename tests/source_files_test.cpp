// The source-file table: file references, the current file, extraction of
// embedded sources and GetSourceFileInfo.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "../platform/Paths.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using namespace mirl;
using testsupport::Bstr;
using testsupport::Component;

namespace {

std::string FreshDir(const std::string& stem) {
  std::string dir = testsupport::UniquePath(stem, "");
  fs::create_directories(dir);
  return dir;
}

std::string Join(const std::string& dir, const std::string& name) {
  return dir + platform::NativeSeparator() + name;
}

HRESULT ParseIn(Component& c, const ubrofw::Writer& w, const std::string& objectPath) {
  return w.Save(objectPath) ? c.ParsePath(objectPath) : E_FAIL;
}

std::string PathOf(Component& c, ULONG id, DATE* pStamp = nullptr, unsigned char* pTemp = nullptr) {
  Bstr path("previous");
  DATE stamp = -1;
  unsigned char language = 9, temporary = 9;
  EXPECT_EQ(c->GetSourceFileInfo(id, &path, &stamp, &language, &temporary), S_OK);
  EXPECT_EQ(language, 0);
  if (pStamp) *pStamp = stamp;
  if (pTemp) *pTemp = temporary;
  return path.str();
}

}  // namespace

TEST(SourceFiles, ReferencesTheCurrentFileAndStatusCodes) {
  Component c;
  Bstr path("keep");
  DATE d = 5.0;
  unsigned char lang = 7, temp = 7;
  EXPECT_EQ(c->GetSourceFileInfo(0, &path, &d, &lang, nullptr), E_POINTER);
  EXPECT_EQ(c->GetSourceFileInfo(0, &path, &d, &lang, &temp), PARSER_E_NOT_PARSED);
  ubrofw::Writer w;
  w.Start().BegLib("m").Org(1, 0);
  w.FileRef(0, "C:\\Src\\A.c", 30, 15, 12, 1, 1, 100);  // 2000-01-01 12:15:30
  w.FileRef(1, "c:\\src\\a.C", 0, 0, 0, 2, 2, 101);     // the same file
  w.FileRef(3, "b.c", 0, 0, 0, 29, 2, 101);             // 2001-02-29 is no date
  w.SrcStat(1, 1, 1, 1).AbsVar({0});                    // 0: file 0
  w.NewFile(3).SrcStat(2, 1, 2, 1).AbsVar({0});         // 1: file 1
  w.NewFile(2).SrcStat(3, 1, 3, 1).AbsVar({0});         // 2: never set: no file
  w.NewFile(40).SrcStat(4, 1, 4, 1).AbsVar({0});        // 3: beyond the list: no file
  w.End().Finish();
  ASSERT_EQ(c.Parse(w), S_OK);
  const api::Program prog = c.Program();
  ASSERT_EQ(prog.Count().sourceFiles, 2u);
  EXPECT_EQ(c->GetSourceFileInfo(2, &path, &d, &lang, &temp), PARSER_E_BAD_ID);
  EXPECT_EQ(std::make_tuple(path.str(), d, int(lang)),
            std::make_tuple(std::string("keep"), 5.0, 7));
  DATE stamp;
  EXPECT_EQ(PathOf(c, 0, &stamp, &temp), "C:\\Src\\A.c");
  // 1 January 2000 is day 36526 of the automation calendar.
  EXPECT_DOUBLE_EQ(stamp, 36526.0 + (12 * 3600 + 15 * 60 + 30) / 86400.0);
  EXPECT_EQ(temp, 0);
  PathOf(c, 1, &stamp);
  EXPECT_EQ(stamp, 0.0);
  api::Scope m;
  ASSERT_TRUE(prog.GetScope(0, &m));
  EXPECT_EQ(m.fileRefs, (std::vector<uint32_t>{0, 0, api::kNoId, 1}));
  const std::vector<api::StatementRun> runs = prog.StatementRuns();
  ASSERT_EQ(runs.size(), 4u);
  const uint32_t files[] = {0, 1, api::kNoId, api::kNoId};
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(runs[i].file, files[i]) << i;
  EXPECT_EQ(prog.SourceFiles()[1].statementRuns, std::vector<uint32_t>{1});
  // A mapped path replaces the stored one; a file without a pair keeps its own.
  Bstr stored("C:\\Src\\A.c"), host("/host/one.c");
  ASSERT_EQ(c->RemapSourceFile(&stored, &host), S_OK);
  EXPECT_EQ(PathOf(c, 0), "/host/one.c");
  EXPECT_EQ(PathOf(c, 1), "b.c");
}

TEST(EmbeddedSources, ObjectFileWithoutFolderExtractsBelowTheCurrentDirectory) {
  std::string dir = FreshDir("cwd");
  fs::path previous = fs::current_path();
  fs::current_path(dir);
  ubrofw::Writer w;
  w.Start().BegLib("m").File("here.c", {"a"}).End().Finish();
  Component c;
  HRESULT hr = ParseIn(c, w, "prog.d90");
  fs::current_path(previous);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(PathOf(c, 0), Join("embedded_source", "here_emb.c"));
  EXPECT_EQ(testsupport::ReadText(Join(Join(dir, "embedded_source"), "here_emb.c")), "a\r\n");
}
