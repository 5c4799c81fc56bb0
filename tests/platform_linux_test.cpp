// The Linux platform layer: the "ANSI code page" is UTF-8 and dates take the
// en-US form.
#include <gtest/gtest.h>

#include "../platform/Platform.h"

TEST(Bstr, AnsiRoundTripIsUtf8) {
  const std::string text =
      "Gr\xC3\xBC\xC3\x9F"
      "e \xF0\x9F\x98\x80 C:\\x";
  BSTR b = platform::AnsiToBstr(text);
  EXPECT_EQ(b[2], 0x00FC);
  EXPECT_EQ(SysStringLen(b), 13u);  // the emoji is a surrogate pair
  EXPECT_EQ(platform::BstrToAnsi(b), text);
  SysFreeString(b);
  bool ok = true;
  EXPECT_EQ(platform::BstrToAnsi(nullptr, &ok), "");
  EXPECT_FALSE(ok);
  // Malformed UTF-8 becomes a replacement character, never a failure.
  BSTR bad = platform::AnsiToBstr(
      "a\xFF"
      "b\xC3");
  ASSERT_EQ(SysStringLen(bad), 4u);
  EXPECT_EQ(bad[1], 0xFFFD);
  EXPECT_EQ(bad[3], 0xFFFD);
  SysFreeString(bad);
}
