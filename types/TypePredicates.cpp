// Type predicates other subsystems ask: is a type a function, does it live
// in i/o memory.
#include "TypeTable.h"

namespace mirl {

// Qualifiers and attributes wrap the type they qualify; a file can make that
// chain a cycle, so the walk stops after kMaxTypeDepth steps like the other
// type walks (the entry view asks this for every symbol it lists).
bool TypeTable::IsFunctionType(uint32_t typeId) const {
  for (unsigned steps = 0; steps <= kMaxTypeDepth; ++steps) {
    if (typeId >= Types.size()) return false;
    const TypeRecord& t = Types[typeId];
    switch (t.Kind) {
      case 20:
      case 35:
        return true;
      case 21:
      case 36:
      case 42:
      case 43:
        typeId = t.Word2;
        break;
      default:
        return false;
    }
  }
  return false;
}

bool TypeTable::IsIoType(uint32_t typeId) const {
  if (typeId >= Types.size()) return false;
  const TypeRecord& t = Types[typeId];
  switch (t.Kind) {
    case 21:
      return (t.Word1 & 0xF0) == 0x50;
    case 36:
      return (t.Word1 & 0x8000) != 0;
    case 42:
    case 43:
      return t.Word1 != 255 && t.Word1 < MemoryAttributes.size() &&
             (MemoryAttributes[t.Word1].AttributeFlags & 0x08) != 0;
    default:
      return false;
  }
}

}  // namespace mirl
