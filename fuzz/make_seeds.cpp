// Writes the seed corpus of the fuzz target: small complete object files that
// between them hold every record kind the reader knows (and the records it
// refuses), so that mutation starts from well-formed records of each kind.
//
//     make_seeds <folder>
#include <cstdio>
#include <string>

#include "../tests/Programs.h"
#include "../tests/dump/Fixtures.h"

namespace {

using ubrofw::Writer;

// Framing: the old and new file headers, skip information, an unknown
// record skipped by it, segments, groups and key/value pairs.
Writer Framing() {
  Writer w;
  w.BegFile1(59, 59, 23, 31, 12, 125).BegFile().Version(8, 0, 2, {{0x99, 0xFE}, {0x98, 0x03}});
  w.Byte(0x99).Word(3).Raw({1, 2, 3}).Byte(0x98).Raw({4, 5, 6});
  w.SegInfo({{"CODE", 2}, {"DATA", 0}, {"", 1}});
  w.KeyValue("key", "value").KeyValue("", "");
  w.Grp(0).Grp(3).BegLib("m").GrpRef(3).GrpRef(7).End();
  // Outside a module the group number is read as the next record: here a
  // t_debug record.
  w.GrpRef(0x5200);
  return w.Finish();
}

// Module records: program and library modules, the per-module records, an
// absolute end that leaves its module open around the next one.
Writer Modules() {
  Writer w;
  w.Start().Debug(1).Aux(2).Aux1(3, "1.5");
  w.BegPgm("main", 12, 10, 105).Debug(3).Aux(0x102).Aux1(1, "2.10A").End();
  w.BegLib("?cstartup", 31, 2, 100).EndAbs();
  w.BegLib("inner").Aux1(0, "").End();
  return w.Finish();
}

// Memory: every segment type, growth beyond the first image size, and the
// eeprom placement that depends on the compiler version.
Writer Memory() {
  Writer w;
  w.Start().BegLib("m").Aux1(0, "2.0");
  w.Org(1, 0x100).AbsVar({0x0C, 0x94, 0x34, 0x12});
  w.Org(2, 0x60).AbsVar({1, 2, 3}).Org(7, 0x200).AbsVar({4});
  w.Org(3, 0x10).AbsVar({5, 6}).Org(4, 0).AbsVar({7, 8, 9});
  w.Org(1, 0x20000).AbsVar({0xAA}).AbsVar({});
  return w.End().Finish();
}

// Source files, embedded sources and statements with their code.
Writer Sources() {
  Writer w;
  w.Start().BegLib("main");
  w.FileRef(0, "C:\\src\\main.c", 0, 30, 12, 24, 12, 99).FileRef(2, "C:\\src\\io.h");
  w.FuncBegin1("main").Org(1, 0x100);
  w.SrcStat(10, 5, 12, 20, 14).AbsVar({1, 2, 3, 4}).AbsVar({5, 6});
  w.SrcStat(13, 1, 13, 9, 9).SrcStat(14, 1, 14, 9, 13).AbsVar({7, 8});
  w.NewFile(2).SrcStat(3, 1, 3, 4).AbsVar({9, 10}).SourceRange();
  w.NewFile(5).SrcStat(1, 1, 1, 1).AbsVar({11});
  w.File("gen.c", {"int x;", "", "void f() {}"}).SrcStat(3, 1, 3, 11).AbsVar({12, 13});
  w.File("..\\gen.c", {}).SrcStat(1, 1, 1, 1).BlockEnd();
  return w.End().Finish();
}

// Scopes and names: functions and blocks of both newer forms, every form of
// scoped name, local symbols with ranges.
Writer Scopes() {
  Writer w;
  w.Start().BegLib("m");
  w.ScopedName1("main", 0xFFFFFFFFu).ScopedName2(0, 1).ScopedName3(0xFFFFFFFFu, 7);
  w.ScopedName1("inner", 0).ScopedNameForm(4);
  w.FuncBegin1("f", {{1, 2, 0x60, "local", 6, {{0x100, 8, 0, 24}, {0x180, 1, 2, 0x60}}},
                     {7, 0, 4, "onstack", 8, {}}});
  w.Org(1, 0x100).SrcStat(1, 1, 1, 2).AbsVar({1, 2});
  w.BlockBegin1({{8, 0, 40, "r", 2, {}}}).SrcStat(2, 1, 2, 2).AbsVar({3}).BlockEnd();
  w.BlockEnd();
  w.BlockBegin3(1).BlockBegin3(2).SrcStat(3, 1, 3, 1).BlockEnd().BlockEnd();
  w.BlockBegin3(0xFFFFFFFFu).BlockEnd();
  return w.End().Finish();
}

// Symbols and macros, attached to scopes and to segment groups, with the
// "_A_" alias and its object attribute; a type of a high id makes every walk
// over the type table a long one.
Writer Symbols() {
  Writer w;
  w.Start().Grp(1).SymbolDef(1, 0, 0x200, "exit", 20, "xx").Macro("N", "10");
  w.BegLib("m").FileRef(0, "m.c").GrpRef(1);
  w.ScopedName1("_A_PORTB", 0xFFFFFFFFu).ScopedName1("count", 0xFFFFFFFFu);
  w.SymbolDef(2, 1, 0x100, "main", 20).SymbolDef1(1, 2, 0x60, "g", 6, {{0x100, 21, 0, 0}});
  w.SymbolDef2(1, 2, 0x38, 0, 1).SubDefObjAttr(1, "a");
  w.SymbolDef2(9, 0, 5, 1, 6, {{0, 8, 0, 50}}).SubDefObjAttr(0);
  w.SymbolDef(3, 3, 0x10, "ee", 1).Macro("M", "x + 1").TypeStruct17(65000, "Wide", 1, {});
  w.FuncBegin1("main").SymbolDef(7, 0, 2, "frame", 6).BlockEnd();
  return w.End().Finish();
}

// Type graphs and name links that refer to themselves.
Writer Cycles() {
  Writer w;
  w.Start().BegLib("m");
  w.ScopedName2(1, 0).ScopedName2(0, 0).ScopedName2(2, 0);
  w.TypePointer(100, 100).TypeQualified36(101, 0, 102).TypeTypedef(102, 101, 0);
  w.TypeArray16(103, 103, 1, 1).TypeFunction20(104, 104, 0, {104, 104});
  w.TypeAttributed(105, 200, 105, 0).TypePtrToMember(106, 106, 106);
  w.BlockBegin3(0).BlockBegin3(2).SymbolDef2(1, 0, 0, 1, 101).BlockEnd().BlockEnd();
  return w.End().Finish();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <folder>\n");
    return 2;
  }
  const struct {
    const char* name;
    Writer (*make)();
  } seeds[] = {{"framing", Framing},
               {"modules", Modules},
               {"memory", Memory},
               {"sources", Sources},
               {"scopes", Scopes},
               {"symbols", Symbols},
               {"types", testprograms::EveryKind},
               {"cycles", Cycles},
               {"program", testprograms::SharedProgram},
               {"edges", dumpfix::Edges},
               {"eeprom", dumpfix::Eeprom},
               {"old-scope", dumpfix::OldScopeRecord},
               {"later-version", dumpfix::Newer},
               {"cut", dumpfix::CutInsideRecord},
               {"unknown-tag", dumpfix::UnknownTag}};
  for (const auto& seed : seeds) {
    std::string path = std::string(argv[1]) + "/seed-" + seed.name + ".d90";
    if (!seed.make().Save(path)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
