// The diagnostics export for tools: written memory runs and the listings
// that the interfaces do not give, read through any interface pointer of
// the component.
#include <gtest/gtest.h>

// The component's platform header first: on Windows it supplies the
// declarations that the diagnostics header otherwise takes from the Linux
// public header.
// clang-format off
#include "TestSupport.h"
#include "../component/MirlParserUbrofDiag.h"
#include "../ubrof/WrittenRanges.h"
// clang-format on

#include <tuple>

using mirl::MemoryWrites;
using mirl::WrittenRanges;
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

TEST(Diagnostics, ArgumentsAreChecked) {
  Component c;
  IUnknown* p = static_cast<IMirlParser*>(c.get());
  MirlDiagParse d;
  MirlDiagCounts counts;
  ULONG n = 0;
  EXPECT_EQ(MirlDiagGetParseDiagnostic(p, nullptr), E_POINTER);
  EXPECT_EQ(MirlDiagGetParseDiagnostic(nullptr, &d), E_POINTER);
  Stranger stranger;
  EXPECT_EQ(MirlDiagGetCounts(&stranger, &counts), E_NOINTERFACE);
  EXPECT_EQ(MirlDiagGetSymbols(p, nullptr, 1, &n), E_POINTER) << "capacity without a buffer";
  EXPECT_EQ(MirlDiagGetWrittenRanges(p, 0x40, nullptr, nullptr, 0, &n), PARSER_E_BAD_MEMORY_TYPE);
  MirlDiagModule m;
  EXPECT_EQ(MirlDiagGetModule(p, 0, &m), PARSER_E_BAD_ID);
  MirlDiagScope s;
  EXPECT_EQ(MirlDiagGetScope(p, 0xFFFFFFFFu, &s), PARSER_E_BAD_ID);
  ULONG kind = 0;
  EXPECT_EQ(MirlDiagGetTypeKind(p, 0xFFFFFFFFu, &kind), PARSER_E_BAD_ID);
  // Any of the interfaces leads to the same object.
  IMirlParserMem* mem = c.get();
  EXPECT_EQ(MirlDiagGetCounts(mem, &counts), S_OK);
  EXPECT_EQ(counts.modules, 0u);
  EXPECT_EQ(MirlDiagGetParseDiagnostic(mem, &d), S_OK);
  EXPECT_EQ(d.failed, 0) << "nothing was parsed, so nothing failed";
}

TEST(Diagnostics, FailedParseSaysWhereAndInWhichRecord) {
  ubrofw::Writer w;
  w.Start();
  size_t record = w.Size();
  w.BegLib("module").Raw({0x53, 0x00});  // t_aux cut inside its word
  Component c;
  ASSERT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
  MirlDiagParse d;
  ASSERT_EQ(MirlDiagGetParseDiagnostic(static_cast<IMirlParser*>(c.get()), &d), S_OK);
  EXPECT_STREQ(d.message, "Error: Unexpected end of file");
  EXPECT_STREQ(d.tagName, "t_aux");
  int64_t auxRecord = int64_t(record) + 7 + 1 + 6;  // after t_beg_lib: tag, 6 bytes, name
  EXPECT_EQ(std::make_tuple(d.failed, d.recordOffset, d.tag, d.byteOffset, d.rejectedVersion),
            std::make_tuple(1, auxRecord, 0x53, int64_t(w.Size()), 0u));
  // What the parse read before it failed is still listed.
  MirlDiagModule m;
  ASSERT_EQ(MirlDiagGetModule(static_cast<IMirlParser*>(c.get()), 0, &m), S_OK);
  EXPECT_STREQ(m.name, "module");
  EXPECT_EQ(m.scopeId, 0u);
}

TEST(Diagnostics, RejectedVersionIsKept) {
  testsupport::MessageCapture capture;
  ubrofw::Writer w;
  w.BegFile1(0, 0, 0, 1, 1, 100).Version(9, 1, 2).Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
  IUnknown* p = static_cast<IMirlParser*>(c.get());
  MirlDiagParse d;
  ASSERT_EQ(MirlDiagGetParseDiagnostic(p, &d), S_OK);
  EXPECT_EQ(d.rejectedVersion, 9u);
  EXPECT_STREQ(d.tagName, "t_version");
  MirlDiagFile f;
  ASSERT_EQ(MirlDiagGetFileInfo(p, &f), S_OK);
  EXPECT_EQ(std::make_tuple(int(f.ubrofMinor), int(f.ubrofRevision)), std::make_tuple(1, 2));
}

TEST(Diagnostics, MessageSinkReceivesTheVersionMessage) {
  static std::string seen;
  seen.clear();
  MirlDiagSetMessageSink([](const char* text, const char*) { seen = text; });
  ubrofw::Writer w;
  w.Version(12, 0, 0).Finish();
  Component c;
  EXPECT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
  MirlDiagSetMessageSink(nullptr);
  EXPECT_NE(seen.find("UBROF8 or earlier"), std::string::npos) << seen;
}

TEST(Diagnostics, ModulesScopesAndWrittenMemory) {
  ubrofw::Writer w;
  w.Start();
  w.BegLib("?start").Org(1, 0x10).AbsVar({1, 2}).AbsVar({3}).Org(2, 0x200).AbsVar({4}).End();
  w.Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  IUnknown* p = static_cast<IMirlParser*>(c.get());
  MirlDiagCounts counts;
  ASSERT_EQ(MirlDiagGetCounts(p, &counts), S_OK);
  EXPECT_EQ(std::make_tuple(counts.modules, counts.scopes), std::make_tuple(1u, 1u));
  MirlDiagScope s;
  ASSERT_EQ(MirlDiagGetScope(p, 0, &s), S_OK);
  EXPECT_EQ(std::make_tuple(s.kind, int(s.hidden), s.parent), std::make_tuple(2u, 1, 0xFFFFFFFFu));
  ULONG roots[2] = {9, 9}, n = 0;
  ASSERT_EQ(MirlDiagGetRootScopes(p, roots, 2, &n), S_OK);
  EXPECT_EQ(n, 1u) << "a hidden module is still a top-level scope";
  EXPECT_EQ(roots[0], 0u);

  ULONG firsts[4], lasts[4];
  ASSERT_EQ(MirlDiagGetWrittenRanges(p, 1, firsts, lasts, 4, &n), S_OK);
  EXPECT_EQ(std::make_tuple(n, firsts[0], lasts[0]), std::make_tuple(1u, 0x10u, 0x12u));
  ASSERT_EQ(MirlDiagGetWrittenRanges(p, 2, firsts, lasts, 4, &n), S_OK);
  EXPECT_EQ(std::make_tuple(n, firsts[0], lasts[0]), std::make_tuple(1u, 0x200u, 0x200u));
  ASSERT_EQ(MirlDiagGetWrittenRanges(p, 4, nullptr, nullptr, 0, &n), S_OK);
  EXPECT_EQ(n, 0u);
}

TEST(Diagnostics, SymbolOwnersStatementsAndLabels) {
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
  IUnknown* p = static_cast<IMirlParser*>(c.get());

  ULONG n = 0;
  ASSERT_EQ(MirlDiagGetSymbols(p, nullptr, 0, &n), S_OK);
  ASSERT_EQ(n, 4u);
  std::vector<MirlDiagSymbol> syms(n);
  ASSERT_EQ(MirlDiagGetSymbols(p, syms.data(), n, &n), S_OK);
  // The global's owner is the module, the local's the function; after t_grp
  // a symbol belongs to the segment group instead of a scope.
  EXPECT_EQ(std::make_tuple(syms[0].scopeId, syms[1].scopeId, syms[1].rangeCount, syms[2].scopeId),
            std::make_tuple(0u, 1u, 1u, 0xFFFFFFFFu));
  EXPECT_EQ(std::make_tuple(syms[2].segmentGroup, int(syms[2].cls)), std::make_tuple(1u, 2));
  MirlDiagRange r;
  ASSERT_EQ(MirlDiagGetSymbolRange(p, 1, 0, &r), S_OK);
  EXPECT_EQ(std::make_tuple(r.start, r.value), std::make_tuple(0x42u, 0x100u));
  EXPECT_EQ(MirlDiagGetSymbolRange(p, 1, 1, &r), PARSER_E_BAD_ID);
  EXPECT_EQ(MirlDiagGetSymbolRange(p, 0, 0, &r), PARSER_E_BAD_ID) << "no ranges";

  MirlDiagStatement st[2];
  ASSERT_EQ(MirlDiagGetStatements(p, st, 2, &n), S_OK);
  ASSERT_EQ(n, 1u);
  const MirlDiagStatement& t = st[0];
  EXPECT_EQ(std::vector<ULONG>({t.address, t.length, t.line, t.lineEnd, t.column, t.columnEnd,
                                ULONG(t.type), t.fileId}),
            std::vector<ULONG>({0x40, 4, 2, 3, 1, 6, 0x03, 0}));
  const char* path = nullptr;
  ASSERT_EQ(MirlDiagGetStoredSourcePath(p, 0, &path), S_OK);
  EXPECT_STREQ(path, "a.c");

  // Labels: "global" and "grouped" share 0x40, "other" has 0x50; the
  // local symbol is never a label.
  ULONG labels[1] = {0};
  ASSERT_EQ(MirlDiagGetLabels(p, labels, 1, &n), S_OK);
  EXPECT_EQ(n, 2u) << "the count is the whole index, even past the capacity";
  EXPECT_EQ(labels[0], 0x40u);
}

}  // namespace
