// Memory images: DMemory itself, t_org/t_abs_var placement and the memory
// methods.
#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"

using namespace mirl;
typedef std::vector<uint8_t> Bytes;

namespace {

// Reserves count bytes at address and sets the one at index to value.
void Put(DMemory& m, uint32_t address, uint32_t count, uint32_t index, uint8_t value) {
  ASSERT_TRUE(m.Reserve(address, count));
  m.StorePieces(address + index, 1, [value](uint8_t* p, uint32_t) { *p = value; });
}

Bytes ReadImage(const DMemory& m, uint32_t address, uint32_t count) {
  Bytes out(count, 0x77);
  m.Read(address, count, out.data());
  return out;
}

Bytes Read(Component& c, unsigned char type, ULONG start, ULONG count) {
  Bytes out(count, 0x77);
  EXPECT_EQ(c->ReadMemory(type, start, count, out.data()), S_OK);
  return out;
}

typedef std::pair<ULONG, ULONG> Range;

}  // namespace

TEST(DMemory, BoundsReadsAndFill) {
  DMemory m(10, 0xFF);
  EXPECT_EQ(m.Capacity(), 1024u);
  Put(m, 100, 3, 2, 0x42);
  ASSERT_TRUE(m.Reserve(50, 1));
  ASSERT_TRUE(m.Reserve(0, 0));  // nothing to write: bounds stay
  EXPECT_EQ(Range(m.Lowest(), m.Highest()), Range(50, 102));
  m.SetFill(0x00);
  // Storage made before the new fill keeps 0xFF; bytes past the array read
  // as the fill of the moment, also at the very top of the address range.
  EXPECT_EQ(ReadImage(m, 101, 3), (Bytes{0xFF, 0x42, 0xFF}));
  EXPECT_EQ(ReadImage(m, 1022, 4), (Bytes{0xFF, 0xFF, 0x00, 0x00}));
  EXPECT_EQ(ReadImage(m, 0xFFFFFFFEu, 4), Bytes(4, 0x00));
  EXPECT_EQ(m.Capacity(), 1024u);
}

TEST(DMemory, GrowsBySixteenUpToTheLimit) {
  DMemory m(4096, 0xFF);
  Put(m, 4095, 1, 0, 0x11);
  m.SetFill(0x00);
  Put(m, 4096, 1, 0, 0x22);
  EXPECT_EQ(m.Capacity(), 65536u);
  m.SetFill(0xEE);
  EXPECT_EQ(ReadImage(m, 4094, 4), (Bytes{0xFF, 0x11, 0x22, 0x00}));
  EXPECT_EQ(ReadImage(m, 65535, 2), (Bytes{0x00, 0xEE}));
  // Addresses the limit cannot hold are refused without growing.
  for (uint32_t a : {0xFFFFFFF0u, 0xFFFFFFFFu, uint32_t(kMaxImageSize)})
    EXPECT_FALSE(m.Reserve(a, 2)) << a;
  EXPECT_EQ(m.Capacity(), 65536u);
  EXPECT_EQ(m.Highest(), 4096u);
  // 64 KiB -> 1 MiB -> 16 MiB -> 256 MiB, cut to the limit.
  ASSERT_TRUE(m.Reserve(uint32_t(kMaxImageSize) - 1, 1));
  EXPECT_EQ(uint64_t(m.Capacity()), kMaxImageSize);
  EXPECT_EQ(ReadImage(m, 4095, 2), (Bytes{0x11, 0x22}));
}

// Unwritten storage is filled only when a write reaches it, so each stretch
// must still show the fill of the moment it was created, whether it lies
// before a write (filled then), between writes, or was never touched.
TEST(DMemory, UnwrittenStorageKeepsTheFillOfItsCreation) {
  DMemory m(1024, 0xA1);
  Put(m, 10, 1, 0, 0x01);
  m.SetFill(0xB2);
  Put(m, 2000, 1, 0, 0x02);  // grows to 16 KiB: 1024.. has 0xB2
  m.SetFill(0xC3);
  EXPECT_EQ(ReadImage(m, 1022, 4), (Bytes{0xA1, 0xA1, 0xB2, 0xB2}));
  Put(m, 20000, 2, 1, 0x03);  // grows to 256 KiB: 16384.. has 0xC3
  m.SetFill(0xD4);
  EXPECT_EQ(ReadImage(m, 9, 3), (Bytes{0xA1, 0x01, 0xA1}));
  EXPECT_EQ(ReadImage(m, 1023, 2), (Bytes{0xA1, 0xB2}));
  EXPECT_EQ(ReadImage(m, 16383, 2), (Bytes{0xB2, 0xC3}));
  EXPECT_EQ(ReadImage(m, 19999, 4), (Bytes{0xC3, 0xC3, 0x03, 0xC3}));
  EXPECT_EQ(ReadImage(m, 262142, 4), (Bytes{0xC3, 0xC3, 0xD4, 0xD4}));
  // One read across written bytes, three creations and the end.
  Bytes all = ReadImage(m, 0, 262146);
  EXPECT_EQ((Bytes{all[10], all[1000], all[2000], all[5000], all[100000], all[262145]}),
            (Bytes{0x01, 0xA1, 0x02, 0xB2, 0xC3, 0xD4}));
}

// Bytes far above the rest leave the storage between them unwritten, also
// when the image grows again afterwards.
TEST(DMemory, DistantWritesLeaveTheGapAsItWasCreated) {
  DMemory m(4096, 0xFF);
  m.SetFill(0x5A);
  Put(m, 100000, 2, 0, 0x01);  // 4096 -> 65536 -> 1 MiB
  m.SetFill(0x00);
  Put(m, 1500000, 1, 0, 0x02);  // -> 16 MiB
  EXPECT_EQ(ReadImage(m, 4095, 2), (Bytes{0xFF, 0x5A}));
  EXPECT_EQ(ReadImage(m, 99999, 4), (Bytes{0x5A, 0x01, 0x5A, 0x5A}));
  EXPECT_EQ(ReadImage(m, 1048575, 2), (Bytes{0x5A, 0x00}));
  EXPECT_EQ(ReadImage(m, 1499999, 3), (Bytes{0x00, 0x02, 0x00}));
  Put(m, 20000000, 1, 0, 0x03);  // -> 64 MiB keeps all of it
  EXPECT_EQ(ReadImage(m, 99999, 4), (Bytes{0x5A, 0x01, 0x5A, 0x5A}));
  EXPECT_EQ(ReadImage(m, 1499999, 3), (Bytes{0x00, 0x02, 0x00}));
  EXPECT_EQ(ReadImage(m, 19999999, 3), (Bytes{0x00, 0x03, 0x00}));
  EXPECT_EQ(Range(m.Lowest(), m.Highest()), Range(100000, 20000000));
}

// Storage comes in chunks of 64 KiB; bytes that cross from one into the
// next must land in both, through the image and through a record.
TEST(DMemory, WritesCrossChunks) {
  DMemory m(1024, 0xFF);
  Bytes b(70000);
  for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(i * 7 + 1);
  ASSERT_TRUE(m.Reserve(65530, uint32_t(b.size())));
  std::vector<uint32_t> pieces;
  size_t stored = 0;
  m.StorePieces(65530, uint32_t(b.size()), [&](uint8_t* p, uint32_t n) {
    std::memcpy(p, b.data() + stored, n);
    stored += n;
    pieces.push_back(n);
  });
  EXPECT_EQ(pieces, (std::vector<uint32_t>{6, 65536, 70000 - 6 - 65536}));
  EXPECT_EQ(ReadImage(m, 65530, uint32_t(b.size())), b);
  EXPECT_EQ(ReadImage(m, 65529, 1), Bytes{0xFF});
  EXPECT_EQ(Range(m.Lowest(), m.Highest()), Range(65530, 65530 + 70000 - 1));

  ubrofw::Writer w;
  w.Start().BegLib("m").Org(1, 0xFFFE).AbsVar({1, 2, 3, 4}).End().Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  EXPECT_EQ(Read(c, 1, 0xFFFD, 6), (Bytes{0xFF, 1, 2, 3, 4, 0xFF}));
}

TEST(MemoryRecords, FillValuesAroundGrowth) {
  ubrofw::Writer w;
  w.Start().BegLib("m").Org(1, 0x1FFFE).AbsVar({0x12, 0x34}).Org(2, 0x10).AbsVar({7});
  w.Org(1, 0x20000).AbsVar({0xAB}).End().Finish();
  Component c;
  EXPECT_EQ(c->SetDefaultDataValue(1, 0x11), PARSER_E_NOT_INITIALIZED);
  EXPECT_EQ(c->Init(1), E_FAIL) << "events are not supported";
  ASSERT_EQ(c->Init(0), S_OK);
  EXPECT_EQ(c->SetDefaultDataValue(8, 0x11), PARSER_E_BAD_MEMORY_TYPE);
  ASSERT_EQ(c->SetDefaultDataValue(1, 0x11), S_OK);  // used when the image grows
  ASSERT_EQ(c.Parse(w), S_OK);
  ASSERT_EQ(c->SetDefaultDataValue(1, 0x22), S_OK);
  ASSERT_EQ(c->SetDefaultDataValue(2, 0x00), S_OK);
  ASSERT_EQ(c->SetDefaultDataValue(4, 0x44), S_OK);
  EXPECT_EQ(Read(c, 1, 0x1FFFD, 5), (Bytes{0xFF, 0x12, 0x34, 0xAB, 0x11}));
  EXPECT_EQ(Read(c, 1, 0x1FFFFF, 2), (Bytes{0x11, 0x22}));
  EXPECT_EQ(Read(c, 2, 0x11, 1), Bytes{0xFF});
  EXPECT_EQ(Read(c, 2, 4095, 2), (Bytes{0xFF, 0x00}));
  EXPECT_EQ(Read(c, 4, 4095, 2), (Bytes{0xFF, 0x44}));
}
