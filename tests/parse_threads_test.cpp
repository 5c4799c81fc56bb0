// Components created, parsed and queried on many threads at once, as a
// free-threaded host does: every component on its own thread, one parsed
// component answering many threads, references counted from all of them.
// Run under ThreadSanitizer by scripts/test.sh; the answers are checked
// too, so that a race that corrupts a table shows in any build.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "../source/PathIdentity.h"
#include "QueryDriver.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using testsupport::Bstr;

namespace {

constexpr int kThreads = 6;

// A program every thread can parse: no embedded sources, so that nothing is
// written beside it while others read it.
ubrofw::Writer SharedProgram() {
  ubrofw::Writer w;
  w.Start().Aux1(0, "2.10").MemInfo(0, 2, 0x110, "data");
  w.BegPgm("main").FileRef(0, "C:\\proj\\main.c").FileRef(1, "C:\\proj\\io.h");
  w.TypeStruct17(100, "pt", 4, {{0, "x", 6}, {2, "y", 6}}).TypePointer(101, 100);
  w.TypeFunction20(102, 6, 0, {101});
  w.SymbolDef(1, 2, 0x60, "origin", 100).SymbolDef(2, 0, 0x100, "main", 102);
  w.FuncBegin1("main", {{1, 2, 0x64, "p", 101, {}}}).Org(1, 0x100);
  for (uint16_t line = 3; line < 40; ++line) w.SrcStat(line, 1, line, 12).AbsVar({1, 2});
  w.NewFile(1).SrcStat(7, 1, 7, 2).AbsVar({3, 4, 5});
  w.BlockEnd().End();
  w.BegLib("exit").FileRef(0, "C:\\proj\\exit.c").SymbolDef(2, 0, 0x200, "exit", 102);
  w.FuncBegin1("exit").Org(1, 0x200).SrcStat(2, 1, 2, 9).AbsVar({6, 7}).BlockEnd().End();
  return w.Finish();
}

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

}  // namespace

TEST(ParseThreads, ManyComponentsParsedAndQueriedAtOnce) {
  std::string shared = testsupport::UniquePath("shared");
  ASSERT_TRUE(SharedProgram().Save(shared));
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
  ASSERT_EQ(c.Parse(SharedProgram()), S_OK);
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
