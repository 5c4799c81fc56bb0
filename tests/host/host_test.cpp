// A host that knows only the public header and the shared library: it gets
// the class factory, creates the parser and runs the parse lifecycle.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "MirlParserUbrof.h"
#include "UbrofWriter.h"

namespace {

BSTR Ascii(const std::string& s) {
  std::u16string w(s.begin(), s.end());
  return SysAllocStringLen(w.data(), UINT(w.size()));
}

std::string Narrow(BSTR b) {
  std::string s;
  for (UINT i = 0; i < SysStringLen(b); ++i) s += char(b[i]);
  return s;
}

std::string WriteTemp(const ubrofw::Writer& w, const char* name) {
  std::string path = std::string("/tmp/mirl-host-") + name + ".d90";
  EXPECT_TRUE(w.Save(path));
  return path;
}

struct Host : ::testing::Test {
  IMirlParser* parser = nullptr;
  void SetUp() override {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_MirlParserUbrof, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory)),
              S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IMirlParser, reinterpret_cast<void**>(&parser)),
              S_OK);
    factory->Release();
  }
  void TearDown() override {
    if (parser) parser->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
  }
  HRESULT Parse(const std::string& path) {
    BSTR b = Ascii(path);
    HRESULT hr = parser->ParseObjectFile(&b, 0);
    SysFreeString(b);
    return hr;
  }
};

TEST_F(Host, FactoryRefusesOtherClassesAndAggregationOfOtherInterfaces) {
  void* p = nullptr;
  EXPECT_EQ(DllGetClassObject(IID_IMirlParser, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_MirlParserUbrof, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory)),
            S_OK);
  IUnknown* outer = parser;  // any unknown will do as the controlling object
  EXPECT_EQ(factory->CreateInstance(outer, IID_IMirlParser, &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  IUnknown* inner = nullptr;
  ASSERT_EQ(factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  // The aggregated object's interfaces delegate their unknown to the outer one.
  IMirlParserMem* mem = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IMirlParserMem, reinterpret_cast<void**>(&mem)), S_OK);
  IUnknown* viaMem = nullptr;
  ASSERT_EQ(mem->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaMem)), S_OK);
  IUnknown* outerUnknown = nullptr;
  parser->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&outerUnknown));
  EXPECT_EQ(viaMem, outerUnknown);
  viaMem->Release();
  outerUnknown->Release();
  mem->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  inner->Release();
  EXPECT_EQ(factory->LockServer(1), S_OK);
  parser->Release();
  parser = nullptr;
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // the lock keeps the library
  EXPECT_EQ(factory->LockServer(0), S_OK);
  factory->Release();
}

TEST_F(Host, QueryInterfaceAnswersTheThreeInterfacesOnly) {
  void* p = nullptr;
  EXPECT_EQ(parser->QueryInterface(IID_IMirlParser2, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  IMirlParser3* p3 = nullptr;
  ASSERT_EQ(parser->QueryInterface(IID_IMirlParser3, reinterpret_cast<void**>(&p3)), S_OK);
  IDispatch* disp = nullptr;
  ASSERT_EQ(parser->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)), S_OK);
  EXPECT_EQ(static_cast<void*>(disp), static_cast<void*>(parser));
  IUnknown* u1 = nullptr;
  IUnknown* u2 = nullptr;
  p3->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u1));
  parser->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u2));
  EXPECT_EQ(u1, u2);  // one identity
  u1->Release();
  u2->Release();
  disp->Release();
  p3->Release();
}

TEST_F(Host, LifecycleOnAWellFormedFile) {
  ubrofw::Writer w;
  w.Start().BegLib("main").End().Finish();
  std::string path = WriteTemp(w, "ok");
  EXPECT_EQ(Parse(path), PARSER_E_NOT_INITIALIZED);
  ASSERT_EQ(parser->Init(0), S_OK);
  DATE d = -1;
  EXPECT_EQ(parser->GetTimeOfBuild(&d), PARSER_E_NOT_PARSED);
  ASSERT_EQ(Parse(path), S_OK);
  EXPECT_EQ(Parse(path), PARSER_E_ALREADY_PARSED);
  ASSERT_EQ(parser->GetTimeOfBuild(&d), S_OK);
  EXPECT_NEAR(d, 36518.5208333, 1e-6);
  BSTR info = nullptr;
  ASSERT_EQ(parser->GetGeneralInfoString(&info), S_OK);
  std::string text = Narrow(info);
  SysFreeString(info);
  EXPECT_NE(text.find("Currently loaded object file is: \"" + path +
                      "\", UBROF version 8.0 rev. 2, built on 12/24/1999 12:30:00 PM"),
            std::string::npos)
      << text;
  std::remove(path.c_str());
}

TEST_F(Host, DamagedFilesFailAndLeaveTheComponentUsable) {
  ASSERT_EQ(parser->Init(0), S_OK);
  ubrofw::Writer empty;
  EXPECT_EQ(Parse(WriteTemp(empty, "empty")), PARSER_E_INVALID_FILE);
  ubrofw::Writer truncated;
  truncated.Start().BegLib("main");
  truncated.bytes.resize(truncated.bytes.size() - 2);
  EXPECT_EQ(Parse(WriteTemp(truncated, "cut")), PARSER_E_INVALID_FILE);
  ubrofw::Writer unknown;
  unknown.Start().Byte(0x99).Finish();
  EXPECT_EQ(Parse(WriteTemp(unknown, "unknown")), PARSER_E_INVALID_FILE);
  ubrofw::Writer skipped;
  skipped.BegFile1(0, 0, 0, 1, 1, 100).Version(8, 0, 1, {{0x99, 0xFE}});
  skipped.Byte(0x99).Word(3).Text("abc").Finish();
  EXPECT_EQ(Parse(WriteTemp(skipped, "skip")), S_OK);
}

}  // namespace
