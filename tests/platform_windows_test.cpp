// The Windows platform layer: code-page conversion, dates, the mutex, and
// the type library embedded in the module (the unit tests link the same
// resources as the DLL). Late binding is checked on the registered DLL by
// tests/windows/com_host_test.cpp.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "InterfaceTable.h"
#include "TestSupport.h"

namespace {

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

namespace {
platform::Mutex g_mutex;
volatile LONG g_entered = 0;
// A thread routine has the WINAPI calling convention, which a lambda lacks
// on x86.
DWORD WINAPI LockAndEnter(LPVOID) {
  g_mutex.Lock();
  InterlockedExchange(&g_entered, 1);
  g_mutex.Unlock();
  return 0;
}
}  // namespace

TEST(WindowsThreads, MutexKeepsOtherThreadsOut) {
  EXPECT_EQ(platform::CurrentThreadId(), GetCurrentThreadId());
  g_entered = 0;
  g_mutex.Lock();
  HANDLE thread = CreateThread(nullptr, 0, LockAndEnter, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 200), DWORD(WAIT_TIMEOUT));
  EXPECT_EQ(g_entered, 0);
  g_mutex.Unlock();
  EXPECT_EQ(WaitForSingleObject(thread, 10000), DWORD(WAIT_OBJECT_0));
  EXPECT_EQ(g_entered, 1);
  CloseHandle(thread);
}

// The embedded type library is what the type-library marshaler and every
// late-binding host read. It is built from the IDL, which
// interface_header_test compares with the table; here each interface's
// vtable view must list the table's methods in its order, with their
// dispatch ids and parameter counts, so that a stale or foreign library
// cannot be embedded. (Its version, locale and platform show in the keys
// that registration writes, which com_host checks.)
TEST(TypeLibrary, DescribesTheTableForHostsAndTheMarshaler) {
  ITypeInfo* none = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_TRUE(FAILED(platform::GetInterfaceTypeInfo(IID_IClassFactory, &none)));
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(platform::GetInterfaceTypeInfo(IID_IMirlParser, nullptr), E_POINTER);
  Ref<ITypeInfo> anyInfo;
  ASSERT_EQ(platform::GetInterfaceTypeInfo(IID_IMirlParser, &anyInfo), S_OK);
  Ref<ITypeLib> lib;
  UINT index = 0;
  ASSERT_EQ(anyInfo->GetContainingTypeLib(&lib, &index), S_OK);
  for (const char* itf : itable::kInterfaces) {
    SCOPED_TRACE(itf);
    std::wstring wname(itf, itf + std::strlen(itf));
    Ref<ITypeInfo> info;
    MEMBERID found = 0;
    USHORT count = 1;
    ASSERT_EQ(lib->FindName(&wname[0], 0, &info.p, &found, &count), S_OK);
    ASSERT_EQ(count, 1);
    // The vtable view of the dual interface: automation-compatible, its own
    // methods after the seven of IDispatch.
    HREFTYPE ref = 0;
    Ref<ITypeInfo> vtbl;
    TYPEATTR* pAttr = nullptr;
    ASSERT_EQ(info->GetRefTypeOfImplType(UINT(-1), &ref), S_OK);
    ASSERT_EQ(info->GetRefTypeInfo(ref, &vtbl), S_OK);
    ASSERT_EQ(vtbl->GetTypeAttr(&pAttr), S_OK);
    EXPECT_EQ(pAttr->typekind, TKIND_INTERFACE);
    EXPECT_TRUE(pAttr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    const UINT cFuncs = pAttr->cFuncs;
    vtbl->ReleaseTypeAttr(pAttr);
    UINT slot = 0;
    for (const itable::Method& m : itable::kMethods) {
      if (std::strcmp(m.pszInterface, itf) != 0) continue;
      FUNCDESC* pFunc = nullptr;
      ASSERT_LT(slot, cFuncs);
      ASSERT_EQ(vtbl->GetFuncDesc(slot, &pFunc), S_OK);
      EXPECT_EQ(pFunc->oVft, SHORT((7 + slot++) * sizeof(void*))) << m.pszName;
      EXPECT_EQ(pFunc->memid, m.lDispId) << m.pszName;
      const std::string params = m.pszParams;  // "[dir] type name, ..."
      SHORT cParams = 1;
      for (size_t at = 0; (at = params.find(", ", at)) != std::string::npos; ++at) ++cParams;
      EXPECT_EQ(pFunc->cParams, cParams) << m.pszName;
      BstrText name;
      UINT cNames = 0;
      vtbl->GetNames(pFunc->memid, &name.b, 1, &cNames);
      EXPECT_EQ(name.str(), m.pszName);
      vtbl->ReleaseFuncDesc(pFunc);
    }
    EXPECT_EQ(slot, cFuncs);
  }
}
