// The type table, its records, type names and the type methods.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <tuple>

#include "Programs.h"
#include "TestSupport.h"

using namespace mirl;
using ubrofw::Writer;

namespace {

struct Info {
  HRESULT hr;
  std::string name;
  ULONG spec, size, elements, ptrSize;
  unsigned char memType;
};

// Outputs start at a marker so that a value the method leaves alone shows.
constexpr ULONG kMark = 0xABCD;

Info TypeInfo(Component& c, ULONG id) {
  Info i{0, "", kMark, kMark, kMark, kMark, 0x77};
  Bstr name("old");
  i.hr = c->GetTypeInfo(id, &name, &i.size, &i.spec, &i.elements, &i.memType, &i.ptrSize);
  i.name = name.str();
  return i;
}

struct Expect {
  ULONG id;
  const char* name;
  ULONG spec, size, elements;
  unsigned memType;
  ULONG ptrSize;
};

void CheckTypes(Component& c, const std::vector<Expect>& rows) {
  for (const Expect& e : rows) {
    Info i = TypeInfo(c, e.id);
    EXPECT_EQ(
        std::make_tuple(i.hr, i.name, i.spec, i.size, i.elements, unsigned(i.memType), i.ptrSize),
        std::make_tuple(S_OK, std::string(e.name), e.spec, e.size, e.elements, e.memType,
                        e.ptrSize))
        << "type id " << e.id;
  }
}

// How symbols of the given types behave: a symbol of function type is no
// variable of its module's entry, and one of i/o type lies in i/o memory.
struct Predicates {
  std::vector<bool> function, io;
};

Predicates TypePredicates(Writer w, const std::vector<uint16_t>& ids) {
  w.BegPgm("m");
  for (size_t i = 0; i < ids.size(); ++i)
    w.SymbolDef(1, 0, uint32_t(0x10 + i), "s" + std::to_string(i), ids[i]);
  Component c;
  Predicates out;
  EXPECT_EQ(c.Parse(w.End().Finish()), S_OK);
  // The module's variables: the symbols' dies follow the one scope's.
  const std::vector<LONG> dies = c.Dies(1, 0x34);
  for (size_t i = 0; i < ids.size(); ++i) {
    out.function.push_back(std::find(dies.begin(), dies.end(), LONG(2 + i)) == dies.end());
    unsigned char kind = 0, mem = 0;
    ULONG address = 0;
    c->GetSymbolLocation(ULONG(i), 0, &kind, &address, &mem);
    out.io.push_back(mem == 8);
  }
  return out;
}

}  // namespace

TEST(TypeTable, EveryKindHasItsNameAndAttributes) {
  Component c;
  ASSERT_EQ(c.Parse(testprograms::EveryKind().Finish()), S_OK);
  CheckTypes(c, {{100, "int const", 1, 2, 0, 2, 2},
                 {101, "int const *", 5, 2, 1, 2, 0},
                 {102, "int[3]", 6, 6, 3, 2, 0},
                 {103, "int[4][3]", 6, 24, 4, 2, 0},
                 {104, "struct point", 4, 4, 2, 2, 0},
                 {105, "union u", 4, 2, 2, 2, 0},
                 {106, "class Klass", 4, 8, 1, 2, 0},
                 {107, "bitfield 3:5", 12, 2, 0, 2, 3},
                 {108, "bitfield 7", 12, 1, 0, 2, 7},
                 {109, "(int) (char, int)", 7, 0, 0, 1, 0},
                 {110, "[interrupt] (void) ()", 7, 0, 0, 1, 0},
                 {111, "int register const volatile", 1, 2, 0, 2, 0},
                 {112, "unsigned char volatile", 2, 1, 0, 2, 2},
                 {113, "int *", 5, 2, 1, 2, 0},
                 {114, "long", 1, 4, 0, 4, 3},
                 {115, "enum color", 2, 1, 0, 2, 0},
                 {116, "enum Shade", 1, 2, 0, 2, 0},
                 {117, "Point_t", 4, 4, 2, 2, 0},
                 {118, "class Klass::int const *", 2, 2, 0, 2, 0},
                 {119, "int &", 1, 2, 0, 2, 0},
                 {121, "void *", 5, 2, 0, 2, 0},
                 {123, "long *", 5, 3, 0, 2, 0},
                 {124, "int *", 5, 0, 1, 2, 0},
                 {125, "int", 1, 2, 0, 1, 3},
                 {126, "int", 1, 2, 0, 1, 3},
                 {127, "int volatile restrict writeonly", 1, 2, 0, 1, 3},
                 {128, "int volatile", 1, 2, 0, 1, 3},
                 {129, "int *", 5, 3, 1, 2, 0},
                 {130, "int *", 5, 0, 1, 2, 0},
                 {131, "int[-2147483648]", 6, 0, 0x80000000u, 2, 0},
                 {134, "int", 1, 2, 0, 2, 0},
                 {135, "undefined_type", 0, 0, 0, 2, 0}});
  // A kind without meaning has an empty name and leaves the numbers alone.
  Info none = TypeInfo(c, 120);
  EXPECT_EQ(none.hr, S_OK);
  EXPECT_EQ(none.name, "");
  EXPECT_EQ(std::vector<ULONG>({none.spec, none.size, none.memType}),
            std::vector<ULONG>({kMark, kMark, 0x77}));
  // Memory types follow the attribute names.
  const std::vector<mirl::api::MemoryAttribute> attrs = c.Program().MemoryAttributes();
  ASSERT_EQ(attrs.size(), 3u);
  EXPECT_EQ(attrs[1].memType, 4);
  EXPECT_EQ(attrs[2].memType, 1);
  Predicates is = TypePredicates(testprograms::EveryKind(), {133, 101, 132, 128, 100});
  EXPECT_EQ(is.function, (std::vector<bool>{true, false, false, false, false}));
  EXPECT_EQ(is.io, (std::vector<bool>{true, false, true, true, false}));
}

TEST(TypeTable, SizeRecordsChangeBasicTypesAndPointerKinds) {
  Writer w = testprograms::EveryKind();
  w.SizeType(6, 4).SizeType(24, 3).SizeType(29, 2).SizeType(10, 8).SizeType(200, 5).DefPtrTypes();
  Component c;
  ASSERT_EQ(c.Parse(w.Finish()), S_OK);
  CheckTypes(c, {{6, "int", 1, 4, 0, 2, 0},
                 {10, "double", 3, 8, 0, 2, 0},
                 {24, "near *", 5, 3, 0, 2, 0},
                 {29, "undefined_type", 0, 0, 0, 2, 0},  // stays undefined
                 {113, "int *", 5, 3, 1, 2, 0},
                 {130, "int *", 5, 2, 1, 2, 0},
                 {102, "int[3]", 6, 6, 3, 2, 0},  // arrays keep their own size
                 {112, "unsigned char volatile", 2, 1, 0, 2, 3}});
  EXPECT_EQ(c.Program().Count().types, 136u);  // a size beyond the table adds nothing
}

TEST(TypeTable, RecordsGrowAndReplaceEntries) {
  Writer w;
  w.Start()
      .TypeStruct17(300, "first", 2, {{0, "a", 6}})
      .TypeStruct17(301, "empty", 0, {})
      .TypeStruct17(302, "second", 4, {{0, "b", 6}, {2, "c", 2}})
      .TypeComposite52(303, kNone, 1, 0, 0x80000000u, {})
      .TypeStruct17(300, "again", 1, {{0, "d", 2}})  // replaces the first
      .TypeHead(6, 44)
      .Word(2)
      .ByteString("e")
      .Long(0xFFFFFFFFu)  // a negative enumerator count: nothing follows
      .TypeFunction35(304, 6, 0, 9, {1, 2, 3})
      .TypeAttributed(305, 1, 6, 0, {0x4A, 0x4A, 0x4A}, 43)  // skipped bytes look like tags
      .TypeHead(306, 200)                                    // unknown kind, no body
      .MemInfo(3, 4, 0x10, "flash");
  Component c;
  ASSERT_EQ(c.Parse(w.Finish()), S_OK);
  const mirl::api::Program prog = c.Program();
  ASSERT_EQ(prog.Count().types, 307u);
  auto type = [&](uint32_t id) {
    mirl::api::Type t;
    EXPECT_TRUE(prog.GetType(id, &t)) << id;
    return t;
  };
  for (uint32_t id = 100; id < 300; ++id) EXPECT_EQ(type(id).kind, 0u);
  // A replaced record's members come after the old ones: 300 starts at 3.
  EXPECT_EQ(std::vector<uint32_t>({type(300).words[4], type(301).words[3], type(301).words[4],
                                   type(302).words[4], type(303).words[3], type(303).words[4]}),
            std::vector<uint32_t>({3, 0, 1, 1, 0x80000000u, 3}));
  EXPECT_EQ(prog.Count().members, 4u);
  EXPECT_EQ(std::make_tuple(type(6).kind, type(6).words[2]), std::make_tuple(44u, 0xFFFFFFFFu));
  EXPECT_TRUE(prog.Enumerators(6).empty());
  EXPECT_EQ(std::make_tuple(type(304).words[2], type(304).words[3]), std::make_tuple(9u, 3u));
  EXPECT_EQ(prog.Parameters(304), (std::vector<uint32_t>{1, 2, 3}));
  EXPECT_EQ(type(305).words[1], 6u);
  EXPECT_EQ(type(306).kind, 200u);
  // Names go to the name table in file order, the type's own name first:
  // "first", "a", "empty", "second", "b", "c", "again" (6), "d", "e".
  EXPECT_EQ(prog.Count().names, 9u);
  EXPECT_EQ(type(300).words[0], 6u);
  EXPECT_EQ(type(300).name, "struct again");
  std::vector<mirl::api::Member> second = prog.Members(302);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[1].name, "c");
  EXPECT_EQ(type(6).name, "enum e");
  // Attributes before the one described are padding.
  const std::vector<mirl::api::MemoryAttribute> attrs = prog.MemoryAttributes();
  ASSERT_EQ(attrs.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(attrs[i].pointerSize, 0);
    EXPECT_EQ(attrs[i].memType, 0);
  }
  EXPECT_EQ(std::make_tuple(int(attrs[3].pointerSize), attrs[3].flags, int(attrs[3].memType),
                            attrs[3].name),
            std::make_tuple(4, 0x10u, 1, std::string("flash")));
}

TEST(TypeTable, PointerKindFromFlags) {
  // Unknown memory codes fall back to kind 23.
  const uint32_t cases[][2] = {{0x110, 23},  {0x180, 30}, {0x210, 31}, {0x240, 34},
                               {0x8257, 37}, {0x280, 40}, {0x000, 23}, {0x100, 23},
                               {0x190, 23},  {0x200, 23}, {0x290, 23}, {0xFF0, 23}};
  for (const auto& k : cases) EXPECT_EQ(TypeTable::PointerKindFromFlags(k[0]), k[1]) << k[0];
}

TEST(TypeMethods, CyclicTypeGraphsAnswerPromptly) {
  Writer w;
  w.Start()
      .MemInfo(0, 2, 0x08, "io")
      .TypePointer(100, 100)
      .TypeQualified36(101, 0x02, 102)
      .TypeAttributed(102, 0, 101, 0x01)
      .TypeArray16(103, 104, 2, 2)
      .TypeArray41(104, 103, 2, 3)
      .TypeTypedef(105, 105, kNone)
      .TypePtrToMember(106, 106, 106)
      .TypeQualified21(107, 0x02, 107)
      .TypeAttributed(108, 0, 108, 0, {}, 43)
      .TypePointer(109, 109, 53)
      .TypeEnum44(110, 110, "loop", {});
  std::vector<uint16_t> params(255, 111);
  w.TypeFunction20(111, 111, 0, params).TypeFunction35(112, 111, 0, 0, params);
  w.TypeStruct17(113, std::string(255, 's'), 1, {});
  w.TypeFunction20(114, 113, 0, std::vector<uint16_t>(255, 113));
  Component c;
  ASSERT_EQ(c.Parse(Writer(w).Finish()), S_OK);
  auto start = std::chrono::steady_clock::now();
  for (ULONG id = 100; id <= 114; ++id) {
    Info i = TypeInfo(c, id);
    EXPECT_EQ(i.hr, S_OK) << id;
    EXPECT_LE(i.name.size(), kMaxNameLength) << id;
    ULONG out, mem;
    Bstr name("x");
    HRESULT hr = c->GetRefferedType(id, &out, &mem);
    EXPECT_TRUE(hr == S_OK || hr == E_FAIL) << id;
    EXPECT_EQ(c->GetStructuralMember(id, &name, 0xFFFFFFFF, &out, &mem), E_FAIL) << id;
  }
  std::vector<uint16_t> ids;
  for (uint16_t id = 100; id <= 114; ++id) ids.push_back(id);
  Predicates is = TypePredicates(w, ids);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(TypeInfo(c, 114).name.size(), kMaxNameLength);  // long names are cut
  EXPECT_EQ(TypeInfo(c, 114).name.substr(0, 9), "(struct s");
  EXPECT_EQ(TypeInfo(c, 100).name.substr(0, 4), " * *");
  EXPECT_EQ(TypeInfo(c, 103).name.substr(0, 9), "[2][3][2]");
  ASSERT_EQ(is.function.size(), ids.size());
  EXPECT_TRUE(is.function[111 - 100]);
  EXPECT_FALSE(is.function[101 - 100]);
}

// GetRefferedType and GetStructuralMember look through typedefs and
// qualifiers: to what a pointer, array or bit field refers (and in which
// memory), and to a structure's members by index or by name.
TEST(TypeMethods, ReferredTypesAndMembersLookThroughTypedefsAndQualifiers) {
  Writer w = testprograms::EveryKind();
  w.TypeTypedef(136, 101, kNone).TypePointer(137, 6, 31).TypeQualified36(138, 0x02, 117);
  Component c;
  ASSERT_EQ(c.Parse(w.Finish()), S_OK);
  const struct {
    ULONG id;
    HRESULT hr;
    ULONG type, mem;
  } referred[] = {{101, S_OK, 100, kMemData},
                  {136, S_OK, 100, kMemData},
                  {102, S_OK, 6, kMemData},
                  {103, S_OK, 102, kMemData},
                  {113, S_OK, 6, kMemData},
                  {137, S_OK, 6, kMemProgram},
                  {129, S_OK, 6, kMemProgram},
                  {130, S_OK, 6, kMemData},
                  {107, S_OK, 5, kMemData},
                  {104, E_FAIL, kMark, kMark},
                  {117, E_FAIL, kMark, kMark},
                  {111, E_FAIL, kMark, kMark},
                  {119, E_FAIL, kMark, kMark},
                  {118, E_FAIL, kMark, kMark},
                  {139, PARSER_E_BAD_ID, kMark, kMark}};
  for (const auto& r : referred) {
    ULONG type = kMark, mem = kMark;
    HRESULT hr = c->GetRefferedType(r.id, &type, &mem);
    EXPECT_EQ(std::make_tuple(hr, type, mem), std::make_tuple(r.hr, r.type, r.mem)) << r.id;
  }
  const struct {
    ULONG id, index;
    const char* name;  // asked for when index is 0xFFFFFFFF, told otherwise
    HRESULT hr;
    ULONG type, offset;
  } members[] = {{104, 1, "y", S_OK, 6, 2},
                 {117, 0, "x", S_OK, 6, 0},
                 {138, kNone, "y", S_OK, 6, 2},
                 {104, kNone, "x", S_OK, 6, 0},
                 {105, kNone, "b", S_OK, 2, 0},
                 {104, kNone, "xx", E_FAIL, kMark, kMark},
                 {104, kNone, "", E_FAIL, kMark, kMark},
                 {104, 2, "", E_FAIL, kMark, kMark},
                 {102, 0, "", E_FAIL, kMark, kMark}};
  for (const auto& m : members) {
    Bstr name(m.index == kNone ? m.name : "");
    ULONG type = kMark, offset = kMark;
    HRESULT hr = c->GetStructuralMember(m.id, &name, m.index, &type, &offset);
    EXPECT_EQ(std::make_tuple(hr, type, offset, m.index == kNone ? m.name : name.str()),
              std::make_tuple(m.hr, m.type, m.offset, std::string(m.name)))
        << m.id << "." << m.index;
  }
}
