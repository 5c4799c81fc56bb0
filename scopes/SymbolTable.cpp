#include "SymbolTable.h"

namespace mirl {

void SymbolTable::AddSymbol(uint8_t cls, uint16_t memAttr, uint32_t value, uint32_t nameIndex,
                            uint16_t typeId) {
  SymbolRecord s;
  s.Class = cls;
  s.MemoryAttribute = memAttr;
  s.Value = value;
  s.NameIndex = nameIndex;
  s.TypeId = typeId;
  s.FirstRange = uint32_t(Ranges.size());
  s.RangeCount = 0;
  Symbols.push_back(s);
}

void SymbolTable::AddRange(uint32_t start, uint8_t cls, uint16_t memAttr, uint32_t value) {
  LocationRange r;
  r.Start = start;
  r.Class = cls;
  r.MemoryAttribute = memAttr;
  r.Value = value;
  Ranges.push_back(r);
  if (!Symbols.empty()) ++Symbols.back().RangeCount;
}

void SymbolTable::SetCompilerVersion(double v) {
  if (CompilerVersion < v) CompilerVersion = v;  // false for a not-a-number v
}

}  // namespace mirl
