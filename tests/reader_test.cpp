// The byte reader, the tag loop and the skipping of unknown records.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>

#include "TestSupport.h"

using namespace mirl;
using testsupport::Component;
using testsupport::UniquePath;

namespace {

// Runs a CParser over raw bytes with a fresh set of tables.
struct RawParse {
  Component c;
  ParseDiagnostic diag;
  int Run(const std::vector<uint8_t>& bytes) {
    std::string path = UniquePath("raw");
    testsupport::WriteFile(path, bytes);
    CMirlParserUbrof* p = c.get();
    ParserTables t = {&p->m_FileInfo,     &p->m_NameTable,    &p->m_TypeTable,
                      &p->m_SegmentGroups, &p->m_Modules,     &p->m_ScopeTable,
                      &p->m_SymbolTable,  &p->m_SymbolIndex,  &p->m_Macros,
                      &p->m_CodeMemory,   &p->m_EepromMemory, &p->m_DataMemory,
                      &p->m_SourceFiles,  &p->m_Statements,   &p->m_FileNames,
                      &p->m_StatementRuns};
    CParser parser(t);
    int r = parser.ParseFile(path.c_str());
    diag = parser.Diagnostic();
    return r;
  }
};

// Reads primitives directly from a file of the given bytes.
struct Primitives : ::testing::Test {
  Component c;
  std::unique_ptr<CParser> parser;
  void Open(const std::vector<uint8_t>& bytes) {
    std::string path = UniquePath("prim");
    testsupport::WriteFile(path, bytes);
    CMirlParserUbrof* p = c.get();
    ParserTables t = {&p->m_FileInfo,     &p->m_NameTable,    &p->m_TypeTable,
                      &p->m_SegmentGroups, &p->m_Modules,     &p->m_ScopeTable,
                      &p->m_SymbolTable,  &p->m_SymbolIndex,  &p->m_Macros,
                      &p->m_CodeMemory,   &p->m_EepromMemory, &p->m_DataMemory,
                      &p->m_SourceFiles,  &p->m_Statements,   &p->m_FileNames,
                      &p->m_StatementRuns};
    parser.reset(new CParser(t));
    ASSERT_TRUE(parser->Open(path.c_str()));
  }
  std::string Error(const std::function<void()>& f) {
    try {
      f();
    } catch (const char* msg) {
      return msg;
    }
    return "";
  }
};

}  // namespace

TEST_F(Primitives, NumbersAreBigEndian) {
  Open({0xFF, 0x12, 0x34, 0x80, 0x00, 0x00, 0x01});
  EXPECT_EQ(parser->ReadByte(), 255);  // 0xFF is a byte, not end of file
  EXPECT_EQ(parser->ReadWord(), 0x1234u);
  uint32_t l = parser->ReadLong();
  EXPECT_EQ(l, 0x80000001u);
  EXPECT_EQ(int32_t(l), -2147483647);
  EXPECT_EQ(Error([&] { parser->ReadByte(); }), kErrUnexpectedEof);
}

TEST_F(Primitives, ValuesCutShortRaiseEndOfFile) {
  Open({0x12});
  EXPECT_EQ(Error([&] { parser->ReadWord(); }), kErrUnexpectedEof);
  Open({0x01, 0x02, 0x03});
  EXPECT_EQ(Error([&] { parser->ReadLong(); }), kErrUnexpectedEof);
}

TEST_F(Primitives, StringsKeepEmbeddedZerosAndAreTerminated) {
  Open({'a', 0, 'b', 'c'});
  StringPtr empty = parser->ReadString(0);
  EXPECT_EQ(empty[0], 0);
  StringPtr s = parser->ReadString(4);
  EXPECT_EQ(std::string(s.get()), "a");
  EXPECT_EQ(s[2], 'b');
  EXPECT_EQ(s[4], 0);
}

TEST(Reader, HugeLengthsFailWithoutAllocating) {
  // A 10-byte file that claims a 4 GB string or block must fail as end of
  // file, not try to allocate (the sanitizer build would report that).
  ubrofw::Writer w;
  w.Start().Byte(0xC9).Zeros(4).Long(0xFFFFFFF0u);
  RawParse r;
  EXPECT_EQ(r.Run(w.bytes), 0);
  EXPECT_STREQ(r.diag.pszMessage, kErrUnexpectedEof);
  EXPECT_STREQ(r.diag.pszTagName, "t_key_value");
}

TEST(Reader, SkipPastEndSucceedsUntilTheNextRead) {
  ubrofw::Writer w;
  w.BegFile1(0, 0, 0, 1, 1, 100).Version(8, 0, 1, {{0x99, 0xFF}});
  w.Byte(0x99).Long(1000);  // skips beyond the end of the file
  RawParse r;
  EXPECT_EQ(r.Run(w.bytes), 0);
  EXPECT_STREQ(r.diag.pszMessage, kErrUnexpectedEof);
  EXPECT_EQ(r.diag.lRecordOffset, long(w.Size()) + 1000);  // failed reading the next tag
}

TEST(TagLoop, TableHasTheThirtyEightKnownTags) {
  std::set<uint32_t> codes;
  for (const TagEntry& e : kTagTable) codes.insert(e.Code);
  EXPECT_EQ(codes.size(), 38u);
  EXPECT_STREQ(TagName(0xA5), "t_beg_file1");
  EXPECT_STREQ(TagName(0x01), "t_beg_pgm");
  EXPECT_STREQ(TagName(0xD0), "t_block_begin3");
  EXPECT_STREQ(TagName(0x39), "t_abs_var");
  EXPECT_EQ(TagName(0x99), nullptr);
}

TEST(TagLoop, EndRecordAloneAndTrailingBytes) {
  RawParse r;
  EXPECT_EQ(r.Run({0xFF}), 1);
  EXPECT_EQ(r.Run({0x4D, 0xFF, 0x99, 0x12}), 1);  // nothing after the end is read
  EXPECT_EQ(r.Run({}), 0);
  EXPECT_EQ(r.Run({0x4D}), 0);  // no end record: fails reading the next tag
  EXPECT_STREQ(r.diag.pszMessage, kErrUnexpectedEof);
}

TEST(TagLoop, UnknownTagsNeedSkipInformation) {
  RawParse r;
  EXPECT_EQ(r.Run({0x99, 0xFF}), 0);
  EXPECT_STREQ(r.diag.pszMessage, kErrUnknownTag);
  EXPECT_EQ(r.diag.nTag, 0x99);

  ubrofw::Writer fe;  // length in a word after the tag
  fe.BegFile1(0, 0, 0, 1, 1, 100).Version(8, 0, 1, {{0x99, 0xFE}});
  fe.Byte(0x99).Word(3).Text("abc").Eof();
  EXPECT_EQ(r.Run(fe.bytes), 1);

  ubrofw::Writer fd;  // length in a byte after the tag
  fd.BegFile1(0, 0, 0, 1, 1, 100).Version(8, 0, 1, {{0x98, 0xFD}});
  fd.Byte(0x98).Byte(2).Text("ab").Eof();
  EXPECT_EQ(r.Run(fd.bytes), 1);

  ubrofw::Writer first;  // the first pair for a code wins
  first.BegFile1(0, 0, 0, 1, 1, 100).Version(8, 0, 1, {{0x99, 0x05}, {0x99, 0x01}});
  first.Byte(0x99).Zeros(5).Eof();
  EXPECT_EQ(r.Run(first.bytes), 1);

  ubrofw::Writer noLength;  // 0x80..0xFC: the record cannot be skipped
  noLength.BegFile1(0, 0, 0, 1, 1, 100).Version(8, 0, 1, {{0x99, 0x80}});
  noLength.Byte(0x99).Eof();
  EXPECT_EQ(r.Run(noLength.bytes), 0);
  EXPECT_STREQ(r.diag.pszMessage, kErrUnknownTag);
}

TEST(TagLoop, SkipInformationNeverOverridesAHandler) {
  ubrofw::Writer w;
  // 0x4D (t_beg_file) has a handler that reads nothing; skip information
  // claiming 3 bytes for it must not be used.
  w.BegFile1(0, 0, 0, 1, 1, 100).Version(8, 0, 1, {{0x4D, 0x03}});
  w.BegFile().Eof();
  RawParse r;
  EXPECT_EQ(r.Run(w.bytes), 1);
}

TEST(TagLoop, OlderScopeRecordsFailTheParse) {
  for (uint8_t tag : {uint8_t(0x50), uint8_t(0x48)}) {
    ubrofw::Writer w;
    w.Start().Byte(tag).Eof();
    RawParse r;
    EXPECT_EQ(r.Run(w.bytes), 0);
    EXPECT_STREQ(r.diag.pszMessage, kErrHandlerFailed);
    EXPECT_EQ(r.diag.nTag, tag);
  }
}

TEST(TagLoop, MissingOrEmptyPathFails) {
  Component c;
  CMirlParserUbrof* p = c.get();
  ParserTables t = {&p->m_FileInfo,    &p->m_NameTable,     &p->m_TypeTable,    &p->m_SegmentGroups,
                    &p->m_Modules,     &p->m_ScopeTable,    &p->m_SymbolTable,  &p->m_SymbolIndex,
                    &p->m_Macros,      &p->m_CodeMemory,    &p->m_EepromMemory, &p->m_DataMemory,
                    &p->m_SourceFiles, &p->m_Statements,    &p->m_FileNames,    &p->m_StatementRuns};
  CParser parser(t);
  EXPECT_EQ(parser.ParseFile(nullptr), 0);
  EXPECT_EQ(parser.ParseFile(""), 0);
  EXPECT_EQ(parser.ParseFile("/nonexistent/dir/x.d90"), 0);
}
