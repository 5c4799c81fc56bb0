// ubrofdump's own code: number and range parsing, dates, Intel HEX.
#include "../../tools/dump/Format.h"

#include <gtest/gtest.h>

#include <cstring>

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

TEST(DumpIntelHex, UpperAddressRecordsAndARoundTrip) {
  // Across a 64 KiB boundary, then back below it to an odd address: each
  // change of the upper address bits has its type 04 record (checksums
  // 0x100 minus 02+04+hi+lo).
  std::vector<MemoryRun> runs = {{0x1FFF8, {}}, {0x11, {0xAB}}, {0x12345678, {0x5A}}};
  for (int i = 0; i < 20; ++i) runs[0].bytes.push_back(uint8_t(0xF0 + i));
  const std::string text = WriteIntelHex(runs);
  const char* starts[] = {":020000040001F9", ":08FFF800",       ":020000040002F8",
                          ":0C000000",       ":020000040000FA", ":01001100",
                          ":020000041234B4", ":01567800",       ":00000001FF"};
  size_t at = 0;
  for (const char* start : starts) {
    EXPECT_EQ(text.compare(at, strlen(start), start), 0) << text.substr(at);
    at = text.find('\n', at) + 1;
  }
  std::map<uint32_t, uint8_t> read, expected = {{0x11, 0xAB}, {0x12345678, 0x5A}};
  for (int i = 0; i < 20; ++i) expected[0x1FFF8 + i] = uint8_t(0xF0 + i);
  std::string why;
  ASSERT_TRUE(ReadIntelHex(text, &read, &why)) << why;
  EXPECT_EQ(read, expected);
}

TEST(DumpIntelHex, ReaderKnowsSegmentAddressesAndRefusesDamage) {
  std::map<uint32_t, uint8_t> read;
  std::string why;
  // 02: segment 0x1000, i.e. base 0x10000; then one byte 0x55 at offset 0,
  // lower-case digits and a start address record between.
  ASSERT_TRUE(ReadIntelHex(
      ":020000021000EC\r\n\r\n:0400000500000000f7\n:01000000ff00\r\n:00000001FF\r\n", &read, &why))
      << why;
  EXPECT_EQ(read, (std::map<uint32_t, uint8_t>{{0x10000, 0xFF}}));
  const struct {
    const char* text;
    const char* why;
  } bad[] = {{":03000000010203F8\n:00000001FF\n", "line 1: wrong checksum"},
             {":03000000010203F7\n", "no end-of-file record"},
             {":0300000001F7\n:00000001FF\n", "line 1: the record length"},
             {"03000000010203F7\n", "line 1: not an Intel HEX record"},
             {"\n:0G000000F7\n", "line 2: not a hexadecimal digit"},
             {":0100000600F9\n", "line 1: unknown record type 6"},
             {":0100000400FB\n", "line 1: an address record holds two bytes"},
             {":0100000200FD\n", "line 1: an address record holds two bytes"}};
  for (const auto& k : bad) {
    why.clear();
    EXPECT_FALSE(ReadIntelHex(k.text, &read, &why)) << k.text;
    EXPECT_EQ(why.compare(0, strlen(k.why), k.why), 0) << why;
  }
}

}  // namespace
