// What the read API lists beyond the interfaces: written memory runs, the
// end of a failed parse, owners of symbols, statements and labels, read
// through any interface pointer of the component.
#include <gtest/gtest.h>

#include "TestSupport.h"

using namespace mirl::api;
using testsupport::Component;

namespace {

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

}  // namespace
