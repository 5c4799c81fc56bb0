// The name table and t_scoped_name.
#include <gtest/gtest.h>

#include "TestSupport.h"

using namespace mirl;
using testsupport::Component;

TEST(NameTable, TextsByKindAndLinksThatNeverEnd) {
  NameTable t;
  const std::string longName(5000, 'x');
  const struct {
    uint32_t sub;
    const char* text;
    uint32_t number, link;
    std::string expected;
  } cases[] = {
      {0, "main", 0, kNone, "main"},             // 0 plain
      {kSubFunction, nullptr, 1, 0, "main"},     // 1 function named by 0
      {kSubFunction, nullptr, 2, 1, "main"},     // 2 a chain of links
      {kSubBlock, nullptr, 7, kNone, "block7"},  // 3
      {kSubBlock, "inner", 7, kNone, "inner"},   // 4 a block's own text wins
      {9, "ignored", 0, kNone, ""},              // 5 unknown sub-kind
      {kSubFunction, nullptr, 0, 7, ""},         // 6 <-> 7: a cycle terminates
      {kSubFunction, nullptr, 0, 6, ""},         // 7
      {kSubFunction, nullptr, 0, 8, ""},         // 8 links to itself
      {kSubFunction, nullptr, 0, 12345, ""},     // 9 dangling
      {0, longName.c_str(), 0, kNone, std::string(kMaxNameLength, 'x')},  // 10 cut
  };
  for (const auto& k : cases)
    t.AddName(k.sub == 0 ? kNamePlain : kNameScope, k.sub, k.text, k.number, k.link);
  for (uint32_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(t.GetName(i), cases[i].expected) << i;
  EXPECT_EQ(t.GetName(kNone), "");
  EXPECT_EQ(t.GetName(t.Count()), "");  // outside the table
}

TEST(ScopedName, FormsAppendEntriesAndACutRecordKeepsEarlierOnes) {
  // Symbols named by index show each entry's text.
  ubrofw::Writer w;
  w.Start()
      .ScopedName1("func", kNone)  // 0
      .ScopedName2(0, 0x1234)      // 1: named by entry 0
      .ScopedName3(1, 7)           // 2: block 7 inside it
      .ScopedNameForm(4)           // unknown form: nothing but the form byte
      .ScopedName1("", 2)          // 3: empty text; its own text wins over the link
      .BegPgm("m");
  for (uint32_t i = 0; i < 4; ++i) w.SymbolDef2(1, 0, i, i, 0);
  w.End().Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  EXPECT_EQ(c.Program().Count().names, 4u);
  std::vector<std::string> names;
  for (const api::Symbol& s : c.Program().Symbols()) names.push_back(s.name);
  EXPECT_EQ(names, (std::vector<std::string>{"func", "func", "block7", ""}));

  ubrofw::Writer cut;
  cut.Start().ScopedName1("kept", kNone).BegPgm("m").SymbolDef2(1, 0, 0, 0, 0);
  cut.Byte(0xCD).Zeros(4).Byte(1).Long(10).Text("short");
  Component d;
  EXPECT_EQ(d.Parse(cut), PARSER_E_INVALID_FILE);
  EXPECT_EQ(d.Program().Count().names, 1u);
  EXPECT_EQ(d.Program().Symbols().at(0).name, "kept");
}
