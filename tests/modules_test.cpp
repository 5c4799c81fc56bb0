// Framing and module records: time of build, version, segments, segment
// groups, module begin and end, and the small per-module records.
#include <gtest/gtest.h>

#include <functional>

#include "TestSupport.h"

using namespace mirl;
using testsupport::Component;
using testsupport::MessageCapture;

namespace {

// Days from 30 Dec 1899 to 24 Dec 1999, counted by hand: 100 years of 365
// days, 24 leap days (1904..1996), then 1999 runs from 30 Dec 1899 onward.
constexpr double kDec24_1999 = 36518.0;

DATE TimeOfBuild(Component& c) {
  DATE d = -1;
  EXPECT_EQ(c->GetTimeOfBuild(&d), S_OK);
  return d;
}

}  // namespace

TEST(TimeOfBuild, ConvertsValidDatesAndKeepsTheOldValueOtherwise) {
  {
    ubrofw::Writer w;
    w.BegFile1(0, 30, 12, 24, 12, 99).Version(8, 0, 1).Finish();
    Component c;
    ASSERT_EQ(c.Parse(w), S_OK);
    EXPECT_NEAR(TimeOfBuild(c), kDec24_1999 + 12.5 / 24, 1e-9);
  }
  {
    // A second record with month 13 leaves the first one's value.
    ubrofw::Writer w;
    w.BegFile1(0, 30, 12, 24, 12, 99).BegFile1(0, 0, 0, 1, 13, 99).Finish();
    Component c;
    ASSERT_EQ(c.Parse(w), S_OK);
    EXPECT_NEAR(TimeOfBuild(c), kDec24_1999 + 12.5 / 24, 1e-9);
  }
  struct Case {
    uint8_t sec, min, hour, day, month, year;
    bool valid;
  };
  const Case cases[] = {
      {0, 0, 0, 29, 2, 100, true},  // 2000 is a leap year (divisible by 400)
      {0, 0, 0, 29, 2, 0, false},   // 1900 is not (divisible by 100)
      {0, 0, 0, 29, 2, 96, true},   // 1996
      {0, 0, 0, 29, 2, 99, false},  // 1999
      {0, 0, 0, 31, 4, 99, false},  // April has 30 days
      {0, 0, 0, 0, 1, 99, false},   // day 0
      {0, 0, 24, 1, 1, 99, false},  // hour 24
      {0, 60, 0, 1, 1, 99, false},  // minute 60
      {60, 0, 0, 1, 1, 99, false},  // second 60
      {59, 59, 23, 31, 12, 99, true}, {0, 0, 0, 1, 0, 99, false},  // month 0
  };
  for (const Case& k : cases) {
    ubrofw::Writer w;
    w.BegFile1(k.sec, k.min, k.hour, k.day, k.month, k.year).Finish();
    Component c;
    ASSERT_EQ(c.Parse(w), S_OK);
    if (k.valid)
      EXPECT_NE(TimeOfBuild(c), 0.0) << int(k.day) << "." << int(k.month) << "." << int(k.year);
    else
      EXPECT_EQ(TimeOfBuild(c), 0.0) << int(k.day) << "." << int(k.month) << "." << int(k.year);
  }
}

TEST(TimeOfBuild, DateRuleAgainstKnownDays) {
  DATE d = 0;
  ASSERT_TRUE(DateFromFields(1899, 12, 30, 0, 0, 0, &d));
  EXPECT_EQ(d, 0.0);
  ASSERT_TRUE(DateFromFields(1900, 1, 1, 6, 0, 0, &d));
  EXPECT_DOUBLE_EQ(d, 2.25);
  ASSERT_TRUE(DateFromFields(2000, 3, 1, 0, 0, 0, &d));
  EXPECT_EQ(d, 36586.0);  // 1 Jan 2000 is 36526; Jan 31 + Feb 29 days later
  // Before the epoch the time of day is subtracted.
  ASSERT_TRUE(DateFromFields(1899, 12, 29, 12, 0, 0, &d));
  EXPECT_DOUBLE_EQ(d, -1.5);
  EXPECT_FALSE(DateFromFields(10000, 1, 1, 0, 0, 0, &d));
  EXPECT_TRUE(DateFromFields(9999, 12, 31, 0, 0, 0, &d));
}

TEST(Version, UbrofEightIsAcceptedWithItsSkipInformation) {
  ubrofw::Writer w;
  // Tag 0x70 is unknown: its skip information says 3 fixed bytes; 0x71 has
  // a length byte in front of its data.
  w.BegFile1(0, 30, 12, 24, 12, 99).Version(8, 0, 1);
  w.Byte(0xBD).Byte(8).Byte(1).Byte(2).Byte(2).Byte(0x70).Byte(3).Byte(0x71).Byte(0xFD);
  w.Byte(0x70).Raw({1, 2, 3}).Byte(0x71).Byte(2).Raw({9, 9}).BegPgm("m").End().Finish();
  MessageCapture capture;
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  EXPECT_EQ(MessageCapture::count, 0);
  // The later record overwrites the three version bytes.
  EXPECT_EQ(c->m_FileInfo.m_ucUbrofVersion, 8);
  EXPECT_EQ(c->m_FileInfo.m_ucUbrofMinor, 1);
  EXPECT_EQ(c->m_FileInfo.m_ucUbrofRevision, 2);
  ASSERT_EQ(c->m_Modules.size(), 1u);
}

TEST(Version, UbrofNineShowsTheMessageOnceAndFails) {
  ubrofw::Writer w;
  w.BegFile1(0, 30, 12, 24, 12, 99).Version(9, 0, 0);
  // Whatever follows is not read: a module record here would be kept.
  w.BegPgm("never").End().Finish();
  MessageCapture capture;
  Component c;
  EXPECT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
  EXPECT_EQ(MessageCapture::count, 1);
  EXPECT_EQ(MessageCapture::lastText,
            "Currently, MIRL Studio requires the UBROF object file version to be UBROF8 or "
            "earlier. See the 'Object files format and support' help section for more "
            "information.");
  EXPECT_EQ(MessageCapture::lastCaption, "MIRL Studio UBROF parser");
  EXPECT_TRUE(c->m_Modules.empty());
  EXPECT_EQ(c->m_ScopeTable.Count(), 0u);
  EXPECT_FALSE(c->IsParsed());
}

TEST(Version, LaterVersionsAreRefusedToo) {
  for (uint8_t v : {10, 255}) {
    ubrofw::Writer w;
    w.BegFile1(0, 30, 12, 24, 12, 99).Version(v, 0, 0).Finish();
    MessageCapture capture;
    Component c;
    EXPECT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
    EXPECT_EQ(MessageCapture::count, 1);
  }
}

TEST(FramingRecords, SegmentInfoAndKeyValuesAreReadAndDropped) {
  ubrofw::Writer w;
  w.Start()
      .SegInfo({})
      .SegInfo({{"CODE", 2}, {"", 0}, {"DATA", 1}})
      .KeyValue("key", "value")
      .KeyValue("", "")
      .BegFile()
      .BegPgm("after")
      .End()
      .Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  ASSERT_EQ(c->m_Modules.size(), 1u);
  EXPECT_EQ(c->m_Modules[0].m_pszName, "after");
}

TEST(FramingRecords, CutShortRecordsFailTheParseAndKeepEarlierModules) {
  std::vector<std::function<void(ubrofw::Writer&)>> tails = {
      [](ubrofw::Writer& w) { w.Byte(0xC0).Zeros(4).Word(1).Zeros(5).Byte(4).Text("CO"); },
      [](ubrofw::Writer& w) { w.Byte(0xC9).Zeros(4).Long(1000).Text("abc"); },
      [](ubrofw::Writer& w) {
        w.Byte(0x01).Raw({0, 0, 0, 1, 1, 99}).Byte(10).Text("short");
      },
      [](ubrofw::Writer& w) { w.Byte(0x54).Word(1).Byte(5).Text("1."); },
      [](ubrofw::Writer& w) { w.Byte(0xBD).Byte(8).Byte(0).Byte(1).Byte(2).Byte(0x70); },
  };
  for (size_t i = 0; i < tails.size(); ++i) {
    ubrofw::Writer w;
    w.Start().BegPgm("kept").End();
    tails[i](w);
    Component c;
    EXPECT_EQ(c.Parse(w), PARSER_E_INVALID_FILE) << i;
    ASSERT_EQ(c->m_Modules.size(), 1u) << i;
    EXPECT_EQ(c->m_Modules[0].m_pszName, "kept");
  }
}

TEST(Modules, BeginRecordFillsTheModuleAndOpensItsScope) {
  ubrofw::Writer w;
  w.Start();
  // t_beg_pgm with header bytes 7, 8, 9 and the date 24.12.1999.
  w.Byte(0x01).Raw({7, 8, 9, 24, 12, 99}).ByteString("app");
  w.Debug(3).Aux(0x1234).Aux1(0x5678, "V2.10A").End();
  w.BegLib("?lib", 31, 2, 99).End();  // 31 February: no date
  w.Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  ASSERT_EQ(c->m_Modules.size(), 2u);
  const ModuleRecord& app = c->m_Modules[0];
  EXPECT_EQ(app.m_aucHeader[0], 7);
  EXPECT_EQ(app.m_aucHeader[1], 8);
  EXPECT_EQ(app.m_aucHeader[2], 9);
  EXPECT_EQ(app.m_dateCreated, kDec24_1999);
  EXPECT_EQ(app.m_pszName, "app");
  EXPECT_EQ(app.m_ucDebug, 3);
  EXPECT_EQ(app.m_usAux, 0x1234);
  EXPECT_EQ(app.m_usAux1, 0x5678);
  EXPECT_TRUE(app.m_bHasToolVersion);
  EXPECT_EQ(app.m_pszToolVersion, "V2.10A");
  const ModuleRecord& lib = c->m_Modules[1];
  EXPECT_EQ(lib.m_dateCreated, 0.0);
  EXPECT_EQ(lib.m_ucDebug, 0);
  EXPECT_EQ(lib.m_usAux, 0);
  EXPECT_FALSE(lib.m_bHasToolVersion);

  const ScopeTable& st = c->m_ScopeTable;
  ASSERT_EQ(st.Count(), 2u);
  EXPECT_EQ(st.RootScopes, (std::vector<uint32_t>{0, 1}));
  for (uint32_t i = 0; i < 2; ++i) {
    EXPECT_EQ(st.Scopes[i].Kind, uint32_t(kScopeModule));
    EXPECT_EQ(st.Scopes[i].ModuleIndex, i);
    EXPECT_EQ(st.Scopes[i].NameIndex, kNone);
    EXPECT_EQ(st.Scopes[i].LowAddress, 0xFFFFFFFFu);
    EXPECT_EQ(st.Scopes[i].HighAddress, 0u);
    EXPECT_EQ(st.Scopes[i].Parent, kNone);
  }
  EXPECT_EQ(st.Scopes[0].Hidden, 0);
  EXPECT_EQ(st.Scopes[1].Hidden, 1);
  EXPECT_EQ(st.CurrentScope, kNone);
  EXPECT_EQ(st.CurrentModule, kNone);
}

TEST(Modules, RecordsBeforeAnyModuleAreDroppedButRaiseTheCompilerVersion) {
  ubrofw::Writer w;
  w.Start().Debug(1).Aux(2).Aux1(3, "2.5").BegPgm("m").End().Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  ASSERT_EQ(c->m_Modules.size(), 1u);
  EXPECT_EQ(c->m_Modules[0].m_ucDebug, 0);
  EXPECT_EQ(c->m_Modules[0].m_usAux, 0);
  EXPECT_EQ(c->m_Modules[0].m_usAux1, 0);
  EXPECT_FALSE(c->m_Modules[0].m_bHasToolVersion);
  EXPECT_EQ(c->m_SymbolTable.CompilerVersion, 2.5);
}

TEST(Modules, CompilerVersionIsTheLargestLeadingNumber) {
  struct Case {
    std::vector<std::string> texts;
    double expected;
  };
  const Case cases[] = {
      {{"1.5", "2.10A", "2.1"}, 2.1},
      {{"2.10A", "1.5"}, 2.1},
      {{"abc"}, 0.0},
      {{"3", "V9.9"}, 3.0},  // no leading number: counts as 0
      {{}, 0.0},
      {{"1.75", "nan", "1.5"}, 1.75},  // not a number leaves the value
  };
  for (const Case& k : cases) {
    ubrofw::Writer w;
    w.Start();
    for (const std::string& t : k.texts) w.BegPgm("m").Aux1(0, t).End();
    w.Finish();
    Component c;
    ASSERT_EQ(c.Parse(w), S_OK);
    EXPECT_DOUBLE_EQ(c->m_SymbolTable.CompilerVersion, k.expected);
  }
}

TEST(Modules, EndAbsLeavesTheModuleOpenAndLaterModulesNestInIt) {
  ubrofw::Writer w;
  w.Start()
      .BegPgm("outer")  // scope 0
      .EndAbs()
      .BegPgm("inner")  // scope 1, a child of 0
      .FuncBegin1("f")  // scope 2
      .BlockEnd()
      .End()            // back to scope 0, which stays the current module
      .BegPgm("third")  // scope 3, a child of 0 as well
      .End()
      .Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  const ScopeTable& st = c->m_ScopeTable;
  ASSERT_EQ(st.Count(), 4u);
  EXPECT_EQ(st.RootScopes, (std::vector<uint32_t>{0}));
  EXPECT_EQ(st.Scopes[0].Children, (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(st.Scopes[1].Parent, 0u);
  EXPECT_EQ(st.Scopes[1].Kind, uint32_t(kScopeModule));
  EXPECT_EQ(st.Scopes[1].ModuleIndex, 1u);
  EXPECT_EQ(st.Scopes[2].Parent, 1u);
  EXPECT_EQ(st.Scopes[3].Parent, 0u);
  // Left open at the end of the file.
  EXPECT_EQ(st.CurrentScope, 0u);
  EXPECT_EQ(st.CurrentModule, 0u);
}

TEST(SegmentGroups, GroupRecordsGrowTheTableAndCollectDefinitions) {
  ubrofw::Writer w;
  w.Start()
      .Grp(3)  // groups 0..3
      .SymbolDef(1, 0, 0x10, "g3a", 0)
      .Grp(1)  // adds none; definitions still go to the last entry
      .SymbolDef(1, 0, 0x20, "g3b", 0)
      .Macro("M", "1")
      .BegPgm("m")  // module state 2: definitions go to the module again
      .GrpRef(1)
      .GrpRef(0xFFFF)
      .SymbolDef(1, 0, 0x30, "mod", 0)
      .End()
      .Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  ASSERT_EQ(c->m_SegmentGroups.size(), 4u);
  EXPECT_EQ(c->m_SegmentGroups[3].m_SymbolIds, (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(c->m_SegmentGroups[3].m_MacroIds, (std::vector<uint32_t>{0}));
  EXPECT_TRUE(c->m_SegmentGroups[1].m_SymbolIds.empty());
  const ScopeRecord& m = c->m_ScopeTable.Scopes[0];
  EXPECT_EQ(m.GroupRefs, (std::vector<uint32_t>{1, 0xFFFF}));
  EXPECT_EQ(m.Symbols, (std::vector<uint32_t>{2}));
}

TEST(SegmentGroups, GroupReferenceOutsideAScopeReadsNothing) {
  // After t_end the module state is 0: the record's word is read as the
  // next tags (0x4D is t_beg_file, which has no fields).
  ubrofw::Writer w;
  w.Start().BegPgm("m").End().GrpRef(0x4D4D).Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  EXPECT_TRUE(c->m_ScopeTable.Scopes[0].GroupRefs.empty());

  // In a group (state 1) the same holds: here the word's bytes are no known
  // tag, so the parse fails.
  ubrofw::Writer w2;
  w2.Start().Grp(0).GrpRef(0x7777).Finish();
  Component c2;
  EXPECT_EQ(c2.Parse(w2), PARSER_E_INVALID_FILE);
}
