// The name table and t_scoped_name.
#include <gtest/gtest.h>

#include "TestSupport.h"

using namespace mirl;
using testsupport::Component;

TEST(NameTable, TextsByKind) {
  NameTable t;
  EXPECT_EQ(t.GetName(kNone), "");
  uint32_t plain = t.AddName(kNamePlain, 0, "main", 0, kNone);
  uint32_t fn = t.AddName(kNameScope, kSubFunction, nullptr, 1, plain);
  uint32_t fn2 = t.AddName(kNameScope, kSubFunction, nullptr, 2, fn);  // chain of links
  uint32_t block = t.AddName(kNameScope, kSubBlock, nullptr, 7, kNone);
  uint32_t named = t.AddName(kNameScope, kSubBlock, "inner", 7, kNone);
  uint32_t odd = t.AddName(kNameScope, 9, "ignored", 0, kNone);
  EXPECT_EQ(t.GetName(plain), "main");
  EXPECT_EQ(t.GetName(fn), "main");
  EXPECT_EQ(t.GetName(fn2), "main");
  EXPECT_EQ(t.GetName(block), "block7");
  EXPECT_EQ(t.GetName(named), "inner");
  EXPECT_EQ(t.GetName(odd), "");
  EXPECT_EQ(t.GetName(t.Count()), "");  // outside the table
}

TEST(NameTable, LinkCyclesAndDanglingLinksTerminate) {
  NameTable t;
  // Entry 0 links to 1, entry 1 links back to 0: neither has text.
  t.AddName(kNameScope, kSubFunction, nullptr, 0, 1);
  t.AddName(kNameScope, kSubFunction, nullptr, 0, 0);
  uint32_t self = t.AddName(kNameScope, kSubFunction, nullptr, 0, 2);
  uint32_t dangling = t.AddName(kNameScope, kSubFunction, nullptr, 0, 12345);
  EXPECT_EQ(t.GetName(0), "");
  EXPECT_EQ(t.GetName(self), "");
  EXPECT_EQ(t.GetName(dangling), "");
}

TEST(NameTable, LongNamesAreCut) {
  NameTable t;
  std::string longName(5000, 'x');
  uint32_t i = t.AddName(kNamePlain, 0, longName.c_str(), 0, kNone);
  EXPECT_EQ(t.GetName(i).size(), kMaxNameLength);
}

TEST(ScopedName, FormsAppendEntries) {
  ubrofw::Writer w;
  w.Start()
      .ScopedName1("func", kNone)  // 0
      .ScopedName2(0, 0x1234)      // 1: named by entry 0
      .ScopedName3(1, 7)           // 2: block 7 inside it
      .ScopedNameForm(4)           // unknown form: nothing but the form byte
      .ScopedName1("", 2)          // 3: empty text
      .Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  const NameTable& t = c->m_NameTable;
  ASSERT_EQ(t.Count(), 4u);
  EXPECT_EQ(t.Entry(0)->Kind, uint32_t(kNamePlain));
  EXPECT_EQ(t.Entry(0)->Link, kNone);
  EXPECT_EQ(t.Entry(1)->Kind, uint32_t(kNameScope));
  EXPECT_EQ(t.Entry(1)->SubKind, uint32_t(kSubFunction));
  EXPECT_EQ(t.Entry(1)->Number, 0x1234u);
  EXPECT_FALSE(t.Entry(1)->HasText);
  EXPECT_EQ(t.GetName(1), "func");
  EXPECT_EQ(t.Entry(2)->SubKind, uint32_t(kSubBlock));
  EXPECT_EQ(t.GetName(2), "block7");
  EXPECT_EQ(t.Entry(3)->Link, 2u);
  EXPECT_EQ(t.GetName(3), "");
}

TEST(ScopedName, CutShortRecordFailsButKeepsEarlierNames) {
  ubrofw::Writer w;
  w.Start().ScopedName1("kept", kNone);
  w.Byte(0xCD).Zeros(4).Byte(1).Long(10).Text("short");
  Component c;
  EXPECT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
  EXPECT_EQ(c->m_NameTable.Count(), 1u);
  EXPECT_EQ(c->m_NameTable.GetName(0), "kept");
}
