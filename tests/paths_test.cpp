// Source path resolution: FileMapper, RemapSourceFile, the path functions
// and the resolution cache.
#include "../platform/Paths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "../source/FileMapper.h"
#include "../source/PathIdentity.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using namespace mirl;
using testsupport::Bstr;
using testsupport::Component;

namespace {
// A name no other test resolves: the cache is shared by the whole process.
std::string UniqueName(const std::string& stem) {
  static int n = 0;
  return stem + std::to_string(++n) + "-" + std::to_string(std::rand());
}
}  // namespace

TEST(RemapSourceFile, PairsBaseDirectoryAndNullStrings) {
  ubrofw::Writer w;
  w.Start().BegLib("m").FileRef(0, "C:\\build\\src\\main.c").Org(1, 0x10);
  w.SrcStat(1, 1, 1, 2).AbsVar({0}).End().Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  const api::Program p = c.Program();
  auto mapped = [&](size_t i) { return p.SourceFiles().at(i).mappedPath; };
  uint32_t address = 0;
  Bstr stored("C:\\build\\src\\main.c"), host("E:\\work\\main.c"), other("F:\\x.c");
  Bstr lower("c:\\build\\src\\main.c");
  EXPECT_EQ(c->RemapSourceFile(&lower, &other), S_OK);
  EXPECT_EQ(mapped(0), "C:\\build\\src\\main.c");  // pairs match the exact text only
  EXPECT_EQ(c->RemapSourceFile(nullptr, &host), E_POINTER);
  EXPECT_EQ(c->RemapSourceFile(&stored, nullptr), E_POINTER);
  EXPECT_EQ(c->RemapSourceFile(&stored, &host), S_OK);
  EXPECT_EQ(c->RemapSourceFile(&stored, &other), S_OK);  // the first pair stays
  EXPECT_EQ(stored.str() + host.str(), "C:\\build\\src\\main.cE:\\work\\main.c");
  EXPECT_EQ(mapped(0), "E:\\work\\main.c");
  // A base directory forgets the pairs and resolves relative host paths.
  Bstr empty(""), base("D:\\proj"), inBase("D:\\proj\\main.c"), none;
  EXPECT_EQ(c->RemapSourceFile(&empty, &base), S_OK);
  EXPECT_EQ(mapped(0), "C:\\build\\src\\main.c");
  EXPECT_EQ(c->RemapSourceFile(&stored, &inBase), S_OK);
  EXPECT_TRUE(p.AddressOfLine("main.c", 0, &address));
  EXPECT_EQ(address, 0x10u);
  EXPECT_EQ(c->RemapSourceFile(&none, &none), S_OK);  // null strings are empty paths
  EXPECT_EQ(mapped(0), "C:\\build\\src\\main.c");
  EXPECT_FALSE(p.AddressOfLine("main.c", 0, &address));  // no base directory now
}

TEST(FileMapper, UnmapFindsTheSameFileSpelledDifferently) {
  FileMapper m;
  m.AddMapping("C:\\build\\src\\main.c", "E:\\work\\main.c");
  m.AddMapping("C:\\a\\main.c", "e:/WORK/MAIN.C");  // same file, earlier stored path
  m.AddMapping("C:\\build\\src\\util.c", "E:\\work\\util.c");
  for (const char* host :
       {"E:\\work\\main.c", "e:\\WORK\\Main.c", "E:/work/main.c", "E:\\work\\.\\sub\\..\\main.c"})
    EXPECT_EQ(m.UnmapPath(host), "C:\\a\\main.c") << host;
  EXPECT_EQ(m.UnmapPath("E:\\work\\util.c"), "C:\\build\\src\\util.c");
  for (const char* miss : {"work\\main.c", "F:\\work\\main.c", ""})
    EXPECT_EQ(m.UnmapPath(miss), miss);
  m.SetBaseDirectory("E:\\");
  m.AddMapping("C:\\build\\src\\main.c", "E:\\work\\main.c");
  for (const char* relative : {"work\\main.c", "work/main.c", "..\\work\\main.c"})
    EXPECT_EQ(m.UnmapPath(relative), "C:\\build\\src\\main.c") << relative;
}

TEST(FileMapper, DriveOfANetworkShareEqualsItsRemoteName) {
  platform::SetDriveRemoteNameHook([](const std::string& drive, std::string* pOut) {
    if (drive != "Z:" && drive != "z:") return false;
    *pOut = "\\\\server\\share";
    return true;
  });
  FileMapper m;
  m.AddMapping("C:\\net.c", "\\\\server\\share\\dir\\net.c");
  m.AddMapping("C:\\drive.c", "Z:\\dir\\drive.c");
  EXPECT_EQ(m.UnmapPath("z:/DIR/net.c"), "C:\\net.c");
  EXPECT_EQ(m.UnmapPath("\\\\SERVER\\share\\dir\\drive.c"), "C:\\drive.c");
  EXPECT_EQ(m.UnmapPath("Y:\\dir\\net.c"), "Y:\\dir\\net.c");
  platform::SetDriveRemoteNameHook(nullptr);
  EXPECT_EQ(ToUncPath("Z:\\x\\y.c"), "Z:\\x\\y.c");
}

TEST(PathFunctions, FullPathsAndTheirCachedResolution) {
  EXPECT_EQ(GetLongPath("") + GetShortPath("") + GetFullPath("") + ToUncPath(""), "");
  EXPECT_TRUE(PathIdentity("", "C:\\base").Empty());
  EXPECT_FALSE(PathIdentity("C:\\a.c", "").IsSameFile(""));

  std::string dir = testsupport::UniquePath("full", "");
  fs::create_directories(fs::path(dir) / "sub");
  std::string full = GetFullPath(dir);
  ASSERT_FALSE(full.empty());
  EXPECT_EQ(full.back(), '\\');  // an existing directory
  EXPECT_EQ(GetFullPath(full + "sub"), full + "sub\\");
  EXPECT_EQ(GetFullPath(full + "sub\\..\\missing"), full + "missing");
  std::string cwd = GetFullPath(fs::current_path().string());
  EXPECT_EQ(ToUncPath("x\\y.c"), cwd + "x\\y.c");

  // A relative path keeps the resolution it got first, even after the
  // current directory changes.
  std::string name = UniqueName("rel") + ".c";
  fs::path previous = fs::current_path();
  fs::current_path(fs::path(dir) / "sub");
  PathIdentity a(name, "");
  fs::current_path(previous);
  PathIdentity b(name, "");
  EXPECT_EQ(b.Info().FullPath, full + "sub\\" + name);
  EXPECT_EQ(a.Info().FullPath, b.Info().FullPath);
  // The key is the base text directly followed by the path text.
  PathIdentity split(name.substr(1), dir + "sub\\" + name.substr(0, 1));
  EXPECT_EQ(split.Info().Key, dir + "sub\\" + name);
}

TEST(PathCache, HoldsTheSixtyFourMostRecentResolutions) {
  PathInfoCache& cache = PathInfoCache::Instance();
  std::string stem = "C:\\" + UniqueName("evict") + "\\f";
  for (int i = 0; i < 64; ++i) PathIdentity(stem + std::to_string(i), "");
  EXPECT_EQ(cache.Size(), 64u);
  for (int i = 0; i < 64; ++i) EXPECT_TRUE(cache.Contains(stem + std::to_string(i))) << i;
  // Using the oldest makes it the most recent; the 65th then evicts the
  // second oldest instead.
  PathIdentity again(stem + "0", "");
  PathIdentity extra(stem + "64", "");
  EXPECT_EQ(cache.Size(), 64u);
  EXPECT_TRUE(cache.Contains(stem + "0"));
  EXPECT_FALSE(cache.Contains(stem + "1"));
  EXPECT_TRUE(cache.Contains(stem + "2"));
}
