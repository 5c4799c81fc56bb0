// Framing and module records: time of build, version, segments, segment
// groups, module begin and end, and the small per-module records.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <tuple>

#include "TestSupport.h"

using namespace mirl;
using testsupport::Component;
using testsupport::MessageCapture;

namespace {
// 24 Dec 1999, counted by hand: 1 Jan 2000 is day 36526.
constexpr double kDec24_1999 = 36518.0;
}  // namespace

TEST(TimeOfBuild, ValidDatesConvertAndInvalidOnesKeepTheOldValue) {
  // A valid record (1 Jan 1900 06:00) first, so that an invalid one can be
  // seen to keep it. Fields: second, minute, hour, day, month, year - 1900.
  auto built = [](const std::array<uint8_t, 6>& f) {
    ubrofw::Writer w;
    w.BegFile1(0, 0, 6, 1, 1, 0).BegFile1(f[0], f[1], f[2], f[3], f[4], f[5]).Finish();
    Component c;
    DATE d = 0;
    EXPECT_EQ(c.Parse(w), S_OK);
    EXPECT_EQ(c->GetTimeOfBuild(&d), S_OK);
    return d;
  };
  EXPECT_NEAR(built({0, 30, 12, 24, 12, 99}), kDec24_1999 + 12.5 / 24, 1e-9);
  EXPECT_NEAR(built({0, 0, 0, 29, 2, 100}), 36526.0 + 31 + 28, 1e-9);  // 2000 is a leap year
  EXPECT_NEAR(built({59, 59, 23, 31, 12, 99}), 36525.0 + 86399.0 / 86400, 1e-9);
  // 1900 is no leap year, nor 1999; then each field one beyond its range.
  const std::array<uint8_t, 6> invalid[] = {
      {0, 0, 0, 29, 2, 0},  {0, 0, 0, 29, 2, 99}, {0, 0, 0, 31, 4, 99},
      {0, 0, 0, 0, 1, 99},  {0, 0, 0, 1, 13, 99}, {0, 0, 0, 1, 0, 99},
      {0, 0, 24, 1, 1, 99}, {0, 60, 0, 1, 1, 99}, {60, 0, 0, 1, 1, 99}};
  for (const auto& f : invalid)
    EXPECT_NEAR(built(f), 2.25, 1e-9) << int(f[3]) << "." << int(f[4]) << "." << int(f[5]);
  DATE d = 0;
  ASSERT_TRUE(DateFromFields(1899, 12, 29, 12, 0, 0, &d));
  EXPECT_DOUBLE_EQ(d, -1.5);  // before the epoch the time is subtracted
  EXPECT_TRUE(DateFromFields(9999, 12, 31, 0, 0, 0, &d));
  EXPECT_FALSE(DateFromFields(10000, 1, 1, 0, 0, 0, &d));
}

TEST(Version, EightIsReadWithItsSkipInformationNineAndLaterShowTheMessageOnceAndFail) {
  for (uint8_t v : {8, 9, 10, 255}) {
    SCOPED_TRACE(int(v));
    ubrofw::Writer w;
    // Tag 0x70 is unknown: 3 fixed bytes; 0x71 has a length byte. A later
    // version stops at its version record and reads none of this.
    w.BegFile1(0, 30, 12, 24, 12, 99).Version(v, 0, 1);
    w.Byte(0xBD).Raw({8, 1, 2, 2, 0x70, 3, 0x71, 0xFD});
    w.Byte(0x70).Raw({1, 2, 3}).Byte(0x71).Byte(2).Raw({9, 9}).BegPgm("m").End().Finish();
    MessageCapture capture;
    Component c;
    const bool eight = v == 8;
    EXPECT_EQ(c.Parse(w), eight ? S_OK : PARSER_E_INVALID_FILE);
    EXPECT_EQ(MessageCapture::count, eight ? 0 : 1);
    const api::Program p = c.Program();
    EXPECT_EQ(p.Count().modules, eight ? 1u : 0u);
    EXPECT_EQ(p.Parsed(), eight);
    const api::FileFacts f = p.File();
    if (eight) {  // the later record overwrites the three version bytes
      EXPECT_EQ(std::tie(f.version, f.minor, f.revision), std::make_tuple(8u, 1u, 2u));
      continue;
    }
    EXPECT_EQ(p.LastParse().rejectedVersion, v);
    EXPECT_EQ(MessageCapture::lastText,
              "Currently, MIRL Studio requires the UBROF object file version to be UBROF8 or "
              "earlier. See the 'Object files format and support' help section for more "
              "information.");
    EXPECT_EQ(MessageCapture::lastCaption, "MIRL Studio UBROF parser");
  }
}

TEST(FramingRecords, ReadAndDroppedOrCutShort) {
  ubrofw::Writer w;
  w.Start().SegInfo({}).SegInfo({{"CODE", 2}, {"", 0}, {"DATA", 1}});
  w.KeyValue("key", "value").KeyValue("", "").BegFile().BegPgm("after").End().Finish();
  Component ok;
  ASSERT_EQ(ok.Parse(w), S_OK);
  ASSERT_EQ(ok.Program().Modules().size(), 1u);
  EXPECT_EQ(ok.Program().Modules()[0].name, "after");
  const std::vector<api::KeyValue> pairs = ok.Program().KeyValues();
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(std::tie(pairs[0].key, pairs[0].value, pairs[1].key, pairs[1].value),
            std::make_tuple("key", "value", "", ""));

  const std::function<void(ubrofw::Writer&)> tails[] = {
      [](ubrofw::Writer& t) { t.Byte(0xC0).Zeros(4).Word(1).Zeros(5).Byte(4).Text("CO"); },
      [](ubrofw::Writer& t) { t.Byte(0xC9).Zeros(4).Long(1000).Text("abc"); },
      [](ubrofw::Writer& t) {
        t.Byte(0x01).Raw({0, 0, 0, 1, 1, 99}).Byte(10).Text("short");
      },
  };
  for (const auto& tail : tails) {
    ubrofw::Writer cut;
    cut.Start().BegPgm("kept").End();
    tail(cut);
    Component c;
    EXPECT_EQ(c.Parse(cut), PARSER_E_INVALID_FILE);
    ASSERT_EQ(c.Program().Modules().size(), 1u);
    EXPECT_EQ(c.Program().Modules()[0].name, "kept");
    EXPECT_EQ(c.Program().Count().keyValues, 0u);
  }
}

TEST(Modules, BeginRecordFillsTheModuleAndOpensItsScope) {
  ubrofw::Writer w;
  w.Start().Debug(1).Aux(2).Aux1(3, "0.5");                   // before any module: dropped
  w.Byte(0x01).Raw({7, 8, 9, 24, 12, 99}).ByteString("app");  // t_beg_pgm
  w.Debug(3).Aux(0x1234).Aux1(0x5678, "V2.10A").End();
  w.BegLib("?lib", 31, 2, 99).End();  // 31 February: no date
  w.Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  const api::Program p = c.Program();
  const std::vector<api::Module> m = p.Modules();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(std::tie(m[0].header[0], m[0].header[2], m[0].created, m[0].name),
            std::make_tuple(7, 9, kDec24_1999, "app"));
  EXPECT_EQ(std::tie(m[0].debug, m[0].aux, m[0].aux1, m[0].toolVersion),
            std::make_tuple(3, 0x1234, 0x5678, "V2.10A"));
  EXPECT_EQ(std::tie(m[1].created, m[1].debug, m[1].aux, m[1].aux1, m[1].hasToolVersion),
            std::make_tuple(0.0, 0, 0, 0, false));
  // "V2.10A" has no leading number; the dropped record's 0.5 still counts.
  EXPECT_EQ(p.File().compilerVersion, 0.5);

  ASSERT_EQ(p.Count().scopes, 2u);
  EXPECT_EQ(p.RootScopes(), (std::vector<uint32_t>{0, 1}));
  for (uint32_t i = 0; i < 2; ++i) {
    api::Scope s;
    ASSERT_TRUE(p.GetScope(i, &s));
    EXPECT_EQ(std::tie(s.kind, s.module, s.parent, s.hidden, m[i].scope),
              std::make_tuple(unsigned(api::kModule), i, api::kNoId, i == 1, i))  // "?lib" hidden
        << i;
  }
}

TEST(Modules, CompilerVersionIsTheLargestLeadingNumber) {
  const struct {
    std::vector<std::string> texts;
    double expected;
  } cases[] = {
      {{"1.5", "2.10A", "2.1"}, 2.1},
      {{"abc"}, 0.0},
      {{"3", "V9.9"}, 3.0},
      {{"1.75", "nan", "1.5"}, 1.75},  // not a number leaves the value
  };
  for (const auto& k : cases) {
    ubrofw::Writer w;
    w.Start();
    for (const std::string& t : k.texts) w.BegPgm("m").Aux1(0, t).End();
    w.Finish();
    Component c;
    ASSERT_EQ(c.Parse(w), S_OK);
    EXPECT_DOUBLE_EQ(c.Program().File().compilerVersion, k.expected);
  }
}

TEST(SegmentGroups, GroupRecordsGrowTheTableAndCollectDefinitions) {
  ubrofw::Writer w;
  w.Start().Grp(3).SymbolDef(1, 0, 0x10, "g3a", 0);          // groups 0..3
  w.Grp(1).SymbolDef(1, 0, 0x20, "g3b", 0).Macro("M", "1");  // to the last entry
  w.BegPgm("m").GrpRef(1).GrpRef(0xFFFF).SymbolDef(1, 0, 0x30, "mod", 0).End();
  w.GrpRef(0x4D4D);  // outside a scope: the word is read as two t_beg_file tags
  w.Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  const std::vector<api::SegmentGroup> g = c.Program().SegmentGroups();
  ASSERT_EQ(g.size(), 4u);
  EXPECT_EQ(g[3].symbols, (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(g[3].macros, (std::vector<uint32_t>{0}));
  EXPECT_TRUE(g[1].symbols.empty());
  api::Scope s;
  ASSERT_TRUE(c.Program().GetScope(0, &s));
  EXPECT_EQ(s.groupRefs, (std::vector<uint32_t>{1, 0xFFFF}));
  EXPECT_EQ(s.symbols, (std::vector<uint32_t>{2}));

  // In a group the reference reads nothing either: these bytes are no tag.
  ubrofw::Writer w2;
  w2.Start().Grp(0).GrpRef(0x7777).Finish();
  Component c2;
  EXPECT_EQ(c2.Parse(w2), PARSER_E_INVALID_FILE);
}
