// ubrofdump's own code: number and range parsing, dates, Intel HEX.
#include "../../tools/dump/Format.h"

#include <gtest/gtest.h>

#include "../../tools/dump/IntelHex.h"

using namespace dump;

namespace {

TEST(DumpFormat, AutomationDatesReadAsCalendarTime) {
  // 24 December 1999 12:30:00 is day 36518 and 0.5208333 of a day.
  EXPECT_EQ(DateTimeText(36518.0 + 45000.0 / 86400.0), "1999-12-24 12:30:00");
  EXPECT_EQ(DateText(36518.0 + 45000.0 / 86400.0), "1999-12-24");
  EXPECT_EQ(DateTimeText(1.0), "1899-12-31 00:00:00");
  EXPECT_EQ(DateTimeText(2.0 + 3.0 / 86400.0), "1900-01-01 00:00:03");
  // Before 30 December 1899 the time of day counts away from zero.
  EXPECT_EQ(DateTimeText(-1.25), "1899-12-29 06:00:00");
  // A time a hair before midnight rounds into the next day, not to 24:00.
  EXPECT_EQ(DateTimeText(1.0 - 1e-9), "1899-12-31 00:00:00");
  // Leap day of 2000 (divisible by 400): day 36585.
  EXPECT_EQ(DateText(36585.0), "2000-02-29");
  EXPECT_EQ(DateTimeText(0.0), "") << "0.0 is the parser's 'no date'";
  EXPECT_EQ(DateTimeText(1e300), "");
}

TEST(DumpIntelHex, RecordsCarryTheirChecksum) {
  // 03 + 00 00 + 00 + 01 02 03 = 0x09, so the checksum is 0xF7.
  EXPECT_EQ(WriteIntelHex({{0, {1, 2, 3}}}), ":03000000010203F7\n:00000001FF\n");
  EXPECT_EQ(WriteIntelHex({}), ":00000001FF\n");
  // Long runs split into records of sixteen bytes.
  MemoryRun run{0x100, std::vector<uint8_t>(40, 0x5A)};
  std::string text = WriteIntelHex({run});
  EXPECT_EQ(text.find(":10010000"), 0u);
  EXPECT_NE(text.find("\n:10011000"), std::string::npos);
  EXPECT_NE(text.find("\n:08012000"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);
}

TEST(DumpIntelHex, ReaderKnowsSegmentAddressesAndRefusesDamage) {
  std::map<uint32_t, uint8_t> read;
  std::string why;
  // 02: segment 0x1000, i.e. base 0x10000; then one byte 0x55 at offset 0.
  ASSERT_TRUE(ReadIntelHex(":020000021000EC\r\n\r\n:0100000055AA\r\n:00000001FF\r\n", &read, &why))
      << why;
  EXPECT_EQ(read, (std::map<uint32_t, uint8_t>{{0x10000, 0x55}}));

  EXPECT_FALSE(ReadIntelHex(":03000000010203F8\n:00000001FF\n", &read, &why));
  EXPECT_NE(why.find("line 1"), std::string::npos);
  EXPECT_NE(why.find("checksum"), std::string::npos);
  EXPECT_FALSE(ReadIntelHex(":03000000010203F7\n", &read, &why)) << "no end record";
  EXPECT_FALSE(ReadIntelHex(":0300000001F7\n:00000001FF\n", &read, &why)) << "short record";
  EXPECT_FALSE(ReadIntelHex("03000000010203F7\n", &read, &why)) << "no colon";
}

}  // namespace
