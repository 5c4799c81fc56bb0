// ubrofdump's own code: number and range parsing, dates, Intel HEX.
#include "../../tools/dump/Format.h"

#include <gtest/gtest.h>

#include "../../tools/dump/IntelHex.h"

using namespace dump;

namespace {

TEST(DumpFormat, AddressesAreHexadecimalWithOrWithoutPrefix) {
  uint32_t v = 0;
  const std::pair<const char*, uint32_t> good[] = {
      {"1c4", 0x1C4}, {"0X1C4", 0x1C4}, {"ffffffff", 0xFFFFFFFF}};
  for (auto [text, value] : good) {
    EXPECT_TRUE(ParseHex(text, &v));
    EXPECT_EQ(v, value) << text;
  }
  for (const char* bad : {"", "0x", "12g", "100000000", "-1", " 12"}) {
    v = 7;
    EXPECT_FALSE(ParseHex(bad, &v)) << bad;
    EXPECT_EQ(v, 7u) << "a refused number leaves the value alone: " << bad;
  }
  EXPECT_TRUE(ParseDecimal("4294967295", &v));
  EXPECT_EQ(v, 4294967295u);
  EXPECT_FALSE(ParseDecimal("4294967296", &v));
  EXPECT_FALSE(ParseDecimal("0x10", &v));
}

TEST(DumpFormat, RangesExcludeTheirEndAndStayInsideTheAddressSpace) {
  uint32_t start = 0;
  uint64_t end = 0;
  std::string why;
  for (const char* text : {"0x100:0x120", "100+20"}) {  // the length is hexadecimal too
    ASSERT_TRUE(ParseRange(text, &start, &end, &why));
    EXPECT_EQ(std::make_pair(start, end), std::make_pair(uint32_t(0x100), uint64_t(0x120))) << text;
  }
  ASSERT_TRUE(ParseRange("ffffffff+1", &start, &end, &why));
  EXPECT_EQ(end, 0x100000000ull) << "the last address can be dumped";
  // Past the top, empty, backwards, no end, no number.
  for (const char* bad : {"ffffffff+2", "10:10", "20:10", "100", "1x:20"}) {
    why.clear();
    EXPECT_FALSE(ParseRange(bad, &start, &end, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
}

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

TEST(DumpIntelHex, UpperAddressBitsGoInExtendedLinearRecords) {
  // Eight bytes below 0x10000 and eight above: the data record may not
  // cross the boundary, and 04 0001 announces the upper half.
  std::vector<uint8_t> bytes(16);
  for (int i = 0; i < 16; ++i) bytes[i] = uint8_t(i);
  std::string text = WriteIntelHex({{0xFFF8, bytes}, {0x10, {0xAA}}});
  EXPECT_NE(text.find(":08FFF800"), std::string::npos);
  // 02 + 00 00 + 04 + 00 01 = 7: checksum F9.
  size_t ext = text.find(":020000040001F9");
  ASSERT_NE(ext, std::string::npos);
  EXPECT_LT(text.find(":08FFF800"), ext);
  EXPECT_NE(text.find(":0800000008090A0B0C0D0E0F", ext), std::string::npos);
  // Back to a low address: the upper half must be reset to 0 first.
  EXPECT_NE(text.find(":020000040000FA", ext + 1), std::string::npos);

  std::map<uint32_t, uint8_t> read;
  std::string why;
  ASSERT_TRUE(ReadIntelHex(text, &read, &why)) << why;
  EXPECT_EQ(read.size(), 17u);
  EXPECT_EQ(read[0xFFF8], 0);
  EXPECT_EQ(read[0x10007], 15);
  EXPECT_EQ(read[0x10], 0xAA);
}

TEST(DumpIntelHex, WrittenFilesReadBackToTheSameBytes) {
  // Runs of many lengths at addresses around record and 64 KiB boundaries.
  std::vector<MemoryRun> runs;
  std::map<uint32_t, uint8_t> expected;
  uint32_t seed = 12345;
  for (uint32_t address : {0x0u, 0x11u, 0xFFF0u, 0x1FFFFu, 0x123456u, 0xFFFFFFF0u}) {
    MemoryRun run{address, {}};
    for (uint32_t i = 0; i < 37 && uint64_t(address) + i <= 0xFFFFFFFFull; ++i) {
      seed = seed * 1103515245 + 12345;
      run.bytes.push_back(uint8_t(seed >> 16));
      expected[address + i] = run.bytes.back();
    }
    runs.push_back(run);
  }
  std::map<uint32_t, uint8_t> read;
  std::string why;
  ASSERT_TRUE(ReadIntelHex(WriteIntelHex(runs), &read, &why)) << why;
  EXPECT_EQ(read, expected);
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
