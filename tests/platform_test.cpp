// The automation runtime and platform services behave as the component and
// its hosts rely on, on both platforms (our own runtime on Linux, oleaut32 on
// Windows). Platform-specific expectations live in platform_linux_test.cpp and
// platform_windows_test.cpp.
#include "../platform/Platform.h"

#include <gtest/gtest.h>

#include <cstring>

#include "../platform/ModuleStrings.h"

TEST(Bstr, IsLengthPrefixedAndTerminated) {
  const OLECHAR text[] = {OLECHAR(0x61), OLECHAR(0x62), 0, OLECHAR(0x63), OLECHAR(0x64), 0};
  BSTR b = SysAllocStringLen(text, 5);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 5u);
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<char*>(b) - 4, 4);
  EXPECT_EQ(prefix, 10u);  // bytes, without the terminator
  EXPECT_EQ(b[2], 0);      // embedded zero kept
  EXPECT_EQ(b[5], 0);      // terminator
  SysFreeString(b);
  SysFreeString(nullptr);  // null-safe
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  BSTR z = SysAllocStringLen(nullptr, 3);  // contents unspecified, length and terminator not
  EXPECT_EQ(SysStringLen(z), 3u);
  EXPECT_EQ(z[3], 0);
  SysFreeString(z);
}

TEST(SafeArray, OneDimensionalBytesAndLongs) {
  SAFEARRAYBOUND bound = {5, 0};
  SAFEARRAY* psa = SafeArrayCreate(VT_UI1, 1, &bound);
  ASSERT_NE(psa, nullptr);
  EXPECT_EQ(psa->cbElements, 1u);
  LONG lb = -1, ub = -1;
  EXPECT_EQ(SafeArrayGetLBound(psa, 1, &lb), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, &ub), S_OK);
  EXPECT_EQ(lb, 0);
  EXPECT_EQ(ub, 4);
  void* data = nullptr;
  EXPECT_EQ(SafeArrayAccessData(psa, &data), S_OK);
  EXPECT_EQ(static_cast<uint8_t*>(data)[4], 0);  // zeroed
  EXPECT_NE(SafeArrayDestroy(psa), S_OK);        // locked arrays are not destroyed
  EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);

  // A descriptor whose data comes from the task allocator, as GetDies builds it.
  SAFEARRAY* pDesc = nullptr;
  ASSERT_EQ(SafeArrayAllocDescriptor(1, &pDesc), S_OK);
  pDesc->cbElements = 4;
  pDesc->rgsabound[0].cElements = 0;
  EXPECT_EQ(SafeArrayGetUBound(pDesc, 1, &ub), S_OK);
  EXPECT_EQ(ub, -1);  // empty
  pDesc->pvData = CoTaskMemAlloc(8);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_I4;
  v.parray = pDesc;
  EXPECT_EQ(VariantClear(&v), S_OK);  // frees descriptor and data
  EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(Variant, LayoutMatchesWindows) {
  // Pointers make the difference between the 32-bit and the 64-bit layouts.
  const bool wide = sizeof(void*) == 8;
  EXPECT_EQ(sizeof(VARIANT), wide ? 24u : 16u);
  EXPECT_EQ(offsetof(VARIANT, lVal), 8u);
  EXPECT_EQ(sizeof(SAFEARRAY), wide ? 32u : 24u);
  EXPECT_EQ(offsetof(SAFEARRAY, pvData), wide ? 16u : 12u);
  EXPECT_EQ(sizeof(GUID), 16u);
  EXPECT_EQ(sizeof(ULONG), 4u);
  EXPECT_EQ(sizeof(DATE), 8u);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = platform::AnsiToBstr("x");
  EXPECT_EQ(VariantClear(&v), S_OK);
}

TEST(Bstr, AsciiRoundTrip) {
  const std::string text = "C:\\work\\prog.d90 ~!";
  BSTR b = platform::AnsiToBstr(text);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), text.size());
  EXPECT_EQ(b[2], u'\\');
  EXPECT_EQ(platform::BstrToAnsi(b), text);
  SysFreeString(b);
  bool ok = false;
  BSTR empty = platform::AnsiToBstr("");
  ASSERT_NE(empty, nullptr);  // an empty string, not a null one
  EXPECT_EQ(SysStringLen(empty), 0u);
  EXPECT_EQ(platform::BstrToAnsi(empty, &ok), "");
  EXPECT_TRUE(ok);
  SysFreeString(empty);
  EXPECT_EQ(platform::BstrToAnsi(nullptr, &ok), "");
  EXPECT_FALSE(ok);
}
