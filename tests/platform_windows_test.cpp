// The Windows platform layer: code-page conversion, dates, resources, the
// mutex, and late binding through the type library embedded in the module
// (the unit tests link the same resources as the DLL).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "../platform/ModuleStrings.h"
#include "InterfaceTable.h"
#include "TestSupport.h"

using testsupport::Bstr;
using testsupport::Component;

namespace {

std::wstring Wide(const char* s) { return std::wstring(s, s + std::strlen(s)); }
std::string Narrow(const wchar_t* s) {
  std::string out;
  for (; s && *s; ++s) out += char(*s);
  return out;
}

// Releases a COM pointer at scope end.
template <class T>
struct Ref {
  T* p = nullptr;
  ~Ref() {
    if (p) p->Release();
  }
  T* operator->() const { return p; }
  T** operator&() { return &p; }
};

struct BstrText {
  BSTR b = nullptr;
  ~BstrText() { SysFreeString(b); }
  std::string str() const { return Narrow(b); }
};

// Calls IDispatch::Invoke with the arguments given in declaration order
// (Invoke wants them reversed); *pScode gets the status an exception carries.
HRESULT Call(IDispatch* d, DISPID id, std::vector<VARIANT> args, VARIANT* pResult = nullptr,
             HRESULT* pScode = nullptr) {
  std::vector<VARIANT> rev(args.rbegin(), args.rend());
  DISPPARAMS params = {rev.data(), nullptr, UINT(rev.size()), 0};
  EXCEPINFO ex = {};
  UINT argErr = 0;
  HRESULT hr =
      d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, pResult, &ex, &argErr);
  if (pScode) *pScode = ex.scode;
  SysFreeString(ex.bstrSource);
  SysFreeString(ex.bstrDescription);
  SysFreeString(ex.bstrHelpFile);
  return hr;
}

// The value members of a VARIANT all start at the same offset.
template <class T>
VARIANT Arg(VARTYPE vt, T v) {
  VARIANT x;
  VariantInit(&x);
  x.vt = vt;
  std::memcpy(&x.llVal, &v, sizeof v);
  return x;
}
VARIANT Ui1(BYTE v) { return Arg(VT_UI1, v); }
VARIANT Ui4(ULONG v) { return Arg(VT_UI4, v); }
VARIANT ByRef(VARTYPE vt, void* p) { return Arg(VARTYPE(VT_BYREF | vt), p); }

}  // namespace

TEST(WindowsText, ConvertsWithTheAnsiCodePage) {
  // e-acute and the euro sign, as the ANSI code page spells them.
  const wchar_t wide[] = {0x00E9, L'x', 0x20AC, 0};
  char expected[16] = {};
  ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, wide, -1, expected, sizeof expected, nullptr, nullptr),
            0);
  bool ok = false;
  EXPECT_EQ(platform::BstrToAnsi(wide, &ok), expected);
  EXPECT_TRUE(ok);
  BSTR back = platform::AnsiToBstr(expected);
  ASSERT_NE(back, nullptr);
  wchar_t expectedWide[16] = {};
  MultiByteToWideChar(CP_ACP, 0, expected, -1, expectedWide, 16);
  EXPECT_EQ(std::wstring(back), std::wstring(expectedWide));
  SysFreeString(back);
  if (GetACP() != CP_UTF8) {
    // A character the code page lacks becomes its default character; the
    // conversion itself still succeeds.
    const wchar_t han[] = {0x4E2D, 0};
    std::string text = platform::BstrToAnsi(han, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(text.size(), 1u);
  }
}

TEST(WindowsText, DatesUseTheUserLocaleWithFourDigitYears) {
  const DATE date = 36518.5208333333333;  // 24 December 1999 12:30
  BSTR b = nullptr;
  ASSERT_EQ(VarBstrFromDate(date, LOCALE_USER_DEFAULT, VAR_FOURDIGITYEARS, &b), S_OK);
  std::string expected = platform::BstrToAnsi(b);
  SysFreeString(b);
  std::string text = platform::DateToText(date);
  EXPECT_EQ(text, expected);
  EXPECT_NE(text.find("1999"), std::string::npos) << text;
  EXPECT_EQ(platform::DateToText(NAN), "");  // no date, no text
}

TEST(WindowsModule, ThreadIdsAndStringsComeFromTheSystem) {
  EXPECT_EQ(platform::CurrentThreadId(), GetCurrentThreadId());
  // The strings are read from the module's string table, not compiled in.
  wchar_t name[64] = {};
  ASSERT_GT(LoadStringW(GetModuleHandleW(nullptr), MIRL_IDS_PROJNAME, name, 64), 0);
  EXPECT_EQ(Narrow(name), MIRL_PROJECT_NAME);
  EXPECT_EQ(platform::LoadStringResource(MIRL_IDS_DESCRIPTION), MIRL_DESCRIPTION);
}

TEST(WindowsModule, MessageBoxHookReceivesTheMessage) {
  testsupport::MessageCapture capture;
  platform::ShowMessageBox("text", "caption");
  EXPECT_EQ(capture.count, 1);
  EXPECT_EQ(capture.lastText, "text");
  EXPECT_EQ(capture.lastCaption, "caption");
}

namespace {
struct MutexProbe {
  platform::Mutex* pMutex;
  volatile LONG lEntered;
};
DWORD WINAPI LockFromOtherThread(LPVOID p) {
  auto* probe = static_cast<MutexProbe*>(p);
  probe->pMutex->Lock();
  InterlockedExchange(&probe->lEntered, 1);
  probe->pMutex->Unlock();
  return 0;
}
}  // namespace

TEST(WindowsModule, MutexKeepsOtherThreadsOut) {
  platform::Mutex mutex;
  MutexProbe probe = {&mutex, 0};
  mutex.Lock();
  HANDLE thread = CreateThread(nullptr, 0, &LockFromOtherThread, &probe, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 200), DWORD(WAIT_TIMEOUT));
  EXPECT_EQ(probe.lEntered, 0);
  mutex.Unlock();
  EXPECT_EQ(WaitForSingleObject(thread, 10000), DWORD(WAIT_OBJECT_0));
  EXPECT_EQ(probe.lEntered, 1);
  CloseHandle(thread);
}

// ---------------------------------------------------------------------------
// The embedded type library
// ---------------------------------------------------------------------------
TEST(TypeLibrary, LibraryAndClassAsRegistered) {
  Ref<ITypeInfo> info;
  ASSERT_EQ(platform::GetInterfaceTypeInfo(IID_IMirlParser, &info), S_OK);
  Ref<ITypeLib> lib;
  UINT index = 0;
  ASSERT_EQ(info->GetContainingTypeLib(&lib, &index), S_OK);
  TLIBATTR* pLibAttr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&pLibAttr), S_OK);
  EXPECT_TRUE(IsEqualGUID(pLibAttr->guid, LIBID_MIRLPARSERUBROFLib));
  EXPECT_EQ(pLibAttr->lcid, 0x409u);
  EXPECT_EQ(pLibAttr->wMajorVerNum, 1);
  EXPECT_EQ(pLibAttr->wMinorVerNum, 0);
  EXPECT_EQ(pLibAttr->syskind, SYS_WIN64);
  lib->ReleaseTLibAttr(pLibAttr);
  BstrText libName, libHelp;
  ASSERT_EQ(lib->GetDocumentation(-1, &libName.b, &libHelp.b, nullptr, nullptr), S_OK);
  EXPECT_EQ(libName.str(), "MIRLPARSERUBROFLib");
  EXPECT_EQ(libHelp.str(), "MirlParserUbrof 1.0 Type Library");

  Ref<ITypeInfo> cls;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_MirlParserUbrof, &cls), S_OK);
  BstrText clsName, clsHelp;
  ASSERT_EQ(cls->GetDocumentation(MEMBERID_NIL, &clsName.b, &clsHelp.b, nullptr, nullptr), S_OK);
  EXPECT_EQ(clsName.str(), "MirlParserUbrof");
  EXPECT_EQ(clsHelp.str(), "MirlParserUbrof Class");
  TYPEATTR* pAttr = nullptr;
  ASSERT_EQ(cls->GetTypeAttr(&pAttr), S_OK);
  EXPECT_EQ(pAttr->typekind, TKIND_COCLASS);
  EXPECT_TRUE(pAttr->wTypeFlags & TYPEFLAG_FCANCREATE);
  ASSERT_EQ(pAttr->cImplTypes, 4);
  cls->ReleaseTypeAttr(pAttr);
  const char* const names[] = {"IMirlParser", "IMirlParser2", "IMirlParser3", "IMirlParserMem"};
  for (UINT i = 0; i < 4; ++i) {
    HREFTYPE ref = 0;
    Ref<ITypeInfo> impl;
    ASSERT_EQ(cls->GetRefTypeOfImplType(i, &ref), S_OK);
    ASSERT_EQ(cls->GetRefTypeInfo(ref, &impl), S_OK);
    BstrText name;
    impl->GetDocumentation(MEMBERID_NIL, &name.b, nullptr, nullptr, nullptr);
    EXPECT_EQ(name.str(), names[i]);
    INT flags = 0;
    ASSERT_EQ(cls->GetImplTypeFlags(i, &flags), S_OK);
    EXPECT_EQ((flags & IMPLTYPEFLAG_FDEFAULT) != 0, i == 0) << names[i];
  }
}

TEST(TypeLibrary, EveryMethodWithItsDispatchIdAndParameters) {
  Ref<ITypeInfo> anyInfo;
  ASSERT_EQ(platform::GetInterfaceTypeInfo(IID_IMirlParser, &anyInfo), S_OK);
  Ref<ITypeLib> lib;
  UINT index = 0;
  ASSERT_EQ(anyInfo->GetContainingTypeLib(&lib, &index), S_OK);
  for (const itable::Interface& itf : itable::kInterfaces) {
    SCOPED_TRACE(itf.pszName);
    std::wstring wname = Wide(itf.pszName);
    Ref<ITypeInfo> info;
    MEMBERID found = 0;
    USHORT count = 1;
    ASSERT_EQ(lib->FindName(&wname[0], 0, &info.p, &found, &count), S_OK);
    ASSERT_EQ(count, 1);
    BstrText help;
    info->GetDocumentation(MEMBERID_NIL, nullptr, &help.b, nullptr, nullptr);
    EXPECT_EQ(help.str(), itf.pszHelp);
    TYPEATTR* pAttr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&pAttr), S_OK);
    EXPECT_EQ(pAttr->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(pAttr->wTypeFlags & TYPEFLAG_FDUAL);
    info->ReleaseTypeAttr(pAttr);
    // The vtable view of a dual interface: automation-compatible, derived
    // from IDispatch. It carries the parameter directions (the dispatch
    // view turns [out,retval] into a return value).
    HREFTYPE ref = 0;
    Ref<ITypeInfo> vtbl;
    ASSERT_EQ(info->GetRefTypeOfImplType(UINT(-1), &ref), S_OK);
    ASSERT_EQ(info->GetRefTypeInfo(ref, &vtbl), S_OK);
    ASSERT_EQ(vtbl->GetTypeAttr(&pAttr), S_OK);
    EXPECT_EQ(pAttr->typekind, TKIND_INTERFACE);
    EXPECT_TRUE(pAttr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    const WORD cFuncs = pAttr->cFuncs;
    vtbl->ReleaseTypeAttr(pAttr);
    for (const itable::Method& m : itable::kMethods) {
      if (std::string(m.pszInterface) != itf.pszName) continue;
      SCOPED_TRACE(m.pszName);
      std::wstring method = Wide(m.pszName);
      LPOLESTR pName = &method[0];
      MEMBERID id = 0;
      ASSERT_EQ(info->GetIDsOfNames(&pName, 1, &id), S_OK);
      EXPECT_EQ(id, m.lDispId);
      BstrText methodHelp;
      info->GetDocumentation(id, nullptr, &methodHelp.b, nullptr, nullptr);
      EXPECT_EQ(methodHelp.str(), std::string("method ") + m.pszName);
      // Parameter directions and names, in order; the table gives
      // "[dir] type name".
      std::string expected = m.pszParams, got;
      std::string dirsAndNames;
      for (size_t pos = 0; pos < expected.size();) {
        size_t end = expected.find(", ", pos);
        if (end == std::string::npos) end = expected.size();
        std::string p = expected.substr(pos, end - pos);
        dirsAndNames += (dirsAndNames.empty() ? "" : ", ") + p.substr(0, p.find(']') + 1) +
                        p.substr(p.rfind(' '));
        pos = end + 2;
      }
      FUNCDESC* pFunc = nullptr;
      for (UINT f = 0; f < cFuncs; ++f) {
        FUNCDESC* fd = nullptr;
        if (FAILED(vtbl->GetFuncDesc(f, &fd))) continue;
        if (fd->memid == id) {
          pFunc = fd;
          break;
        }
        vtbl->ReleaseFuncDesc(fd);
      }
      ASSERT_NE(pFunc, nullptr);
      BSTR vnames[16] = {};
      UINT cV = 0;
      vtbl->GetNames(id, vnames, 16, &cV);
      ASSERT_EQ(cV, UINT(pFunc->cParams) + 1);
      for (SHORT p = 0; p < pFunc->cParams; ++p) {
        USHORT fl = pFunc->lprgelemdescParam[p].paramdesc.wParamFlags;
        std::string dir = (fl & PARAMFLAG_FIN) && (fl & PARAMFLAG_FOUT)       ? "[in,out]"
                          : (fl & PARAMFLAG_FOUT) && (fl & PARAMFLAG_FRETVAL) ? "[out,retval]"
                          : (fl & PARAMFLAG_FOUT)                             ? "[out]"
                                                                              : "[in]";
        got += (got.empty() ? "" : ", ") + dir + " " + Narrow(vnames[p + 1]);
      }
      for (UINT n = 0; n < cV; ++n) SysFreeString(vnames[n]);
      vtbl->ReleaseFuncDesc(pFunc);
      EXPECT_EQ(got, dirsAndNames);
    }
  }
}

TEST(TypeLibrary, UnknownInterfaceHasNoTypeInformation) {
  ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_TRUE(FAILED(platform::GetInterfaceTypeInfo(IID_IClassFactory, &info)));
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(platform::GetInterfaceTypeInfo(IID_IMirlParser, nullptr), E_POINTER);
}

// ---------------------------------------------------------------------------
// Late binding on the component itself
// ---------------------------------------------------------------------------
TEST(LateBinding, EachInterfaceDispatchesItsOwnMethods) {
  Component c;
  IDispatch* parser = static_cast<IMirlParser*>(c.get());
  IDispatch* mem = static_cast<IMirlParserMem*>(c.get());
  IDispatch* three = static_cast<IMirlParser3*>(c.get());
  struct Case {
    IDispatch* d;
    const wchar_t* name;
    HRESULT hr;
    DISPID id;
  } cases[] = {
      {parser, L"Init", S_OK, 1},
      {parser, L"LookupLabel", S_OK, 0x21},
      {parser, L"GetTypeInfo", S_OK, 0x1A},  // ours, not IDispatch's
      {parser, L"ReadMemSA", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
      {mem, L"GetProgramExit", S_OK, 2},
      {mem, L"Init", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
      {three, L"GetTag", S_OK, 5},
      {three, L"LookupLabel", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
  };
  for (const Case& k : cases) {
    LPOLESTR name = const_cast<LPOLESTR>(k.name);
    DISPID id = 12345;
    EXPECT_EQ(k.d->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), k.hr)
        << Narrow(k.name);
    EXPECT_EQ(id, k.id) << Narrow(k.name);
  }
  UINT count = 0;
  EXPECT_EQ(mem->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  Ref<ITypeInfo> info;
  ASSERT_EQ(three->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
  TYPEATTR* pAttr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&pAttr), S_OK);
  EXPECT_TRUE(IsEqualGUID(pAttr->guid, IID_IMirlParser3));
  info->ReleaseTypeAttr(pAttr);
  ITypeInfo* none = nullptr;
  EXPECT_EQ(three->GetTypeInfo(1, LOCALE_USER_DEFAULT, &none), DISP_E_BADINDEX);
}

TEST(LateBinding, InvokeRunsTheParseLifecycle) {
  Component c;
  IDispatch* d = static_cast<IMirlParser*>(c.get());
  // A failing status comes back as an exception carrying the status.
  HRESULT scode = S_OK;
  EXPECT_EQ(Call(d, 1, {Ui1(1)}, nullptr, &scode), DISP_E_EXCEPTION);
  EXPECT_EQ(scode, E_FAIL);
  EXPECT_EQ(c->m_ulState, 0u);
  EXPECT_EQ(Call(d, 1, {Ui1(0)}), S_OK);
  EXPECT_EQ(c->m_ulState, 1u);

  ubrofw::Writer w;
  w.BegFile1(0, 30, 12, 24, 12, 99).Version(8, 0, 2).Finish();
  std::string path = testsupport::UniquePath("dispatch");
  ASSERT_TRUE(w.Save(path));
  Bstr bpath(path);
  EXPECT_EQ(Call(d, 4, {ByRef(VT_BSTR, &bpath), Ui4(0)}), S_OK);
  EXPECT_EQ(c->m_ulState, 3u);
  EXPECT_EQ(bpath.str(), path);  // [in,out], left unchanged

  DATE built = 0;
  EXPECT_EQ(Call(d, 5, {ByRef(VT_DATE, &built)}), S_OK);
  EXPECT_EQ(built, c->m_FileInfo.m_dateTimeOfBuild);
  EXPECT_NE(built, 0.0);

  Bstr info;
  EXPECT_EQ(Call(d, 7, {ByRef(VT_BSTR, &info)}), S_OK);
  EXPECT_NE(info.str().find(path), std::string::npos) << info.str();

  // LookupLabel sits between 0x14 and 0x15 in the vtable but answers 0x21.
  BstrText viaVtable, viaDispatch;
  HRESULT hrVtable = c->LookupLabel(0x100, &viaVtable.b);
  HRESULT hrDispatch = Call(d, 0x21, {Ui4(0x100), ByRef(VT_BSTR, &viaDispatch.b)}, nullptr, &scode);
  if (FAILED(hrVtable)) {
    EXPECT_EQ(hrDispatch, DISP_E_EXCEPTION);
    EXPECT_EQ(scode, hrVtable);
  } else {
    EXPECT_EQ(hrDispatch, S_OK);
    EXPECT_EQ(viaDispatch.str(), viaVtable.str());
  }
  EXPECT_EQ(Call(d, 0x13, {}), DISP_E_MEMBERNOTFOUND);  // not assigned
}
