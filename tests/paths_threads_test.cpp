// Many components parsed and queried at once on their own threads, all
// resolving host paths through the one process-wide path cache.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "../platform/Paths.h"
#include "../source/PathIdentity.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using testsupport::Bstr;
using testsupport::Component;

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 40;

// One thread's work; returns the number of wrong answers.
int Work(int index, const std::string& dir, std::atomic<bool>& go) {
  std::string stored = "C:\\build\\t" + std::to_string(index) + "\\main.c";
  uint32_t base = 0x1000u * uint32_t(index + 1);
  ubrofw::Writer w;
  w.Start().BegLib("m").FileRef(0, stored).FileRef(1, "C:\\shared\\common.h").Org(1, base);
  w.FuncBegin1("f");
  for (int line = 1; line <= 20; ++line)
    w.SrcStat(uint16_t(line), 1, uint16_t(line), 10).AbsVar({1, 2});
  w.NewFile(1).SrcStat(7, 1, 7, 2).AbsVar({3, 4, 5});
  w.File("emb.c", {"int x;"}).SrcStat(1, 1, 1, 5).AbsVar({6});
  w.BlockEnd().End().Finish();
  std::string obj = (fs::path(dir) / "prog.d90").string();
  std::string host = (fs::path(dir) / "Main.c").string();
  if (!w.Save(obj) || !testsupport::WriteFile(host, {'x'})) return 1000;

  while (!go.load()) std::this_thread::yield();

  int wrong = 0;
  Component c;
  if (c.ParsePath(obj) != S_OK) return 1000;
  Bstr oldPath(stored), newPath(host);
  if (c->RemapSourceFile(&oldPath, &newPath) != S_OK) ++wrong;
  std::string upper = host, swapped = host;
  for (char& ch : upper) ch = char(std::toupper(static_cast<unsigned char>(ch)));
  for (char& ch : swapped) ch = ch == '/' ? '\\' : ch == '\\' ? '/' : ch;
  const std::string queries[] = {host, upper, swapped};

  for (int round = 0; round < kRounds; ++round) {
    ULONG line = ULONG(round % 20);
    ULONG address = 0;
    Bstr q(queries[round % 3]);
    if (c->GetProgMemAddressFromSource(&q, line, 0, &address) != S_OK || address != base + 2 * line)
      ++wrong;
    Bstr common("c:/SHARED/common.h");  // not mapped, not the stored spelling
    if (c->GetProgMemAddressFromSource(&common, 6, 0, &address) != E_FAIL) ++wrong;
    Bstr path;
    ULONG l, col, le, ce, start;
    if (c->GetSourceFromProgMemAddress(base + 2 * line + 1, &path, &l, &col, &le, &ce, &start) !=
            S_OK ||
        path.str() != host || l != line || start != base + 2 * line)
      ++wrong;
    // Unique resolutions keep the cache evicting while others read it.
    for (int k = 0; k < 8; ++k) {
      mirl::PathIdentity id("t" + std::to_string(index) + "r" + std::to_string(round) + "k" +
                                std::to_string(k) + ".c",
                            dir);
      if (id.Info().FullPath.empty()) ++wrong;
    }
  }
  return wrong;
}

}  // namespace

TEST(PathsThreads, ComponentsShareThePathCacheSafely) {
  std::vector<std::string> dirs;
  for (int i = 0; i < kThreads; ++i) {
    dirs.push_back(testsupport::UniquePath("thread", ""));
    fs::create_directories(dirs.back());
  }
  std::atomic<bool> go{false};
  std::vector<int> wrong(kThreads, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] { wrong[size_t(i)] = Work(i, dirs[size_t(i)], go); });
  go = true;
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(wrong[size_t(i)], 0) << "thread " << i;
  EXPECT_LE(mirl::PathInfoCache::Instance().Size(), mirl::PathInfoCache::kCapacity);
  // Every thread extracted its own embedded file beside its own object file.
  for (const std::string& d : dirs)
    EXPECT_EQ(testsupport::ReadText((fs::path(d) / "embedded_source" / "emb_emb.c").string()),
              "int x;\r\n");
}
