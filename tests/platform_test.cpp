// The Linux automation runtime and platform services behave as the component
// and its hosts rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "../platform/Platform.h"

TEST(Bstr, IsLengthPrefixedAndTerminated) {
  const char16_t text[] = u"ab\0cd";
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
  BSTR z = SysAllocStringLen(nullptr, 3);
  EXPECT_EQ(SysStringLen(z), 3u);
  EXPECT_EQ(z[0], 0);
  SysFreeString(z);
}

TEST(Bstr, AnsiRoundTripIsUtf8) {
  const std::string text = "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80 C:\\x";
  BSTR b = platform::AnsiToBstr(text);
  EXPECT_EQ(b[2], 0x00FC);
  EXPECT_EQ(SysStringLen(b), 13u);  // the emoji is a surrogate pair
  EXPECT_EQ(platform::BstrToAnsi(b), text);
  SysFreeString(b);
  bool ok = true;
  EXPECT_EQ(platform::BstrToAnsi(nullptr, &ok), "");
  EXPECT_FALSE(ok);
  // Malformed UTF-8 becomes a replacement character, never a failure.
  BSTR bad = platform::AnsiToBstr("a\xFF" "b\xC3");
  ASSERT_EQ(SysStringLen(bad), 4u);
  EXPECT_EQ(bad[1], 0xFFFD);
  EXPECT_EQ(bad[3], 0xFFFD);
  SysFreeString(bad);
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
  EXPECT_EQ(sizeof(VARIANT), 24u);
  EXPECT_EQ(offsetof(VARIANT, lVal), 8u);
  EXPECT_EQ(sizeof(SAFEARRAY), 32u);
  EXPECT_EQ(offsetof(SAFEARRAY, pvData), 16u);
  EXPECT_EQ(sizeof(GUID), 16u);
  EXPECT_EQ(sizeof(ULONG), 4u);
  EXPECT_EQ(sizeof(DATE), 8u);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = platform::AnsiToBstr("x");
  EXPECT_EQ(VariantClear(&v), S_OK);
}

TEST(Dates, TextIsFourDigitYearLocaleForm) {
  EXPECT_EQ(platform::DateToText(36518.5208333333333), "12/24/1999 12:30:00 PM");
  EXPECT_EQ(platform::DateToText(36518.0), "12/24/1999");
  EXPECT_EQ(platform::DateToText(0.25), "6:00:00 AM");
  EXPECT_EQ(platform::DateToText(2.0), "1/1/1900");
  EXPECT_EQ(platform::DateToText(-1.25), "12/29/1899 6:00:00 AM");
}

TEST(Threads, IdsDifferBetweenThreads) {
  unsigned long mine = platform::CurrentThreadId(), other = 0;
  std::thread t([&] { other = platform::CurrentThreadId(); });
  t.join();
  EXPECT_NE(mine, other);
  EXPECT_NE(mine, 0ul);
}

TEST(Resources, DescriptionAndProjectName) {
  EXPECT_EQ(platform::LoadStringResource(100), "MirlParserUbrof");
  EXPECT_NE(platform::LoadStringResource(101).find("IAR UBROF"), std::string::npos);
}
