// What a host is told before it may ask: the lifecycle of a parse, and the
// order in which every method that needs a parsed file checks what it is
// given (its out-pointers, then the parse, then the id).
#include <gtest/gtest.h>

#include "QueryDriver.h"
#include "TestSupport.h"

using querydriver::GatedCall;

TEST(HostContract, OneParsePerInitAndAFailedParseMayBeRetried) {
  const std::string example = std::string(MIRL_EXAMPLES_DIR) + "/example.d90";
  Component c;
  Bstr path(example), missing("/nonexistent/x.d90");
  EXPECT_EQ(c->ParseObjectFile(&path, 0), PARSER_E_NOT_INITIALIZED);
  EXPECT_EQ(c->ParseObjectFile(nullptr, 0), E_POINTER);
  ASSERT_EQ(c->Init(0), S_OK);
  // A file that is not there cannot be opened, but is no valid object file either.
  EXPECT_EQ(c->ValidateObjectFile(&missing), PARSER_E_CANNOT_OPEN);
  EXPECT_EQ(c->ParseObjectFile(&missing, 0), PARSER_E_INVALID_FILE);
  EXPECT_EQ(c->ParseObjectFile(&path, 0), S_OK);
  EXPECT_EQ(c->ParseObjectFile(&path, 0), PARSER_E_ALREADY_PARSED);
}

TEST(HostContract, PointersThenParseThenIds) {
  Component c;
  querydriver::Ask x{c.Itf(), c.Mem()};
  auto both = [&](const GatedCall& g, ULONG id) {
    return std::make_pair(g(x, id), g(x, id, true));
  };
  for (const GatedCall& g : querydriver::GatedCalls())
    EXPECT_EQ(both(g, 0), std::make_pair(PARSER_E_NOT_PARSED, E_POINTER)) << g.name;
  // A failed parse leaves the component unparsed.
  Bstr missing("/nonexistent/x.d90");
  ASSERT_EQ(c->Init(0), S_OK);
  ASSERT_NE(c->ParseObjectFile(&missing, 0), S_OK);
  for (const GatedCall& g : querydriver::GatedCalls())
    EXPECT_EQ(both(g, 0), std::make_pair(PARSER_E_NOT_PARSED, E_POINTER)) << g.name;

  // Parsed: the example has an entry 0 in every table.
  ASSERT_EQ(c.ParsePath(std::string(MIRL_EXAMPLES_DIR) + "/example.d90"), S_OK);
  for (const GatedCall& g : querydriver::GatedCalls()) {
    auto [answer, null] = both(g, 0);
    EXPECT_EQ(null, E_POINTER) << g.name;
    EXPECT_TRUE(answer != E_POINTER && answer != PARSER_E_NOT_PARSED) << g.name;
    if (g.takesId) {
      EXPECT_NE(answer, PARSER_E_BAD_ID) << g.name;
      EXPECT_EQ(both(g, 0x7FFFFFF0).first, PARSER_E_BAD_ID) << g.name;
    }
  }
}
