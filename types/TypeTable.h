// The type table: the types an object file describes plus the predefined
// basic types, and the memory attributes of the target. Types refer to each
// other by id and to their members, enumerators and parameters by a first
// index and a count into the shared arrays.
#ifndef MIRL_TYPETABLE_H
#define MIRL_TYPETABLE_H

#include <cstdint>
#include <string>
#include <vector>

#include "../scopes/NameTable.h"

namespace mirl {

struct TypeRecord {
  uint32_t Kind = 0;
  uint32_t Word1 = 0, Word2 = 0, Word3 = 0, Word4 = 0, Word5 = 0;
};

struct MemberRecord {
  uint32_t Offset = 0;
  uint32_t NameIndex = kNone;
  uint32_t TypeId = 0;
  uint32_t Extra = 0;
};

struct EnumeratorRecord {
  uint32_t NameIndex = kNone;
  uint32_t Value = 0;
};

struct MemoryAttributeRecord {
  uint8_t PointerSize = 0;
  uint32_t AttributeFlags = 0;
  std::string Name;
  uint8_t MemType = 0;
};

class TypeTable {
 public:
  explicit TypeTable(NameTable* pNames);

  void AddPredefinedType(uint32_t id, uint32_t nameIndex, uint32_t size, uint32_t spec);
  void SetType(uint32_t id, const TypeRecord& rec);
  void SetTypeSize(uint32_t kindCode, uint32_t size);
  uint32_t TypeCount() const { return uint32_t(Types.size()); }

  // Queries (types/TypeNames.cpp).
  std::string FormatTypeName(uint32_t typeId) const;
  void GetTypeAttributes(uint32_t typeId, uint32_t* pSpec, uint32_t* pSize, uint32_t* pElements,
                         uint8_t* pMemType, uint32_t* pPtrSize) const;
  static uint32_t PointerKindFromFlags(uint32_t flags);
  bool IsFunctionType(uint32_t typeId) const;
  bool IsIoType(uint32_t typeId) const;

  std::vector<TypeRecord> Types;
  std::vector<EnumeratorRecord> Enumerators;
  std::vector<MemberRecord> Members;
  std::vector<uint32_t> Parameters;
  std::vector<MemoryAttributeRecord> MemoryAttributes;
  NameTable* m_pNames;
};

}  // namespace mirl

#endif
