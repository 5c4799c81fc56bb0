// The reader primitives over files larger than the parser's read buffer:
// values that straddle buffer ends, skips and look-back seeks across them,
// blocks larger than the buffer, and the end of the file after all of that.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "TestSupport.h"

using namespace mirl;
using testsupport::UniquePath;

namespace {

// Byte i of the test file: a pattern that does not repeat within 251 bytes,
// so a value read from the wrong offset shows.
uint8_t At(uint64_t i) { return uint8_t((i * 7 + i / 251) % 251); }

// The big-endian value of n bytes at offset i.
uint32_t Value(uint64_t i, int n) {
  uint32_t v = 0;
  for (int k = 0; k < n; ++k) v = v << 8 | At(i + uint64_t(k));
  return v;
}

struct BigFile : ::testing::Test {
  std::unique_ptr<CParser> parser;
  std::vector<uint8_t> bytes;

  void Open(size_t size) {
    bytes.resize(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = At(i);
    std::string path = UniquePath("big");
    ASSERT_TRUE(testsupport::WriteFile(path, bytes));
    parser.reset(new CParser(ParserTables{}));  // the primitives use no table
    ASSERT_TRUE(parser->Open(path.c_str()));
  }
  bool RaisesEndOfFile(const std::function<void()>& f) {
    try {
      f();
    } catch (const char* msg) {
      return msg == kErrUnexpectedEof;
    }
    return false;
  }
  bool Matches(const void* got, uint64_t pos, uint32_t n) {
    return std::equal(bytes.begin() + long(pos), bytes.begin() + long(pos + n),
                      static_cast<const uint8_t*>(got));
  }
};

TEST_F(BigFile, MixedReadsSkipsAndSeeksDeliverTheFileBytes) {
  const size_t size = 700000;
  Open(size);
  std::mt19937 rng(12345);
  uint64_t pos = 0;
  unsigned seeksBack = 0, bigBlocks = 0;
  while (pos + 300000 < size) {
    ASSERT_EQ(parser->Tell(), pos);
    uint32_t n = 0;
    switch (rng() % 8) {
      case 0:
      case 1:
      case 2:  // a byte, a word or a long
        n = uint32_t(1) << (rng() % 3);
        ASSERT_EQ(n == 1   ? parser->ReadByte()
                  : n == 2 ? parser->ReadWord()
                           : parser->ReadLong(),
                  Value(pos, int(n)))
            << pos;
        break;
      case 3: {  // mostly small blocks, now and then one larger than any buffer
        n = rng() % 16 == 0 ? 70000 + rng() % 130000 : rng() % 300;
        bigBlocks += n >= 70000;
        std::vector<uint8_t> got(n);
        parser->ReadBlock(got.data(), n);
        ASSERT_TRUE(Matches(got.data(), pos, n)) << pos;
        break;
      }
      case 4:
        n = rng() % 4 == 0 ? rng() % 100000 : rng() % 40;
        parser->SkipBytes(n);
        break;
      case 5: {
        n = rng() % 500;
        StringPtr s = parser->ReadString(n);
        ASSERT_TRUE(Matches(s.get(), pos, n)) << pos;
        ASSERT_EQ(s[n], 0);
        break;
      }
      default: {  // a look-ahead that puts the stream back, sometimes far back
        uint64_t back = rng() % 2 ? rng() % 16 : rng() % 150000;
        seeksBack += back > 16;
        parser->SeekTo(pos = back > pos ? 0 : pos - back);
      }
    }
    pos += n;
  }
  EXPECT_GT(seeksBack, 10u);
  EXPECT_GT(bigBlocks, 2u);

  // The last bytes, then the end of the file.
  parser->SeekTo(size - 3);
  EXPECT_TRUE(RaisesEndOfFile([&] { parser->ReadLong(); }));
  parser->SeekTo(size - 3);
  std::vector<uint8_t> tail(4);
  EXPECT_TRUE(RaisesEndOfFile([&] { parser->ReadBlock(tail.data(), 4); }));
  parser->SeekTo(size - 2);
  EXPECT_EQ(parser->ReadWord(), Value(size - 2, 2));
  EXPECT_TRUE(RaisesEndOfFile([&] { parser->ReadByte(); }));

  // A skip past the end succeeds and only the next read fails; the stream
  // can still be put back into the file afterwards.
  parser->SeekTo(size - 10);
  parser->SkipBytes(0xFFFFFFF0u);
  EXPECT_EQ(parser->Tell(), size - 10 + 0xFFFFFFF0ull);
  EXPECT_TRUE(RaisesEndOfFile([&] { parser->ReadByte(); }));
  parser->SeekTo(100);
  EXPECT_EQ(parser->ReadByte(), At(100));
}

}  // namespace
