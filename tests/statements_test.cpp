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

TEST_F(TwoModuleProgram, EveryCodeByteFindsItsStatement) {
  ASSERT_EQ(c.Program().Count().sourceFiles, p.files.size());
  for (size_t i = 0; i < p.kept.size(); ++i) {
    const Expected& e = p.kept[i];
    ULONG address = 0;
    unsigned char type = 0;
    ASSERT_EQ(c->EnumHLStatements(ULONG(i), &address, &type), S_OK);
    EXPECT_EQ(address, e.address);
    EXPECT_EQ(type, e.type);
    for (uint32_t a = e.address; a < e.address + e.length; ++a) {
      SourceAnswer s = SourceOf(c, a);
      ASSERT_EQ(s.hr, S_OK) << std::hex << a;
      EXPECT_EQ(s.path, p.files[size_t(e.file)]) << std::hex << a;
      EXPECT_EQ(
          std::vector<ULONG>({s.line, s.col, s.lineEnd, s.colEnd, s.start}),
          std::vector<ULONG>({e.line, e.column & 0xFF, e.lineEnd, e.columnEnd & 0xFF, e.address}))
          << std::hex << a;
    }
  }
  ULONG address = 0x1234;
  unsigned char type = 0x56;
  EXPECT_EQ(c->EnumHLStatements(ULONG(p.kept.size()), &address, &type), PARSER_E_BAD_ID);
  EXPECT_EQ(address + type, 0x1234u + 0x56u);
  // Code after a statement's first record, addresses in no scope or in a
  // module without statements of its own, and beyond the program.
  for (ULONG a : {0x0FFFu, 0x1014u, 0x1108u, 0x110Au, 0x1FFFu, 0x2015u, 0xFFFFFFFFu}) {
    SourceAnswer s = SourceOf(c, a);
    EXPECT_EQ(s.hr, E_FAIL) << std::hex << a;
    EXPECT_EQ(s.path, "before");
    EXPECT_EQ(s.start, 0xEEu);
  }
}

TEST_F(TwoModuleProgram, EveryLineFindsTheFirstStatementThatHoldsIt) {
  for (size_t f = 0; f < p.files.size(); ++f) {
    for (ULONG line = 0; line < 100; ++line) {  // the dropped statements were at 98 and 6
      const Expected* first = nullptr;
      for (const Expected& e : p.kept) {
        if (e.file == int(f) && e.line <= line && line <= e.lineEnd) {
          first = &e;
          break;
        }
      }
      ULONG address = 0xDEAD;
      HRESULT hr = AddressOf(c, p.files[f], line, &address);
      EXPECT_EQ(hr, first ? S_OK : E_FAIL) << p.files[f] << ":" << line;
      EXPECT_EQ(address, first ? first->address : 0xDEADu) << p.files[f] << ":" << line;
    }
  }
  // Stored paths match in any letter case, but only with their separators.
  ULONG address = 0;
  EXPECT_EQ(AddressOf(c, "c:\\PROJ\\src\\MAIN.C", 9, &address), S_OK);
  EXPECT_EQ(address, 0x1000u);
  for (const char* miss : {"C:/proj/src/main.c", "main.c", ""})
    EXPECT_EQ(AddressOf(c, miss, 9, &address), E_FAIL) << miss;
  Bstr none;
  EXPECT_EQ(c->GetProgMemAddressFromSource(&none, 9, 0, &address), E_FAIL);
}

TEST_F(TwoModuleProgram, HostPathsRoundTripThroughTheMapping) {
  std::string hostDir = testsupport::UniquePath("host", "");
  fs::create_directories(hostDir);
  std::string host = (fs::path(hostDir) / "Main.c").string();
  testsupport::WriteFile(host, {'x'});
  Bstr stored(p.files[0]), hostB(host);
  ASSERT_EQ(c->RemapSourceFile(&stored, &hostB), S_OK);

  SourceAnswer s = SourceOf(c, 0x1004);
  ASSERT_EQ(s.hr, S_OK);
  EXPECT_EQ(s.path, host);
  EXPECT_EQ(SourceOf(c, 0x100F).path, p.files[1]);  // util.h has no pair

  std::string upper = host, swapped = host;
  for (char& ch : upper) ch = char(std::toupper(static_cast<unsigned char>(ch)));
  for (char& ch : swapped) ch = ch == '/' ? '\\' : ch == '\\' ? '/' : ch;
  for (const std::string& q : {host, upper, swapped}) {
    ULONG address = 0;
    EXPECT_EQ(AddressOf(c, q, 12, &address), S_OK) << q;
    EXPECT_EQ(address, 0x1004u) << q;
  }
  // The stored path itself still answers.
  ULONG address = 0;
  EXPECT_EQ(AddressOf(c, p.files[0], 12, &address), S_OK);

  // A base directory forgets the pair; registered again, a relative host
  // path below the base directory finds the file too.
  Bstr empty(""), base(hostDir);
  ASSERT_EQ(c->RemapSourceFile(&empty, &base), S_OK);
  EXPECT_EQ(SourceOf(c, 0x1004).path, p.files[0]);
  ASSERT_EQ(c->RemapSourceFile(&stored, &hostB), S_OK);
  for (const std::string& q : {std::string("Main.c"), std::string("main.C"),
                               std::string("sub/../Main.c"), std::string(".\\Main.c")}) {
    address = 0;
    EXPECT_EQ(AddressOf(c, q, 12, &address), S_OK) << q;
    EXPECT_EQ(address, 0x1004u) << q;
  }
  EXPECT_EQ(AddressOf(c, "Other.c", 12, &address), E_FAIL);
}

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

TEST(Statements, PendingStatementsTakeTheFirstCodeOrAreDropped) {
  ubrofw::Writer w;
  w.Start().BegLib("m").FileRef(0, "a.c").Org(1, 0x40).FuncBegin1("f");
  w.SrcStat(1, 1, 1, 1).SrcStat(2, 1, 2, 1).AbsVar({1, 2, 3, 4}).AbsVar({5, 6, 7, 8, 9, 10});
  w.SrcStat(4, 1, 4, 1).AbsVar({11});
  w.SrcStat(3, 1, 3, 1).BlockEnd();  // no code before the block ends
  w.SrcStat(6, 1, 6, 1).End();       // pending at the module's end: kept, length 0
  w.BegLib("n").Org(1, 0x80).AbsVar({12}).End().Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  const api::Program prog = c.Program();
  const std::vector<api::Statement> t = prog.Statements();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].line, 1u);  // the second of the two in a row
  EXPECT_EQ(t[0].length, 4u);
  EXPECT_EQ(t[2].length, 0u);
  EXPECT_EQ(prog.StatementRuns()[0].count, 2u);
  // The function spans 0x40..0x4A, but 0x44..0x49 is no statement's code.
  api::Scope f;
  ASSERT_TRUE(prog.GetScope(1, &f));
  EXPECT_EQ(f.high, 0x4Bu);
  EXPECT_EQ(SourceOf(c, 0x43).start, 0x40u);
  EXPECT_EQ(SourceOf(c, 0x44).hr, E_FAIL);
  EXPECT_EQ(SourceOf(c, 0x4A).start, 0x4Au);
  EXPECT_EQ(SourceOf(c, 0x4B).hr, E_FAIL);  // the length-0 statement covers nothing
  ULONG address = 0;
  for (ULONG dropped : {0u, 2u}) EXPECT_EQ(AddressOf(c, "a.c", dropped, &address), E_FAIL);
  EXPECT_EQ(AddressOf(c, "a.c", 5, &address), S_OK);
  EXPECT_EQ(address, 0x4Bu);
}

TEST(Statements, RunsFollowScopesAndFilesNotModules) {
  ubrofw::Writer w;
  w.Start().BegLib("a").FileRef(0, "a.c").Org(1, 0x10).SrcStat(1, 1, 1, 1).AbsVar({1}).End();
  w.BegLib("b").SrcStat(2, 1, 2, 1).AbsVar({2}).End();
  w.BegLib("c").FuncBegin1("f").SrcStat(3, 1, 3, 1).AbsVar({3}).BlockEnd().End();
  w.BegLib("d").Org(1, 0x200).NewFile(5).FuncBegin1("g").SrcStat(4, 1, 4, 1).AbsVar({4, 5});
  w.BlockEnd().FileRef(0, "d.c").FuncBegin1("h").Org(1, 0x300).SrcStat(5, 1, 5, 1);
  w.AbsVar({6, 7}).Org(1, 0x280).SrcStat(6, 1, 6, 1).AbsVar({8, 9}).BlockEnd().End().Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  const api::Program prog = c.Program();
  const std::vector<api::StatementRun> runs = prog.StatementRuns();
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].count, 2u);  // module b's statement joined module a's run
  api::Scope a, b;
  ASSERT_TRUE(prog.GetScope(0, &a) && prog.GetScope(1, &b));
  EXPECT_EQ(a.statementRuns, std::vector<uint32_t>{0});
  EXPECT_TRUE(b.statementRuns.empty());
  EXPECT_EQ(prog.SourceFiles()[0].statementRuns, (std::vector<uint32_t>{0, 1}));
  // Statements read without a current file have no source.
  EXPECT_EQ(runs[2].file, api::kNoId);
  EXPECT_EQ(SourceOf(c, 0x201).hr, E_FAIL);
  // A run is judged by its last statement, which ends at 0x282: 0x301 is
  // passed over although the run's first statement covers it.
  EXPECT_EQ(SourceOf(c, 0x281).path, "d.c");
  EXPECT_EQ(SourceOf(c, 0x301).hr, E_FAIL);
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
