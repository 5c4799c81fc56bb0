// The statement table and the lookups between program addresses and source
// lines, over a two-module program and over the single cases.
#include <gtest/gtest.h>

#include <filesystem>

#include "../platform/Paths.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using namespace mirl;
using testsupport::Bstr;
using testsupport::Component;

namespace {

// What a kept statement must look like through the interface.
struct Expected {
  uint32_t address;
  uint32_t length;
  uint32_t line, column, lineEnd, columnEnd;  // 0-based
  uint8_t type;
  int file;  // index into Program::files; -1 none
};

// Writes a program and records, next to each statement record, what the
// component should keep of it.
struct Program {
  ubrofw::Writer w;
  std::vector<Expected> kept;
  std::vector<std::string> files;  // stored paths by file id
  uint32_t pc = 0;
  int current = -1;

  void Org(uint32_t address) {
    w.Org(1, address);
    pc = address;
  }
  void Code(uint32_t n) {
    w.AbsVar(std::vector<uint8_t>(n, 0x5A));
    pc += n;
  }
  // A statement (1-based lines and columns, as in the file) and its code.
  void Stat(uint16_t line, uint16_t col, uint16_t lineEnd, uint16_t colEnd, uint8_t kind,
            uint32_t length) {
    w.SrcStat(line, col, lineEnd, colEnd, kind);
    uint8_t type = kind == 14 ? 0x03 : (kind == 9 || kind == 13) ? 0x05 : 0x01;
    kept.push_back({pc, length, uint32_t(line - 1), uint32_t(col - 1), uint32_t(lineEnd - 1),
                    uint32_t(colEnd - 1), type, current});
    Code(length);
  }
  // A statement that the next one (or the end of its block) drops.
  void Dropped(uint16_t line) { w.SrcStat(line, 1, line, 1, 0); }
  void NewFile(uint16_t ref, int file) {
    w.NewFile(ref);
    current = file;
  }
};

struct SourceAnswer {
  HRESULT hr;
  std::string path;
  ULONG line, col, lineEnd, colEnd, start;
};
SourceAnswer SourceOf(Component& c, ULONG address) {
  SourceAnswer a = {E_UNEXPECTED, "", 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  Bstr path("before");
  a.hr = c->GetSourceFromProgMemAddress(address, &path, &a.line, &a.col, &a.lineEnd, &a.colEnd,
                                        &a.start);
  a.path = path.str();
  return a;
}

HRESULT AddressOf(Component& c, const std::string& path, ULONG line, ULONG* pAddress) {
  Bstr b(path);
  HRESULT hr = c->GetProgMemAddressFromSource(&b, line, 0, pAddress);
  EXPECT_TRUE(b.null()) << "the caller's string is consumed";
  return hr;
}

std::string Join(const std::string& a, const std::string& b) {
  return a + platform::NativeSeparator() + b;
}

// Two modules, three source files: main.c and util.h by reference in the
// first module, calc.c embedded three times in the second.
Program TwoModules(const std::string& objectDir) {
  Program p;
  ubrofw::Writer& w = p.w;
  w.Start();
  w.BegLib("modA");
  w.FileRef(0, "C:\\proj\\src\\main.c").FileRef(1, "C:\\proj\\src\\util.h");
  p.files = {"C:\\proj\\src\\main.c", "C:\\proj\\src\\util.h"};
  p.current = 0;
  p.Org(0x1000);
  w.FuncBegin1("main");
  p.Stat(10, 5, 12, 20, 14, 4);  // lines 9..11
  p.Stat(13, 3, 13, 15, 0, 2);
  p.Stat(11, 1, 11, 8, 0, 6);  // line 10 again: the first statement keeps it
  w.BlockBegin1();
  p.Stat(14, 2, 15, 9, 9, 3);
  p.NewFile(1, 1);
  p.Stat(3, 1, 3, 10, 0, 2);  // inlined from util.h
  p.NewFile(0, 0);
  p.Stat(16, 4, 16, 30, 13, 1);
  p.Dropped(99);
  w.BlockEnd();
  p.Stat(17, 1, 17, 2, 0, 2);
  w.BlockEnd();
  w.FuncBegin1("helper");
  p.Org(0x1100);
  p.NewFile(1, 1);
  p.Stat(5, 1, 6, 1, 0, 4);
  p.Dropped(7);
  p.Stat(8, 1, 8, 40, 0, 2);
  p.Stat(9, 0, 9, 256, 0, 2);  // column 0 and 256 wrap to 255
  p.Code(3);                   // more code, not the statement's
  w.BlockEnd();
  w.End();

  w.BegLib("modB");
  p.Org(0x2000);
  std::string out = Join(objectDir, "embedded_source");
  const char* stored[] = {"C:\\lib\\calc.c", "/usr/src/calc.c", "calc.c"};
  const char* extracted[] = {"calc_emb.c", "calc_emb1.c", "calc_emb2.c"};
  for (int i = 0; i < 3; ++i) {
    w.File(stored[i], {"int calc" + std::to_string(i) + "(void)", "{", "}"});
    p.files.push_back(Join(out, extracted[i]));
    p.current = int(p.files.size() - 1);
    w.FuncBegin1("calc" + std::to_string(i));
    p.Stat(1, 1, 2, 1, 0, 4);
    p.Stat(3, 1, 3, 1, 14, uint32_t(2 + i));
    w.BlockEnd();
  }
  w.End();
  w.Finish();
  return p;
}

struct TwoModuleProgram : ::testing::Test {
  Component c;
  Program p;
  void SetUp() override {
    std::string dir = testsupport::UniquePath("prog", "");
    fs::create_directories(dir);
    p = TwoModules(dir);
    std::string obj = Join(dir, "prog.d90");
    ASSERT_TRUE(p.w.Save(obj));
    ASSERT_EQ(c.ParsePath(obj), S_OK);
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// Single cases
// ---------------------------------------------------------------------------
TEST(Statements, FieldsAreZeroBasedAndWrapLikeTheFile) {
  ubrofw::Writer w;
  w.Start().BegLib("m").FileRef(0, "C:\\s\\a.c").Org(1, 0x300).FuncBegin1("f");
  w.SrcStat(10, 5, 12, 20, 14).AbsVar({1, 2, 3, 4});
  w.FileRef(1, "b.c").NewFile(1);            // the odd ones go to another file
  w.SrcStat(7, 0x105, 3, 1, 9).AbsVar({1});  // line end before line: the span wraps
  w.SrcStat(0, 1, 0, 1, 13).AbsVar({1});     // line 0 wraps to 0xFFFF
  w.SrcStat(1, 1, 1, 1, 200).AbsVar({1});
  w.BlockEnd().End().Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  const std::vector<api::Statement> t = c.Program().Statements();
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[1].lineEnd - t[1].line, uint8_t(3 - 7));
  EXPECT_EQ(t[1].column, 4u);  // only the low 8 bits of 0x105
  EXPECT_EQ(t[2].line, 0xFFFFu);
  EXPECT_EQ(c.Program().StatementRuns()[1].maxEndLine, 0xFFFF);
  const uint8_t types[] = {0x03, 0x05, 0x05, 0x01};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(t[size_t(i)].type, types[i]);
  ULONG address = 0;
  for (ULONG line : {9u, 10u, 11u}) {
    EXPECT_EQ(AddressOf(c, "C:\\s\\a.c", line, &address), S_OK);
    EXPECT_EQ(address, 0x300u);
  }
  EXPECT_EQ(AddressOf(c, "C:\\s\\a.c", 12, &address), E_FAIL);
  SourceAnswer a = SourceOf(c, 0x302);
  EXPECT_EQ(a.hr, S_OK);
  EXPECT_EQ(a.path, "C:\\s\\a.c");
  EXPECT_EQ(std::vector<ULONG>({a.line, a.col, a.lineEnd, a.colEnd, a.start}),
            std::vector<ULONG>({9, 4, 11, 19, 0x300}));
}

TEST(StatementMethods, StatusCodesInOrder) {
  Component c;
  ULONG a = 7, l = 7, col = 7, le = 7, ce = 7, st = 7;
  unsigned char type = 7;
  Bstr path("p");
  EXPECT_EQ(c->EnumHLStatements(0, nullptr, &type), E_POINTER);
  EXPECT_EQ(c->EnumHLStatements(0, &a, &type), PARSER_E_NOT_PARSED);
  EXPECT_EQ(c->GetProgMemAddressFromSource(&path, 0, 0, nullptr), E_POINTER);
  EXPECT_EQ(c->GetProgMemAddressFromSource(&path, 0, 0, &a), PARSER_E_NOT_PARSED);
  EXPECT_EQ(c->GetSourceFromProgMemAddress(0, &path, &l, &col, &le, nullptr, &st), E_POINTER);
  EXPECT_EQ(c->GetSourceFromProgMemAddress(0, &path, &l, &col, &le, &ce, &st), PARSER_E_NOT_PARSED);
  EXPECT_EQ(path.str(), "p");  // not consumed when refused
  EXPECT_EQ(a + l + type, 21u);
  ubrofw::Writer w;
  w.Start().BegLib("m").SourceRange().Byte(0x47).Word(1).Word(1).Word(1);
  EXPECT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);  // cut short after a skipped range
  EXPECT_EQ(c.Program().LastParse().message, kErrUnexpectedEof);
  EXPECT_EQ(c.Program().LastParse().tagName, "t_src_stat");
}
