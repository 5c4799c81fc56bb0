// Components created, parsed and queried on many threads at once, as a
// free-threaded host does: every component on its own thread, one parsed
// component answering many threads, references counted from all of them,
// host paths resolved through the one process-wide path cache.
// Run under ThreadSanitizer by scripts/test.sh; the answers are checked
// too, so that a race that corrupts a table shows in any build.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "../platform/Paths.h"
#include "../source/PathIdentity.h"
#include "Programs.h"
#include "QueryDriver.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

constexpr int kThreads = 6;

// A thread's own program, with an embedded source extracted beside it.
ubrofw::Writer OwnProgram(int index) {
  ubrofw::Writer w;
  w.Start().BegLib("t" + std::to_string(index));
  w.File("own.c", {"int t" + std::to_string(index) + ";"});
  w.FuncBegin1("f").Org(1, 0x1000u * uint32_t(index + 1)).SrcStat(1, 1, 1, 6).AbsVar({9, 9});
  w.BlockEnd().End();
  return w.Finish();
}

// The answers a host relies on; returns the number of wrong ones.
int CheckShared(IMirlParser* c) {
  IMirlParserMem* pMem = nullptr;
  if (c->QueryInterface(IID_IMirlParserMem, reinterpret_cast<void**>(&pMem)) != S_OK) return 1;
  int wrong = 0;
  Bstr path;
  ULONG line = 0, col, le, ce, start = 0;
  if (c->GetSourceFromProgMemAddress(0x100 + 2 * 10 + 1, &path, &line, &col, &le, &ce, &start) !=
          S_OK ||
      path.str() != "C:\\proj\\main.c" || line != 12 || start != 0x114)
    ++wrong;
  Bstr main("main"), exitName("exit");
  ULONG id = 0, scope = 0;
  if (c->LookupSymbolName(&main, 0, 1, &id, &scope) != S_OK || id != 1) ++wrong;
  if (c->LookupSymbolName(&exitName, 1, 0, &id, &scope) != S_OK || id != 3) ++wrong;
  Bstr typeName;
  ULONG size = 0, spec = 0, elements = 0, ptrSize = 0;
  unsigned char mem = 0;
  if (c->GetTypeInfo(102, &typeName, &size, &spec, &elements, &mem, &ptrSize) != S_OK ||
      typeName.str() != "(int) (struct pt *)")
    ++wrong;
  ULONG exitAddress = 0;
  if (pMem->GetProgramExit(&exitAddress) != S_OK || exitAddress != 0x200) ++wrong;
  pMem->Release();
  Bstr host("c:/PROJ/main.c");  // not the stored spelling: resolved through the path cache
  ULONG address = 0;
  if (c->GetProgMemAddressFromSource(&host, 5, 0, &address) != E_FAIL) ++wrong;
  return wrong;
}

constexpr int kPathThreads = 8;
constexpr int kRounds = 40;

// One thread's work on the path cache; returns the number of wrong answers.
int PathWork(int index, const std::string& dir, std::atomic<bool>& go) {
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

TEST(ParseThreads, ManyComponentsParsedAndQueriedAtOnce) {
  std::string shared = testsupport::UniquePath("shared");
  ASSERT_TRUE(testprograms::SharedProgram().Save(shared));
  std::vector<std::string> own;
  for (int i = 0; i < kThreads; ++i) {
    std::string dir = testsupport::UniquePath("own", "");
    fs::create_directories(dir);
    own.push_back((fs::path(dir) / "prog.d90").string());
    ASSERT_TRUE(OwnProgram(i).Save(own.back()));
  }

  std::atomic<bool> go{false};
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      for (int round = 0; round < 4; ++round) {
        // Created through the class factory, as a host does.
        IClassFactory* factory = nullptr;
        IMirlParser* p = nullptr;
        if (DllGetClassObject(CLSID_MirlParserUbrof, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory)) != S_OK ||
            factory->CreateInstance(nullptr, IID_IMirlParser, reinterpret_cast<void**>(&p)) !=
                S_OK) {
          ++wrong[size_t(i)];
          return;
        }
        factory->Release();
        bool mine = round % 2 == 1;
        Bstr path(mine ? own[size_t(i)] : shared);
        if (p->Init(0) != S_OK || p->ParseObjectFile(&path, 0) != S_OK) {
          ++wrong[size_t(i)];
        } else if (mine) {
          Bstr file;
          DATE stamp;
          unsigned char lang, temp = 0;
          if (p->GetSourceFileInfo(0, &file, &stamp, &lang, &temp) != S_OK || temp != 1 ||
              testsupport::ReadText(file.str()) != "int t" + std::to_string(i) + ";\r\n")
            ++wrong[size_t(i)];
        } else {
          wrong[size_t(i)] += CheckShared(p);
        }
        querydriver::DriveAll(p);
        if (p->Release() != 0) ++wrong[size_t(i)];  // every reference was given back
      }
    });
  }
  go = true;
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(wrong[size_t(i)], 0) << "thread " << i;
  EXPECT_LE(mirl::PathInfoCache::Instance().Size(), mirl::PathInfoCache::kCapacity);
}

TEST(ParseThreads, OneParsedComponentAnswersManyThreads) {
  testsupport::Component c;
  ASSERT_EQ(c.Parse(testprograms::SharedProgram()), S_OK);
  const ULONG held = c->AddRef() - 1;  // the test's own references
  c->Release();
  std::atomic<bool> go{false};
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      // Each thread holds a reference of its own while it asks.
      IMirlParser3* p3 = nullptr;
      if (c->QueryInterface(IID_IMirlParser3, reinterpret_cast<void**>(&p3)) != S_OK) {
        ++wrong[size_t(i)];
        return;
      }
      while (!go.load()) std::this_thread::yield();
      for (int round = 0; round < 3; ++round) {
        wrong[size_t(i)] += CheckShared(c.Itf());
        // Every method that leaves the component as it was.
        querydriver::DriveAll(c.Itf(), false);
        // Unique paths keep the shared cache evicting while others read it.
        mirl::PathIdentity id("q" + std::to_string(i) + "-" + std::to_string(round) + ".c", "");
        if (id.Info().FullPath.empty()) ++wrong[size_t(i)];
      }
      p3->Release();
    });
  }
  go = true;
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(wrong[size_t(i)], 0) << "thread " << i;
  // Only the test's own references are left.
  EXPECT_EQ(c->AddRef(), held + 1);
  EXPECT_EQ(c->Release(), held);
}

TEST(PathsThreads, ComponentsShareThePathCacheSafely) {
  std::vector<std::string> dirs;
  for (int i = 0; i < kPathThreads; ++i) {
    dirs.push_back(testsupport::UniquePath("thread", ""));
    fs::create_directories(dirs.back());
  }
  std::atomic<bool> go{false};
  std::vector<int> wrong(kPathThreads, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kPathThreads; ++i)
    threads.emplace_back([&, i] { wrong[size_t(i)] = PathWork(i, dirs[size_t(i)], go); });
  go = true;
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kPathThreads; ++i) EXPECT_EQ(wrong[size_t(i)], 0) << "thread " << i;
  EXPECT_LE(mirl::PathInfoCache::Instance().Size(), mirl::PathInfoCache::kCapacity);
  // Every thread extracted its own embedded file beside its own object file.
  for (const std::string& d : dirs)
    EXPECT_EQ(testsupport::ReadText((fs::path(d) / "embedded_source" / "emb_emb.c").string()),
              "int x;\r\n");
}

// Platform services seen from more than one thread.
TEST(Threads, IdsDifferBetweenThreads) {
  unsigned long mine = platform::CurrentThreadId(), other = 0;
  std::thread t([&] { other = platform::CurrentThreadId(); });
  t.join();
  EXPECT_NE(mine, other);
  EXPECT_NE(mine, 0ul);
}
