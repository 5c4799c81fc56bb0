// What the read API lists beyond the interfaces: written memory runs, the
// end of a failed parse, owners of symbols, statements and labels, read
// through any interface pointer of the component.
#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>

#include "../ubrof/WrittenRanges.h"
#include "TestSupport.h"

using mirl::MemoryWrites;
using mirl::WrittenRanges;
using namespace mirl::api;
using testsupport::Component;

namespace {

typedef std::vector<std::pair<uint32_t, uint32_t>> Runs;

TEST(WrittenRanges, TouchingAndOverlappingWritesMergeIntoRuns) {
  WrittenRanges w;
  EXPECT_TRUE(w.Runs().empty());
  w.Add(0x10, 4);  // 10..13
  w.Add(0x14, 2);  // continues: 10..15
  w.Add(0x12, 6);  // overlaps and extends: 10..17
  w.Add(0x30, 1);
  w.Add(0x00, 0x10);  // earlier in memory, touching 10: 00..17
  w.Add(0x40, 0);     // nothing written
  EXPECT_EQ(w.Runs(), (Runs{{0x00, 0x17}, {0x30, 0x30}}));
  w.Add(0xFFFFFFF0u, 0x20);  // stops at the top of the address space
  EXPECT_EQ(w.Runs(), (Runs{{0x00, 0x17}, {0x30, 0x30}, {0xFFFFFFF0u, 0xFFFFFFFFu}}));
}

TEST(WrittenRanges, TheCounterThatMovedWasWritten) {
  MemoryWrites m;
  m.Note(0x100, 0x104, 7, 7, 9, 9);    // program memory
  m.Note(0x100, 0x100, 7, 7, 9, 12);   // data memory
  m.Note(0x100, 0x100, 7, 8, 12, 12);  // eeprom
  m.Note(0x100, 0x100, 8, 8, 12, 12);  // skipped bytes: no counter moved
  EXPECT_EQ(m.Code.Runs(), (Runs{{0x100, 0x103}}));
  EXPECT_EQ(m.Data.Runs(), (Runs{{9, 11}}));
  EXPECT_EQ(m.Eeprom.Runs(), (Runs{{7, 7}}));
}

// Not a parser: answers no interface.
struct Stranger : IUnknown {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

TEST(ReadApi, ArgumentsAreChecked) {
  Stranger stranger;
  EXPECT_THROW(Program{nullptr}, std::invalid_argument);
  EXPECT_THROW(Program{&stranger}, std::invalid_argument);
  Component c;
  // Any of the interfaces leads to the same object.
  const Program p(c.Mem());
  Scope s;
  Type t;
  EXPECT_FALSE(p.GetScope(kNoId, &s));
  EXPECT_FALSE(p.GetType(kNoId, &t));
  const Image none = p.Memory(0x40);
  EXPECT_TRUE(none.lowest > none.highest && none.written.empty());
  EXPECT_EQ(p.Count().modules, 0u);
  EXPECT_FALSE(p.Initialized());
  EXPECT_FALSE(p.LastParse().failed) << "nothing was parsed, so nothing failed";
}

TEST(ReadApi, FailedParseSaysWhereAndInWhichRecord) {
  ubrofw::Writer w;
  w.Start();
  size_t record = w.Size();
  w.BegLib("module").Raw({0x53, 0x00});  // t_aux cut inside its word
  Component c;
  ASSERT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
  const ParseEnd d = c.Program().LastParse();
  EXPECT_EQ(d.message, "Error: Unexpected end of file");
  EXPECT_EQ(d.tagName, "t_aux");
  int64_t auxRecord = int64_t(record) + 7 + 1 + 6;  // after t_beg_lib: tag, 6 bytes, name
  EXPECT_EQ(std::make_tuple(d.failed, d.recordOffset, d.tag, d.offset, d.rejectedVersion),
            std::make_tuple(true, auxRecord, 0x53, int64_t(w.Size()), 0u));
  // What the parse read before it failed is still listed.
  const std::vector<Module> m = c.Program().Modules();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(std::make_tuple(m[0].name, m[0].scope), std::make_tuple("module", 0u));
}

TEST(ReadApi, RejectedVersionIsKept) {
  testsupport::MessageCapture capture;
  ubrofw::Writer w;
  w.BegFile1(0, 0, 0, 1, 1, 100).Version(9, 1, 2).Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
  const ParseEnd d = c.Program().LastParse();
  EXPECT_EQ(std::make_tuple(d.rejectedVersion, d.tagName), std::make_tuple(9u, "t_version"));
  const FileFacts f = c.Program().File();
  EXPECT_EQ(std::make_tuple(f.minor, f.revision), std::make_tuple(1u, 2u));
}

TEST(ReadApi, MessageSinkReceivesTheVersionMessage) {
  static std::string seen;
  seen.clear();
  SetMessageSink([](const char* text, const char*) { seen = text; });
  ubrofw::Writer w;
  w.Version(12, 0, 0).Finish();
  Component c;
  EXPECT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
  SetMessageSink(nullptr);
  EXPECT_NE(seen.find("UBROF8 or earlier"), std::string::npos) << seen;
}

TEST(ReadApi, ModulesScopesAndWrittenMemory) {
  ubrofw::Writer w;
  w.Start();
  w.BegLib("?start").Org(1, 0x10).AbsVar({1, 2}).AbsVar({3}).Org(2, 0x200).AbsVar({4}).End();
  w.Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  const Program p = c.Program();
  EXPECT_EQ(std::make_tuple(p.Count().modules, p.Count().scopes), std::make_tuple(1u, 1u));
  Scope s;
  ASSERT_TRUE(p.GetScope(0, &s));
  EXPECT_EQ(std::make_tuple(s.kind, s.hidden, s.parent), std::make_tuple(2u, true, kNoId));
  EXPECT_EQ(p.RootScopes(), std::vector<uint32_t>{0}) << "a hidden module is still top-level";
  EXPECT_EQ(p.Memory(1).written, (Runs{{0x10, 0x12}}));
  EXPECT_EQ(p.Memory(2).written, (Runs{{0x200, 0x200}}));
  EXPECT_TRUE(p.Memory(4).written.empty());
}

TEST(ReadApi, SymbolOwnersStatementsAndLabels) {
  ubrofw::Writer w;
  w.Start();
  w.BegPgm("m").FileRef(0, "a.c");
  w.SymbolDef(1, 0, 0x40, "global", 6);
  w.FuncBegin1("f", {ubrofw::Local{8, 0, 24, "local", 6, {{0x42, 1, 2, 0x100}}}});
  w.Org(1, 0x40).SrcStat(3, 2, 4, 7, 14).AbsVar({0, 0, 0, 0});
  w.BlockEnd();
  w.Grp(1).SymbolDef(2, 0, 0x40, "grouped", 6).SymbolDef(2, 0, 0x50, "other", 6);
  w.End().Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  const Program p = c.Program();

  const std::vector<Symbol> syms = p.Symbols();
  ASSERT_EQ(syms.size(), 4u);
  // The global's owner is the module, the local's the function; after t_grp
  // a symbol belongs to the segment group instead of a scope.
  EXPECT_EQ(std::make_tuple(syms[0].scope, syms[1].scope, syms[2].scope, syms[2].segmentGroup),
            std::make_tuple(0u, 1u, kNoId, 1u));
  EXPECT_EQ(syms[2].cls, 2);
  EXPECT_TRUE(syms[0].ranges.empty());
  ASSERT_EQ(syms[1].ranges.size(), 1u);
  EXPECT_EQ(std::make_tuple(syms[1].ranges[0].start, syms[1].ranges[0].value),
            std::make_tuple(0x42u, 0x100u));

  const std::vector<Statement> st = p.Statements();
  ASSERT_EQ(st.size(), 1u);
  const Statement& t = st[0];
  EXPECT_EQ(std::vector<uint32_t>(
                {t.address, t.length, t.line, t.lineEnd, t.column, t.columnEnd, t.type, t.file}),
            std::vector<uint32_t>({0x40, 4, 2, 3, 1, 6, 0x03, 0}));
  EXPECT_EQ(p.SourceFiles().at(0).path, "a.c");

  // Labels: "global" and "grouped" share 0x40, "other" has 0x50; the
  // local symbol is never a label.
  const std::vector<Label> labels = p.Labels();
  ASSERT_EQ(labels.size(), 2u);
  EXPECT_EQ(std::make_tuple(labels[0].address, labels[0].name, labels[1].address),
            std::make_tuple(0x40u, "global", 0x50u));
}

}  // namespace
