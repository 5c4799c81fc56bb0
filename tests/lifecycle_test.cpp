// The parse lifecycle: states, status codes and the general information.
#include <gtest/gtest.h>

#include "TestSupport.h"

using testsupport::Bstr;
using testsupport::Component;

TEST(Lifecycle, TargetInfoIsNotImplementedAfterAParse) {
  Component c;
  Bstr name("old");
  ULONG core = 5, model = 6;
  EXPECT_EQ(c->GetTargetInfo(&name, &core, nullptr), E_POINTER);
  EXPECT_EQ(c->GetTargetInfo(&name, &core, &model), PARSER_E_NOT_PARSED);
  ubrofw::Writer w;
  w.Start().Finish();
  ASSERT_EQ(c.Parse(w), S_OK);
  EXPECT_EQ(c->GetTargetInfo(&name, &core, &model), E_NOTIMPL);
  EXPECT_TRUE(name.null());
  EXPECT_EQ(core + model, 0u);
}
