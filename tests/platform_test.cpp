// The automation types of the platform layer as a host uses them.
#include "../platform/Platform.h"

#include <gtest/gtest.h>

#include <cstring>

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
