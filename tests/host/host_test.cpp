// A host that knows only the public header and the shared library: it gets
// the class factory, creates the parser, aggregates it and parses a file.
// The factory and the object's unknown are the same code in the Windows DLL,
// so this is where they are checked in depth.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "MirlParserUbrof.h"
#include "UbrofWriter.h"

namespace {

template <class T>
void** Out(T** pp) {
  return reinterpret_cast<void**>(pp);
}

IClassFactory* Factory() {
  IClassFactory* factory = nullptr;
  EXPECT_EQ(DllGetClassObject(CLSID_MirlParserUbrof, IID_IClassFactory, Out(&factory)), S_OK);
  return factory;
}

// A controlling object that counts its references and forwards every other
// interface to the parser it aggregates.
struct Outer : IUnknown {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid != IID_IUnknown) return inner->QueryInterface(riid, ppv);
    *ppv = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return ULONG(--refs); }
  long refs = 1;  // lives on the test's stack
  IUnknown* inner = nullptr;
};

TEST(Host, FactoryCreatesAParserThatParses) {
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(IID_IMirlParser, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  IClassFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  EXPECT_EQ(factory->LockServer(1), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(0), S_OK);
  IMirlParser* parser = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IMirlParser, Out(&parser)), S_OK);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);

  // IMirlParser2 is declared but not implemented; IDispatch is the
  // IMirlParser dual and every interface leads to one unknown.
  for (REFIID iid : {IID_IMirlParser2, IID_IClassFactory}) {
    p = reinterpret_cast<void*>(1);
    EXPECT_EQ(parser->QueryInterface(iid, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
  }
  IMirlParser3* three = nullptr;
  IMirlParserMem* mem = nullptr;
  IDispatch* disp = nullptr;
  ASSERT_EQ(parser->QueryInterface(IID_IMirlParser3, Out(&three)), S_OK);
  ASSERT_EQ(three->QueryInterface(IID_IMirlParserMem, Out(&mem)), S_OK);
  ASSERT_EQ(mem->QueryInterface(IID_IDispatch, Out(&disp)), S_OK);
  EXPECT_EQ(static_cast<void*>(disp), static_cast<void*>(parser));
  IUnknown* u1 = nullptr;
  IUnknown* u2 = nullptr;
  three->QueryInterface(IID_IUnknown, Out(&u1));
  mem->QueryInterface(IID_IUnknown, Out(&u2));
  EXPECT_EQ(u1, u2);

  // A file named by a BSTR from the library's own allocator.
  ubrofw::Writer w;
  w.Start().BegLib("main").End().Finish();
  const std::string path = "/tmp/mirl-host-ok.d90";
  ASSERT_TRUE(w.Save(path));
  std::u16string wide(path.begin(), path.end());
  BSTR file = SysAllocStringLen(wide.data(), UINT(wide.size()));
  ASSERT_EQ(parser->Init(0), S_OK);
  EXPECT_EQ(parser->ParseObjectFile(&file, 0), S_OK);
  SysFreeString(file);
  std::remove(path.c_str());
  BSTR info = nullptr;
  ASSERT_EQ(parser->GetGeneralInfoString(&info), S_OK);
  std::string text(info, info + SysStringLen(info));
  SysFreeString(info);
  EXPECT_NE(text.find("Currently loaded object file is: \"" + path +
                      "\", UBROF version 8.0 rev. 2, built on 12/24/1999 12:30:00 PM"),
            std::string::npos)
      << text;
  for (IUnknown* itf : {static_cast<IUnknown*>(three), static_cast<IUnknown*>(mem),
                        static_cast<IUnknown*>(disp), u1, u2, static_cast<IUnknown*>(parser)})
    itf->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(Host, AggregationHandsOutOnlyTheInnerUnknown) {
  IClassFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  Outer outer;
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IMirlParser, &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, Out(&outer.inner)), S_OK);
  EXPECT_EQ(outer.refs, 1);  // the inner object holds no reference to us
  IMirlParserMem* mem = nullptr;
  ASSERT_EQ(outer.inner->QueryInterface(IID_IMirlParserMem, Out(&mem)), S_OK);
  EXPECT_EQ(outer.refs, 2);  // the interface's references belong to the outer object
  IUnknown* back = nullptr;
  ASSERT_EQ(mem->QueryInterface(IID_IUnknown, Out(&back)), S_OK);
  EXPECT_EQ(back, static_cast<IUnknown*>(&outer));
  back->Release();
  IMirlParser* parser = nullptr;  // through the outer object's QueryInterface
  ASSERT_EQ(mem->QueryInterface(IID_IMirlParser, Out(&parser)), S_OK);
  EXPECT_EQ(parser->Init(0), S_OK);
  parser->Release();
  mem->Release();
  EXPECT_EQ(outer.refs, 1);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  outer.inner->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

}  // namespace
