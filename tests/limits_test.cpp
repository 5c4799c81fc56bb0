// The limits that keep a damaged or hostile file from exhausting the host:
// entries that tables gain only from an index in the file, the link and
// depth limits of name and type walks, and lookups that must stay linear in
// the size of the file however its records repeat.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "../platform/Paths.h"
#include "TestSupport.h"

using namespace mirl;

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// After a parse that a limit ended, the component still answers.
void ExpectUsableAfterFailure(Component& c) {
  DATE d = 0;
  EXPECT_EQ(c->GetTimeOfBuild(&d), PARSER_E_NOT_PARSED);
  c.Dies(0, 0);
  ULONG exitAddress = 0;
  EXPECT_EQ(c.Mem()->GetProgramExit(&exitAddress), E_FAIL);
}

}  // namespace

TEST(IndexedEntries, AFewBytesCannotMakeTheTablesLarge) {
  // One group number of 65535 is within the allowance; a type id of 65535
  // after it asks for 65436 more empty entries than a 40-byte file pays for.
  ubrofw::Writer w;
  w.Start().Grp(65535).TypeHead(65535, 0).Finish();
  Component c;
  EXPECT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
  const api::Counts n = c.Program().Count();
  EXPECT_EQ(c.Program().LastParse().message, kErrOutOfMemory);
  EXPECT_EQ(c.Program().LastParse().tagName, "t_type");
  EXPECT_EQ(n.segmentGroups, 65536u);
  EXPECT_EQ(n.types, kInitialTypeCount);  // not grown
  ExpectUsableAfterFailure(c);

  // Every module has a list of file references of its own: the limit counts
  // them together, so 64 modules cannot each claim 65536 entries.
  ubrofw::Writer m;
  m.Start();
  for (int i = 0; i < 64; ++i) m.BegLib("m" + std::to_string(i)).FileRef(0xFFFF, "a.c").End();
  m.Finish();
  Component cm;
  EXPECT_EQ(cm.Parse(m), PARSER_E_INVALID_FILE);
  EXPECT_EQ(cm.Program().LastParse().tagName, "t_file_ref");
  api::Scope s0, s1;
  ASSERT_EQ(cm.Program().Count().scopes, 2u);
  ASSERT_TRUE(cm.Program().GetScope(0, &s0) && cm.Program().GetScope(1, &s1));
  EXPECT_EQ(s0.fileRefs.size(), 65536u);
  EXPECT_TRUE(s1.fileRefs.empty());
  ExpectUsableAfterFailure(cm);
}

TEST(IndexedEntries, TheAllowanceGrowsWithTheFile) {
  // Two modules with reference number 65535 need 131072 entries: too many
  // for a small file, within the limit once the file has 70000 more bytes.
  for (size_t filler : {size_t(0), size_t(70000)}) {
    ubrofw::Writer w;
    w.Start().KeyValue("pad", std::string(filler, 'p'));
    w.BegLib("a").FileRef(0xFFFF, "a.c").End().BegLib("b").FileRef(0xFFFF, "b.c").End();
    w.Finish();
    Component c;
    EXPECT_EQ(c.Parse(w), filler ? S_OK : PARSER_E_INVALID_FILE) << filler;
  }

  // What real files do stays well inside it: groups, memory attributes up to
  // 255, type ids up to 65535, each module's own references.
  ubrofw::Writer r;
  r.Start().Grp(3).MemInfo(255, 2, 0, "data").TypeHead(65535, 0);
  for (int i = 0; i < 20; ++i) {
    r.BegLib("m" + std::to_string(i));
    for (uint16_t ref = 0; ref < 8; ++ref) r.FileRef(ref, "f" + std::to_string(ref) + ".c");
    r.End();
  }
  r.Finish();
  Component c;
  ASSERT_EQ(c.Parse(r), S_OK);
  EXPECT_EQ(c.Program().Count().memoryAttributes, 256u);
  EXPECT_EQ(c.Program().Count().types, 65536u);
  api::Scope s;
  ASSERT_TRUE(c.Program().GetScope(19, &s));
  EXPECT_EQ(s.fileRefs.size(), 8u);
}

TEST(WalkLimits, FunctionNameLinksAreFollowedAtMostSixtyFourTimes) {
  NameTable t;
  uint32_t text = t.AddName(kNamePlain, kSubNone, "main", 0, kNone);
  // Entry k + 1 links to entry k: name k + 1 needs k + 1 links.
  uint32_t last = text;
  for (unsigned k = 0; k < kMaxNameLinks + 1; ++k)
    last = t.AddName(kNameScope, kSubFunction, nullptr, 0, last);
  EXPECT_EQ(t.GetName(text + kMaxNameLinks), "main");
  EXPECT_EQ(t.GetName(text + kMaxNameLinks + 1), "");
  EXPECT_EQ(last, text + kMaxNameLinks + 1);

  // The same through a file: a scope named at the end of a long chain.
  ubrofw::Writer w;
  w.Start().BegLib("m").ScopedName1("f", kNone);
  for (uint32_t k = 0; k < 100; ++k) w.ScopedName2(k, 0);
  w.BlockBegin3(kMaxNameLinks).BlockEnd().BlockBegin3(kMaxNameLinks + 1).BlockEnd();
  w.End().Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  Bstr name, full;
  ULONG type, start, size, first;
  ASSERT_EQ(c->GetScopeInfo(1, &name, &full, &type, &start, &size, &first), S_OK);
  EXPECT_EQ(name.str(), "f");
  ASSERT_EQ(c->GetScopeInfo(2, &name, &full, &type, &start, &size, &first), S_OK);
  EXPECT_EQ(name.str(), "");
}

TEST(WalkLimits, TypeWalksStopAtTheDepthLimit) {
  // Qualifiers around a function type: found within the depth limit, not
  // beyond it, and a qualifier that qualifies itself ends the walk.
  NameTable names;
  TypeTable t(&names);
  t.SetType(100, TypeRecord{kKindFunction});
  for (uint32_t id = 101; id < 101 + kMaxTypeDepth + 1; ++id)
    t.SetType(id, TypeRecord{kKindQualified, 0, id - 1});
  EXPECT_TRUE(t.IsFunctionType(100 + kMaxTypeDepth));
  EXPECT_FALSE(t.IsFunctionType(101 + kMaxTypeDepth));
  t.SetType(300, TypeRecord{kKindQualifiedEx, 0, 300});
  EXPECT_FALSE(t.IsFunctionType(300));
  t.SetType(65535, TypeRecord());
  // A cycle costs the depth limit, not the size of the table: the entry
  // view asks this for every symbol it lists.
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20000; ++i) EXPECT_FALSE(t.IsFunctionType(300));
  EXPECT_LT(SecondsSince(start), 5.0);
}

TEST(LinearLookups, RepeatedGroupReferencesAreSearchedOnce) {
  // 3000 symbols in one group, referred to 20000 times by one scope and once
  // by each of 500 nested blocks. A lookup that searched the group at each
  // reference would compare names some 70 million times.
  ubrofw::Writer w;
  w.Start().Grp(0);
  for (int i = 0; i < 3000; ++i) w.SymbolDef(1, 2, uint32_t(i), "s" + std::to_string(i), 6);
  w.BegLib("m");
  for (int i = 0; i < 20000; ++i) w.GrpRef(0);
  for (int i = 0; i < 500; ++i) w.BlockBegin1().GrpRef(0);
  w.SymbolDef(1, 2, 0x7000, "inner", 6);
  for (int i = 0; i < 500; ++i) w.BlockEnd();
  w.End().Finish();
  Component c;
  ASSERT_EQ(c.Parse(w), S_OK);
  ULONG innermost = c.Program().Count().scopes - 1;

  auto start = std::chrono::steady_clock::now();
  for (ULONG scope : {ULONG(0), innermost}) {
    for (ULONG flags : {0u, 1u}) {
      Bstr missing("nowhere"), found("s2999");
      ULONG id = 0, where = 0;
      EXPECT_EQ(c->LookupSymbolName(&missing, scope, flags, &id, &where), E_FAIL);
      ASSERT_EQ(c->LookupSymbolName(&found, scope, flags, &id, &where), S_OK);
      EXPECT_EQ(id, 2999u);
    }
    LONG die = 1;
    EXPECT_EQ(c.P3()->LookupDie(LONG(scope + 1), Bstr("nowhere").get(), 0x34, &die), S_OK);
    EXPECT_EQ(die, 0);
  }
  // The innermost block finds its own symbol, and the group's from inside.
  Bstr inner("inner"), grouped("s5");
  ULONG id = 0, where = 0;
  ASSERT_EQ(c->LookupSymbolName(&inner, innermost, 0, &id, &where), S_OK);
  EXPECT_EQ(where, innermost);
  ASSERT_EQ(c->LookupSymbolName(&grouped, innermost, 0, &id, &where), S_OK);
  EXPECT_EQ(id, 5u);
  EXPECT_EQ(where, innermost);
  EXPECT_LT(SecondsSince(start), 5.0);
}

TEST(LinearLookups, SkipInformationIsLookedUpNotSearched) {
  // 400 version records of 255 pairs each, then 99997 unknown records of
  // length 0: a search through every pair per record would take some ten
  // thousand million steps.
  ubrofw::Writer w;
  w.Start();
  std::vector<std::pair<uint8_t, uint8_t>> pairs;
  for (int i = 0; i < 255; ++i) pairs.emplace_back(uint8_t(0x60), uint8_t(0x01));
  for (int i = 0; i < 400; ++i) w.Version(8, 0, 2, pairs);
  // The first pair for a code decides: read as 5 bytes long, the records
  // below would run past the end of the file.
  w.Version(8, 0, 2, {{0x99, 0x00}, {0x99, 0x05}});
  for (int i = 0; i < 99997; ++i) w.Byte(0x99);
  w.Byte(0x60).Byte(0x11).Finish();
  Component c;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(c.Parse(w), S_OK);
  EXPECT_LT(SecondsSince(start), 5.0);
}

TEST(Extraction, WhateverTheStoredNameFilesStayInTheExtractionFolder) {
  namespace fs = std::filesystem;
  std::string outer = testsupport::UniquePath("hostile", "");
  std::string folder = (fs::path(outer) / "obj").string();
  fs::create_directories(folder);
  std::string object = (fs::path(folder) / "prog.d90").string();

  const std::string names[] = {std::string("a\0/../../evil1.c", 16),  // ends at its zero byte
                               "\\", "/", "C:", ":", "", ".", "...", "..\\..\\", "../..", "x/.",
                               "..\\.c", std::string(250, 'L') + ".c",  // too long once renamed
                               "line\nbreak.c", "tab\tand space .c", "\x7F\x01\xFF.c",
                               "C:..\\..\\evil2.c", "\\\\?\\C:\\evil3.c", "con", "emb:stream.c",
                               "../../evil4.c", "..", "../", "\\\\srv\\share\\evil5.c",
                               // only the last component names the file
                               "D:\\x\\..\\..\\evil6.c", "a/b\\c/..\\evil7.h"};
  ubrofw::Writer w;
  w.Start().BegLib("m");
  for (const std::string& n : names) w.File(n, {"text"});
  w.End().Finish();
  Component c;
  ASSERT_TRUE(w.Save(object));
  ASSERT_EQ(c.ParsePath(object), S_OK);

  // Every record names a file directly inside embedded_source of the
  // object file's folder...
  std::string extraction =
      (fs::path(folder) / "embedded_source").string() + platform::NativeSeparator();
  const std::vector<api::SourceFile> files = c.Program().SourceFiles();
  for (const api::SourceFile& f : files) {
    ASSERT_EQ(f.path.compare(0, extraction.size(), extraction), 0) << f.path;
    EXPECT_EQ(f.path.find_first_of("/\\", extraction.size()), std::string::npos) << f.path;
    EXPECT_NE(f.path.substr(extraction.size()), "..") << f.path;
  }
  EXPECT_EQ(files[0].path, extraction + "a_emb");
  EXPECT_EQ(files.rbegin()[1].path, extraction + "evil6_emb.c");
  EXPECT_EQ(files.rbegin()[0].path, extraction + "evil7_emb.h");
  // ... and nothing was written anywhere else.
  std::set<std::string> written;
  for (const auto& e : fs::recursive_directory_iterator(outer))
    written.insert(fs::relative(e.path(), outer).generic_string());
  for (const std::string& p : written) {
    EXPECT_TRUE(p == "obj" || p == "obj/prog.d90" || p == "obj/embedded_source" ||
                p.rfind("obj/embedded_source/", 0) == 0)
        << p;
    EXPECT_EQ(p.find('/', sizeof "obj/embedded_source"), std::string::npos) << p;
  }
  EXPECT_TRUE(written.count("obj/embedded_source/a_emb"));
  EXPECT_FALSE(written.count("obj/embedded_source/" + std::string(250, 'L') + "_emb.c"));
}

TEST(Extraction, AtMostSoManyEmbeddedSourcesAreWritten) {
  namespace fs = std::filesystem;
  std::string folder = testsupport::UniquePath("many", "");
  fs::create_directories(folder);
  std::string object = (fs::path(folder) / "prog.d90").string();
  ubrofw::Writer w;
  w.Start().BegLib("m");
  for (uint32_t i = 0; i < kMaxExtractedSources + 4; ++i) w.File("x.c", {});
  w.File("last.c", {"int last;"}).SrcStat(1, 1, 1, 9).End().Finish();
  ASSERT_TRUE(w.Save(object));
  Component c;
  ASSERT_EQ(c.ParsePath(object), S_OK);
  // Every record is registered and the statements still name their file...
  const std::vector<api::SourceFile> files = c.Program().SourceFiles();
  ASSERT_EQ(files.size(), size_t(kMaxExtractedSources) + 5);
  EXPECT_EQ(c.Program().StatementRuns().back().file, kMaxExtractedSources + 4);
  // ... but only the first kMaxExtractedSources were written.
  fs::directory_iterator written(fs::path(folder) / "embedded_source");
  EXPECT_EQ(std::distance(written, fs::directory_iterator()), long(kMaxExtractedSources));
  // Repeated names are numbered in base 9: the ninth repeat is x_emb10.c.
  for (const char* name : {"x_emb.c", "x_emb8.c", "x_emb10.c"})
    EXPECT_TRUE(fs::exists(fs::path(folder) / "embedded_source" / name)) << name;
  EXPECT_FALSE(fs::exists(files.back().path));
}

TEST(TableSize, TablesTakeAtMostThirtyTwoBytesPerByteOfFile) {
  // Nested empty blocks are the shortest records that each make a scope and
  // a name: about 77 bytes of tables per byte of file (48 in a 32-bit build,
  // whose records are smaller). Two megabytes of them pass the limit (eight
  // in a 32-bit build); the parse fails before the tables reach it.
  const uint64_t fileSize = sizeof(void*) == 8 ? 2u << 20 : 8u << 20;
  ubrofw::Writer w;
  w.Start().BegLib("m");
  while (w.Size() < fileSize) w.BlockBegin1();
  w.Finish();
  Component c;
  EXPECT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
  EXPECT_EQ(c.Program().LastParse().message, kErrOutOfMemory);
  EXPECT_EQ(c.Program().LastParse().tagName, "t_block_begin1");
  // It stopped at the block whose scope and name passed the limit.
  uint64_t limit = fileSize * kTableBytesPerFileByte + kTableAllowance;
  EXPECT_NEAR(double(c.Program().Count().scopes),
              double(limit) / (sizeof(ScopeRecord) + sizeof(NameEntry)), 20.0);
  ExpectUsableAfterFailure(c);

  // The same blocks with the statements and code a compiler gives them stay
  // far below it.
  ubrofw::Writer real;
  real.Start().BegLib("m").Org(1, 0);
  while (real.Size() < fileSize / 4)
    real.BlockBegin1().SrcStat(1, 1, 1, 2).AbsVar({1, 2}).BlockEnd();
  real.End().Finish();
  Component c2;
  EXPECT_EQ(c2.Parse(real), S_OK);
}
