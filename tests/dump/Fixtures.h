// Object files for the ubrofdump tests, built with the test writer. The
// memory contents of each fixture are listed as data (Write), so a test can
// work out what an export must contain from the same list that made the
// file. make_dump_fixtures writes them to disk for the golden-output tests.
#ifndef MIRL_TESTS_DUMP_FIXTURES_H
#define MIRL_TESTS_DUMP_FIXTURES_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "../UbrofWriter.h"

namespace dumpfix {

// One t_org + t_abs_var pair.
struct Write {
  uint8_t segmentType;
  uint32_t address;
  std::vector<uint8_t> bytes;
};

// Where the bytes of a segment type end up (compiler version below 2.0:
// type 3 is program memory; from 2.0 on it is eeprom; type 4 goes nowhere).
inline int MemoryOf(uint8_t segmentType, bool eepromRule) {
  if (segmentType == 2 || segmentType == 7) return 2;
  if (segmentType == 4) return 0;
  if (segmentType == 3 && eepromRule) return 4;
  return 1;
}

// Address -> byte of one memory after all writes, later writes winning.
inline std::map<uint32_t, uint8_t> Expected(const std::vector<Write>& writes, int memory,
                                            bool eepromRule) {
  std::map<uint32_t, uint8_t> bytes;
  for (const Write& w : writes)
    if (MemoryOf(w.segmentType, eepromRule) == memory)
      for (size_t i = 0; i < w.bytes.size(); ++i) bytes[uint32_t(w.address + i)] = w.bytes[i];
  return bytes;
}

inline void Emit(ubrofw::Writer& w, const std::vector<Write>& writes) {
  for (const Write& x : writes) w.Org(x.segmentType, x.address).AbsVar(x.bytes);
}

// ---- edges: memory runs that touch, overlap and cross 64 KiB, symbols of
// every location kind, a hidden module. Compiler version 1.5, so segment
// type 3 is program memory.
inline std::vector<Write> EdgesWrites() {
  return {
      {1, 0xFFF8, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},  // crosses 0x10000
      {1, 0x0000, {0xA0, 0xA1, 0xA2, 0xA3}},
      {1, 0x0002, {0xB2, 0xB3, 0xB4, 0xB5}},  // overlaps the previous write
      {1, 0x0006, {0xC6, 0xC7}},              // continues it
      {3, 0x0100, {0xD0, 0xD1, 0xD2}},        // program memory below version 2.0
      {2, 0x0020, {1, 2, 3, 4, 5}},
      {7, 0x0030, {6, 7}},     // data memory too
      {4, 0x0000, {9, 9, 9}},  // skipped
      {1, 0x12345, {0xEE}},
  };
}

inline ubrofw::Writer Edges() {
  using ubrofw::Local;
  using ubrofw::Range;
  ubrofw::Writer w;
  w.Start();
  // A type whose name is longer than a table column grows.
  w.TypeFunction20(200, 6, 0, {6, 6, 6, 6, 6, 6, 6, 6});
  w.TypeStruct17(201, "Box", 2, {}).TypePointer(202, 201);  // Box::get's "this"
  w.BegPgm("edges").Aux1(0, "1.5");
  w.FileRef(0, "src/edges.c", 0, 0, 12, 1, 2, 120);
  // The writes that lie outside any function.
  std::vector<Write> writes = EdgesWrites();
  Emit(w, {writes.begin(), writes.begin() + 2});
  w.SymbolDef(1, 0, 0x0000, "first", 6);
  w.SymbolDef(2, 0, 0x0000, "second", 6);  // same address: not the label
  w.SymbolDef(4, 2, 0x0020, "in_data", 6);
  w.SymbolDef(4, 2, 0x0022, "caf\xE9", 6);     // a Windows-1252 name, not UTF-8
  w.SymbolDef(1, 0, 0x0006, "STACK_SIZE", 0);  // a linker constant, before the code's name
  w.SymbolDef(2, 0, 0x0006, "callback", 200);
  w.SymbolDef(2, 0, 0x0008, "get", 200);
  w.FuncBegin1("f", {Local{0, 0, 0, "none", 6, {}}, Local{8, 0, 40, "pair", 6, {}},
                     Local{7, 0, 4, "frame", 6, {}}, Local{22, 0, 99, "value", 6, {}},
                     Local{23, 0, 0, "other", 6, {}},
                     Local{3, 2, 0x0040, "stat", 6, {Range{0x0004, 8, 0, 20}}}});
  w.SrcStat(1, 1, 1, 5);  // no code follows: dropped by the next statement
  w.Org(1, writes[2].address).SrcStat(2, 1, 2, 9).AbsVar(writes[2].bytes);
  Emit(w, {writes[3]});
  w.SrcStat(3, 1, 3, 2);  // no code before the end of the function: dropped
  w.BlockEnd();
  w.FuncBegin1("get", {Local{8, 0, 40, "this", 202, {}}}).BlockEnd();
  Emit(w, {writes.begin() + 4, writes.end()});
  w.End();
  w.BegLib("?hidden");
  w.SymbolDef(1, 0, 0x0100, "hidden_sym", 6);
  w.End();
  w.Finish();
  return w;
}

// ---- eeprom: version 2.0, so segment type 3 is the eeprom.
inline std::vector<Write> EepromWrites() {
  return {
      {3, 0x0000, {0x11, 0x22}},
      {3, 0x0010, {0x33}},
      {1, 0x0000, {0x44}},
  };
}

inline ubrofw::Writer Eeprom() {
  ubrofw::Writer w;
  w.Start();
  w.BegPgm("ee").Aux1(0, "2.0");
  Emit(w, EepromWrites());
  w.End();
  w.Finish();
  return w;
}

// ---- files a person cannot use.
// A module record whose name runs past the end of the file.
inline ubrofw::Writer CutInsideRecord() {
  ubrofw::Writer w;
  w.Start().BegLib("a_long_module_name");
  w.bytes.resize(w.Size() - 5);
  return w;
}

// A complete module, then nothing: the end record is missing.
inline ubrofw::Writer MissingEnd() {
  ubrofw::Writer w;
  w.Start().BegLib("m").End();
  return w;
}

inline ubrofw::Writer UnknownTag() {
  ubrofw::Writer w;
  w.Start().BegLib("m").Byte(0x99).Zeros(3).End().Finish();
  return w;
}

inline ubrofw::Writer OldScopeRecord() {
  ubrofw::Writer w;
  w.Start().BegLib("m").FuncBegin().BlockEnd().End().Finish();
  return w;
}

// 10 is read (ParseAnyVersion); 11 is not.
inline ubrofw::Writer Newer() {
  ubrofw::Writer w;
  w.BegFile1(0, 0, 12, 1, 1, 120).Version(11, 0, 6).Finish();
  return w;
}

}  // namespace dumpfix

#endif
