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

namespace {
// A name no other test resolves: the cache is shared by the whole process.
std::string UniqueName(const std::string& stem) {
  static int n = 0;
  return stem + std::to_string(++n) + "-" + std::to_string(std::rand());
}
}  // namespace

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
