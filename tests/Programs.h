// Programs written with the test writer that several tests use, and the
// fuzz target's seeds too.
#ifndef MIRL_TESTS_PROGRAMS_H
#define MIRL_TESTS_PROGRAMS_H

#include <string>

#include "UbrofWriter.h"

namespace testprograms {

// Memory attributes 0 "near" (pointer size 2), 1 "eeprom" (3), 2 "ifunc"
// (3, i/o flag set) and a file that uses every kind of type record. Names
// made by t_scoped_name come first: 0 "Klass", 1 "m", 2 "Shade", 3 "Point_t".
inline ubrofw::Writer EveryKind() {
  ubrofw::Writer w;
  w.Start()
      .MemInfo(0, 2, 0, "near")
      .MemInfo(1, 3, 0, "eeprom")
      .MemInfo(2, 3, 0x08, "ifunc")
      .ScopedName1("Klass", 0xFFFFFFFFu)
      .ScopedName1("m", 0xFFFFFFFFu)
      .ScopedName1("Shade", 0xFFFFFFFFu)
      .ScopedName1("Point_t", 0xFFFFFFFFu)
      .TypeAttributed(100, 0, 6, 0x01)  // int const, in "near"
      .TypePointer(101, 100)
      .TypeArray16(102, 6, 6, 3)
      .TypeArray41(103, 102, 24, 4)
      .TypeStruct17(104, "point", 4, {{0, "x", 6}, {2, "y", 6}})
      .TypeUnion18(105, "u", 2, {{"a", 6}, {"b", 2}})
      .TypeComposite52(106, 0, 3, 8, 1, {{4, 1, 104, 7}})
      .TypeBitfield(107, 2, 3, 5)
      .TypeBitfield(108, 1, 7, 5)
      .TypeFunction20(109, 6, 0, {2, 6})
      .TypeFunction35(110, 12, 0x04, 0x12345678, {})
      .TypeQualified21(111, 0x07, 6)
      .TypeQualified36(112, 0x124, 1)  // volatile, memory code 0x12 (near)
      .TypePointer(113, 6, 24)
      .TypeAttributed(114, 1, 8, 0x0F, {}, 43)  // hidden: no qualifiers shown
      .TypeEnum44(115, 1, "color", {{"red", 0}, {"green", 1}})
      .TypeEnum51(116, 6, 2, 0, {})
      .TypeTypedef(117, 104, 3)
      .TypePtrToMember(118, 100, 106)
      .TypePointer(119, 6, 53)
      .TypeHead(120, 2)
      .TypeAttributed(122, 0, 12, 0)  // void in "near"
      .TypePointer(121, 122)
      .TypePointer(123, 114)
      .TypePointer(124, 6)                  // pointee without a memory attribute
      .TypeQualified36(125, 0x220, 6)       // memory code 0x22: far func
      .TypeQualified36(126, 0x150, 6)       // memory code 0x15: flash
      .TypeAttributed(127, 255, 126, 0x0E)  // no attribute: the inner memory stands
      .TypeAttributed(128, 2, 6, 0x02)
      .TypePointer(129, 6, 32)
      .TypePointer(130, 6, 29)
      .TypeArray41(131, 6, 0, 0x80000000u)
      .TypeQualified21(132, 0x50, 6)  // i/o object
      .TypeQualified36(133, 0x8000, 109)
      .TypeAttributed(134, 99, 6, 0)  // attribute number beyond the table
      .TypeHead(135, 1);              // claims to be predefined
  return w;
}

// A program every thread can parse: no embedded sources, so that nothing is
// written beside it while others read it.
inline ubrofw::Writer SharedProgram() {
  ubrofw::Writer w;
  w.Start().Aux1(0, "2.10").MemInfo(0, 2, 0x110, "data");
  w.BegPgm("main").FileRef(0, "C:\\proj\\main.c").FileRef(1, "C:\\proj\\io.h");
  w.TypeStruct17(100, "pt", 4, {{0, "x", 6}, {2, "y", 6}}).TypePointer(101, 100);
  w.TypeFunction20(102, 6, 0, {101});
  w.SymbolDef(1, 2, 0x60, "origin", 100).SymbolDef(2, 0, 0x100, "main", 102);
  w.FuncBegin1("main", {{1, 2, 0x64, "p", 101, {}}}).Org(1, 0x100);
  for (uint16_t line = 3; line < 40; ++line) w.SrcStat(line, 1, line, 12).AbsVar({1, 2});
  w.NewFile(1).SrcStat(7, 1, 7, 2).AbsVar({3, 4, 5});
  w.BlockEnd().End();
  w.BegLib("exit").FileRef(0, "C:\\proj\\exit.c").SymbolDef(2, 0, 0x200, "exit", 102);
  w.FuncBegin1("exit").Org(1, 0x200).SrcStat(2, 1, 2, 9).AbsVar({6, 7}).BlockEnd().End();
  return w.Finish();
}

}  // namespace testprograms

#endif
