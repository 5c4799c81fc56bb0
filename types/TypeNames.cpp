// Display names and attributes of types, and the helpers the type methods
// use to follow qualifiers and typedefs.
#include <cstdio>

#include "TypeTable.h"

namespace mirl {

namespace {

// Appends text, never letting the name grow beyond what the host is given.
void Append(std::string& out, const std::string& text) {
  if (out.size() >= kMaxNameLength) return;
  out.append(text, 0, kMaxNameLength - out.size());
}

void Append(std::string& out, const char* text) { Append(out, std::string(text)); }

// Numbers in names are signed 32-bit values.
std::string Signed(uint32_t value) { return std::to_string(int32_t(value)); }

bool IsFixedPointerKind(uint32_t kind) {
  return (kind >= 23 && kind <= 34) || (kind >= 37 && kind <= 40);
}

}  // namespace

std::string TypeTable::FormatTypeName(uint32_t typeId) const {
  std::string out;
  AppendTypeName(typeId, out, 0);
  return out;
}

// Writes the name of typeId at the end of out. depth counts the types
// entered on the way here; a graph that refers back to itself stops growing
// the name once the depth limit is reached, and a full name stops all work,
// so every type is visited a bounded number of times.
void TypeTable::AppendTypeName(uint32_t typeId, std::string& out, unsigned depth) const {
  if (depth >= kMaxTypeDepth || out.size() >= kMaxNameLength) return;
  if (typeId >= Types.size()) {
    // A type the file refers to but never describes, like an unset entry.
    Append(out, "undefined_type");
    return;
  }
  const TypeRecord& t = Types[typeId];
  switch (t.Kind) {
    case kKindUndefined:
      Append(out, "undefined_type");
      break;
    case kKindPredefined:
      Append(out, PredefinedTypeName(t.Word1));
      break;
    case kKindPointer:
      AppendTypeName(t.Word1, out, depth + 1);
      Append(out, " *");
      break;
    case kKindReference:
      AppendTypeName(t.Word1, out, depth + 1);
      Append(out, " &");
      break;
    case kKindArray:
    case kKindArray32: {
      // The bounds follow the element type: an array of 3 arrays of 4 int
      // reads int[3][4].
      std::string suffix;
      uint32_t id = typeId;
      unsigned steps = depth;
      while (id < Types.size() &&
             (Types[id].Kind == kKindArray || Types[id].Kind == kKindArray32)) {
        if (++steps >= kMaxTypeDepth) break;  // a cycle of arrays has no element type
        Append(suffix, "[" + Signed(Types[id].Word3) + "]");
        id = Types[id].Word1;
      }
      AppendTypeName(id, out, steps);
      Append(out, suffix);
      break;
    }
    case kKindStruct:
    case kKindUnion:
    case kKindComposite:
      if (t.Word2 == 1)
        Append(out, "struct ");
      else if (t.Word2 == 2)
        Append(out, "union ");
      else if (t.Word2 == 3)
        Append(out, "class ");
      if (m_pNames) Append(out, m_pNames->GetName(t.Word1));
      break;
    case kKindBitfield:
      Append(out, "bitfield " + Signed(t.Word2));
      if (int32_t(t.Word1) > 1) Append(out, ":" + Signed(t.Word1 + t.Word2));
      break;
    case kKindFunction:
    case kKindFunctionEx: {
      if (t.Word2 & 0x04) Append(out, "[interrupt] ");
      Append(out, "(");
      AppendTypeName(t.Word1, out, depth + 1);
      Append(out, ") (");
      for (uint32_t i = 0; i < t.Word4 && out.size() < kMaxNameLength; ++i) {
        uint64_t index = uint64_t(t.Word5) + i;
        if (index >= Parameters.size()) break;  // list beyond the shared array
        if (i) Append(out, ", ");
        AppendTypeName(Parameters[size_t(index)], out, depth + 1);
      }
      Append(out, ")");
      break;
    }
    case kKindQualified:
    case kKindQualifiedEx:
      AppendTypeName(t.Word2, out, depth + 1);
      if (t.Word1 & 0x01) Append(out, " register");
      if (t.Word1 & 0x02) Append(out, " const");
      if (t.Word1 & 0x04) Append(out, " volatile");
      break;
    case kKindAttributed:
      AppendTypeName(t.Word2, out, depth + 1);
      if (t.Word3 & 0x01) Append(out, " const");
      if (t.Word3 & 0x02) Append(out, " volatile");
      if (t.Word3 & 0x04) Append(out, " restrict");
      if (t.Word3 & 0x08) Append(out, " writeonly");
      break;
    case kKindAttributedHidden:
      AppendTypeName(t.Word2, out, depth + 1);
      break;
    case kKindEnum:
    case kKindEnumIndexed:
      Append(out, "enum ");
      if (m_pNames) Append(out, m_pNames->GetName(t.Word2));
      break;
    case kKindTypedef:
      if (m_pNames) Append(out, m_pNames->GetName(t.Word2));
      break;
    case kKindPtrToMember:
      AppendTypeName(t.Word2, out, depth + 1);
      Append(out, "::");
      AppendTypeName(t.Word1, out, depth + 1);
      Append(out, " *");
      break;
    default:
      if (IsFixedPointerKind(t.Kind)) {
        AppendTypeName(t.Word1, out, depth + 1);
        Append(out, " *");
      }
      // Kinds without meaning have an empty name.
      break;
  }
}

const MemoryAttributeRecord* TypeTable::AttributeOf(uint32_t number) const {
  if (number == kNoMemoryAttribute || number >= MemoryAttributes.size()) return nullptr;
  return &MemoryAttributes[number];
}

// The memory attribute that a pointer's pointee names. Only attributed
// pointees (kinds 42, 43) carry one; any other pointee, or an attribute
// number the table does not hold, has none.
const MemoryAttributeRecord* TypeTable::PointeeAttribute(uint32_t pointeeId) const {
  if (pointeeId >= Types.size()) return nullptr;
  const TypeRecord& p = Types[pointeeId];
  if (p.Kind != kKindAttributed && p.Kind != kKindAttributedHidden) return nullptr;
  return AttributeOf(p.Word1);
}

void TypeTable::GetTypeAttributes(uint32_t typeId, uint32_t* pSpec, uint32_t* pSize,
                                  uint32_t* pElements, uint8_t* pMemType,
                                  uint32_t* pPtrSize) const {
  // Start from what the caller holds: a kind without attributes leaves the
  // outputs as they were, and an enclosing qualifier overwrites only some.
  TypeAttributes a;
  if (pSpec) a.Spec = *pSpec;
  if (pSize) a.Size = *pSize;
  if (pElements) a.Elements = *pElements;
  if (pMemType) a.MemType = *pMemType;
  if (pPtrSize) a.PtrSize = *pPtrSize;
  if (!ComputeAttributes(typeId, a, 0)) return;
  if (pSpec) *pSpec = a.Spec;
  if (pSize) *pSize = a.Size;
  if (pElements) *pElements = a.Elements;
  if (pMemType) *pMemType = a.MemType;
  if (pPtrSize) *pPtrSize = a.PtrSize;
}

// Fills a for typeId; false when the kind has no attributes (a is then as
// it was). A chain of qualifiers or typedefs that does not end within the
// depth limit, or an id outside the table, reports the undefined type.
bool TypeTable::ComputeAttributes(uint32_t typeId, TypeAttributes& a, unsigned depth) const {
  if (depth >= kMaxTypeDepth || typeId >= Types.size()) {
    a = TypeAttributes();
    a.MemType = kMemData;
    return true;
  }
  const TypeRecord& t = Types[typeId];
  switch (t.Kind) {
    case kKindUndefined:
      a = {kSpecUndefined, 0, 0, kMemData, 0};
      return true;
    case kKindPredefined:
      a = {t.Word3, t.Word2, 0, kMemData, 0};
      return true;
    case kKindPointer: {
      const MemoryAttributeRecord* attr = PointeeAttribute(t.Word1);
      uint32_t elements = 1;
      if (t.Word1 < Types.size()) {
        const TypeRecord& p = Types[t.Word1];
        if (p.Word2 == kVoidTypeId || p.Kind == kKindAttributedHidden) elements = 0;
      }
      // A pointee without a memory attribute gives no pointer size.
      a = {kSpecPointer, attr ? attr->PointerSize : 0u, elements, kMemData, 0};
      return true;
    }
    case kKindArray:
    case kKindArray32:
      a = {kSpecArray, t.Word2, t.Word3, kMemData, 0};
      return true;
    case kKindStruct:
    case kKindUnion:
    case kKindComposite:
      a = {kSpecStruct, t.Word3, t.Word4, kMemData, 0};
      return true;
    case kKindBitfield:
      a = {kSpecBitfield, t.Word1, 0, kMemData, t.Word2};
      return true;
    case kKindFunction:
    case kKindFunctionEx:
      a = {kSpecFunction, 0, 0, kMemProgram, 0};
      return true;
    case kKindQualified:
      ComputeAttributes(t.Word2, a, depth + 1);
      a.MemType = kMemData;
      return true;
    case kKindQualifiedEx: {
      ComputeAttributes(t.Word2, a, depth + 1);
      uint32_t k = PointerKindFromFlags(t.Word1);
      a.MemType = k < 27 ? kMemData : kMemProgram;
      a.PtrSize = k < Types.size() ? Types[k].Word2 : 0;
      return true;
    }
    case kKindAttributed:
    case kKindAttributedHidden:
      ComputeAttributes(t.Word2, a, depth + 1);
      if (t.Word1 != kNoMemoryAttribute) {
        // An attribute number the table does not hold: data memory, no
        // pointer size.
        const MemoryAttributeRecord* attr = AttributeOf(t.Word1);
        a.MemType = attr ? attr->MemType : uint8_t(kMemData);
        a.PtrSize = attr ? attr->PointerSize : 0;
      }
      return true;
    case kKindPtrToMember: {
      const MemoryAttributeRecord* attr = PointeeAttribute(t.Word1);
      a = {kSpecUnsigned, attr ? attr->PointerSize : 0u, 0, kMemData, 0};
      return true;
    }
    case kKindEnum:
    case kKindTypedef:
    case kKindEnumIndexed:
    case kKindReference:
      return ComputeAttributes(t.Word1, a, depth + 1);
    default:
      if (IsFixedPointerKind(t.Kind)) {
        a = {kSpecPointer, Types[t.Kind].Word2, 1, kMemData, 0};
        return true;
      }
      return false;
  }
}

bool TypeTable::ForwardedTypeId(uint32_t typeId, uint32_t* pNext) const {
  if (typeId >= Types.size()) return false;
  const TypeRecord& t = Types[typeId];
  switch (t.Kind) {
    case kKindQualifiedEx:
    case kKindAttributed:
    case kKindAttributedHidden:
      *pNext = t.Word2;
      return true;
    case kKindTypedef:
      *pNext = t.Word1;
      return true;
    default:
      return false;
  }
}

bool TypeTable::ForwardingEnds(uint32_t typeId) const {
  for (unsigned steps = 0; steps < kMaxTypeDepth; ++steps)
    if (!ForwardedTypeId(typeId, &typeId)) return true;
  return false;
}

bool TypeTable::MemberRange(const TypeRecord& t, uint32_t* pFirst, uint32_t* pCount) const {
  if (t.Kind != kKindStruct && t.Kind != kKindUnion && t.Kind != kKindComposite) return false;
  // A count with the top bit set came with no members; a list that does not
  // fit the shared array (possible only for a record not made by the
  // reader) is cut to what is there.
  uint32_t count = int32_t(t.Word4) > 0 ? t.Word4 : 0;
  uint32_t first = t.Word5;
  if (first > Members.size()) first = uint32_t(Members.size());
  if (count > Members.size() - first) count = uint32_t(Members.size() - first);
  *pFirst = first;
  *pCount = count;
  return true;
}

}  // namespace mirl
