// The byte reader, the tag loop and the skipping of unknown records.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "TestSupport.h"

using namespace mirl;
using testsupport::Component;
using testsupport::UniquePath;

namespace {

// Parses raw bytes; what ended the parse is in Program().LastParse().
HRESULT ParseBytes(Component& c, const std::vector<uint8_t>& bytes) {
  std::string path = UniquePath("raw");
  testsupport::WriteFile(path, bytes);
  return c.ParsePath(path);
}

// A file that declares skip information for unknown tags, then the bytes.
ubrofw::Writer WithSkips(std::vector<std::pair<uint8_t, uint8_t>> pairs) {
  ubrofw::Writer w;
  w.BegFile1(0, 0, 0, 1, 1, 100).Version(8, 0, 1, pairs);
  return w;
}

std::string Error(const std::function<void()>& f) {
  try {
    f();
  } catch (const char* msg) {
    return msg;
  }
  return "";
}

}  // namespace

TEST(Reader, PrimitivesAreBigEndianAndStopAtTheEnd) {
  std::unique_ptr<CParser> parser;
  auto open = [&](const std::vector<uint8_t>& bytes) {
    std::string path = UniquePath("prim");
    testsupport::WriteFile(path, bytes);
    parser.reset(new CParser(ParserTables{}));  // the primitives use no table
    ASSERT_TRUE(parser->Open(path.c_str()));
  };
  open({0xFF, 0x12, 0x34, 0x80, 0x00, 0x00, 0x01});
  EXPECT_EQ(parser->ReadByte(), 255);  // 0xFF is a byte, not end of file
  EXPECT_EQ(parser->ReadWord(), 0x1234u);
  EXPECT_EQ(int32_t(parser->ReadLong()), -2147483647);
  EXPECT_EQ(Error([&] { parser->ReadByte(); }), kErrUnexpectedEof);
  open({0x12});
  EXPECT_EQ(Error([&] { parser->ReadWord(); }), kErrUnexpectedEof);
  open({0x01, 0x02, 0x03});
  EXPECT_EQ(Error([&] { parser->ReadLong(); }), kErrUnexpectedEof);
  // Strings keep embedded zeros and are terminated, also when empty.
  open({'a', 0, 'b', 'c'});
  EXPECT_EQ(parser->ReadString(0)[0], 0);
  StringPtr s = parser->ReadString(4);
  EXPECT_EQ(std::string(s.get()), "a");
  EXPECT_EQ(s[2], 'b');
  EXPECT_EQ(s[4], 0);
}

TEST(Reader, HugeLengthsAndSkipsFailAtTheNextRead) {
  // A 10-byte file that claims a 4 GB string must fail as end of file, not
  // try to allocate (the sanitizer build would report that).
  ubrofw::Writer w;
  w.Start().Byte(0xC9).Zeros(4).Long(0xFFFFFFF0u);
  Component c, d;
  EXPECT_EQ(ParseBytes(c, w.bytes), PARSER_E_INVALID_FILE);
  EXPECT_EQ(c.Program().LastParse().message, kErrUnexpectedEof);
  EXPECT_EQ(c.Program().LastParse().tagName, "t_key_value");
  // A skip beyond the end succeeds; reading the next tag fails.
  ubrofw::Writer s = WithSkips({{0x99, 0xFF}});
  s.Byte(0x99).Long(1000);
  EXPECT_EQ(ParseBytes(d, s.bytes), PARSER_E_INVALID_FILE);
  EXPECT_EQ(d.Program().LastParse().message, kErrUnexpectedEof);
  EXPECT_EQ(d.Program().LastParse().recordOffset, int64_t(s.Size()) + 1000);
}

TEST(TagLoop, EndRecordUnknownTagsAndSkipInformation) {
  std::set<uint32_t> codes;  // a duplicate entry would shadow a handler
  for (const TagEntry& e : kTagTable) codes.insert(e.Code);
  EXPECT_EQ(codes.size(), 38u);
  EXPECT_EQ(TagName(0x99), nullptr);
  const std::pair<int, const char*> names[] = {
      {0xA5, "t_beg_file1"}, {0x01, "t_beg_pgm"}, {0xD0, "t_block_begin3"}, {0x39, "t_abs_var"}};
  for (const auto& n : names) EXPECT_STREQ(TagName(n.first), n.second);

  ubrofw::Writer word = WithSkips({{0x99, 0xFE}}), byte = WithSkips({{0x98, 0xFD}});
  ubrofw::Writer first = WithSkips({{0x99, 0x05}, {0x99, 0x01}});
  ubrofw::Writer noLength = WithSkips({{0x99, 0x80}}), handled = WithSkips({{0x4D, 0x03}});
  word.Byte(0x99).Word(3).Text("abc").Eof();  // length in a word after the tag
  byte.Byte(0x98).Byte(2).Text("ab").Eof();   // length in a byte after the tag
  first.Byte(0x99).Zeros(5).Eof();            // the first pair for a code wins
  noLength.Byte(0x99).Eof();                  // 0x80..0xFC: the record cannot be skipped
  // t_beg_file reads nothing: skip information must not override a handler.
  handled.BegFile().Eof();
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    int result;
    const char* message;
  } cases[] = {
      {"end alone", {0xFF}, 1, nullptr},
      {"nothing after the end is read", {0x4D, 0xFF, 0x99, 0x12}, 1, nullptr},
      {"empty", {}, 0, kErrUnexpectedEof},
      {"no end record", {0x4D}, 0, kErrUnexpectedEof},
      {"unknown without skip information", {0x99, 0xFF}, 0, kErrUnknownTag},
      {"word length", word.bytes, 1, nullptr},
      {"byte length", byte.bytes, 1, nullptr},
      {"first pair", first.bytes, 1, nullptr},
      {"no length", noLength.bytes, 0, kErrUnknownTag},
      {"handler wins", handled.bytes, 1, nullptr},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    Component c;
    EXPECT_EQ(ParseBytes(c, k.bytes), k.result ? S_OK : PARSER_E_INVALID_FILE);
    const api::ParseEnd e = c.Program().LastParse();
    EXPECT_EQ(e.message, k.message ? k.message : "");
    if (k.message == kErrUnknownTag) {
      EXPECT_EQ(e.tag, 0x99);
    }
  }
}

TEST(TagLoop, OlderScopeRecordsFail) {
  for (uint8_t tag : {uint8_t(0x50), uint8_t(0x48)}) {
    ubrofw::Writer w;
    w.Start().Byte(tag).Eof();
    Component c;
    EXPECT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
    EXPECT_EQ(c.Program().LastParse().message, kErrHandlerFailed);
    EXPECT_EQ(c.Program().LastParse().tag, tag);
  }
}
