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
