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

// Type-kind codes that the queries treat specially.
enum TypeKind : uint32_t {
  kKindUndefined = 0,
  kKindPredefined = 1,
  kKindPointer = 15,
  kKindArray = 16,
  kKindStruct = 17,
  kKindUnion = 18,
  kKindBitfield = 19,
  kKindFunction = 20,
  kKindQualified = 21,
  kKindFunctionEx = 35,
  kKindQualifiedEx = 36,
  kKindArray32 = 41,
  kKindAttributed = 42,
  kKindAttributedHidden = 43,
  kKindEnum = 44,
  kKindTypedef = 49,
  kKindPtrToMember = 50,
  kKindEnumIndexed = 51,
  kKindComposite = 52,
  kKindReference = 53,
};

// Spec codes: the class of a type as the host sees it.
enum TypeSpec : uint32_t {
  kSpecUndefined = 0,
  kSpecSigned = 1,
  kSpecUnsigned = 2,
  kSpecFloat = 3,
  kSpecStruct = 4,
  kSpecPointer = 5,
  kSpecArray = 6,
  kSpecFunction = 7,
  kSpecVoid = 8,
  kSpecBitfield = 12,
};

// Memory-type codes of objects and pointees.
enum : uint8_t {
  kMemProgram = 1,
  kMemData = 2,
  kMemEeprom = 4,
  kMemIo = 8,
  kMemRegister = 16,
};

constexpr uint32_t kInitialTypeCount = 100;
constexpr uint32_t kNoMemoryAttribute = 255;
constexpr uint32_t kVoidTypeId = 12;

// Type graphs from a file may refer to themselves; every walk through
// pointers, qualifiers, arrays, typedefs and forwarding stops after this many
// steps. Real types nest far less deeply.
constexpr unsigned kMaxTypeDepth = 64;

struct TypeRecord {
  uint32_t Kind = 0;
  // For kind 1 (predefined) Word1 is the number of one of the constant
  // predefined names (PredefinedTypeName), never a pointer or a name index.
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

// What GetTypeAttributes reports for a type.
struct TypeAttributes {
  uint32_t Spec = 0;
  uint32_t Size = 0;
  uint32_t Elements = 0;
  uint8_t MemType = 0;
  uint32_t PtrSize = 0;
};

class TypeTable {
 public:
  explicit TypeTable(NameTable* pNames);

  // Entry id becomes predefined: nameNumber selects one of the constant
  // predefined names.
  void AddPredefinedType(uint32_t id, uint32_t nameNumber, uint32_t size, uint32_t spec);
  // Stores rec under id, growing the table when id is beyond its end. Only
  // AddPredefinedType makes predefined entries: a record of kind 1 given here
  // is stored as undefined (kind 0), since it has no name we could show.
  void SetType(uint32_t id, const TypeRecord& rec);
  // Sets Word2 (the size of a basic type or pointer kind) of entry kindCode.
  // A code at or beyond the end of the table is ignored.
  void SetTypeSize(uint32_t kindCode, uint32_t size);
  uint32_t TypeCount() const { return uint32_t(Types.size()); }
  // Stores a memory attribute at its number, padding with all-zero records.
  void SetMemoryAttribute(uint32_t number, uint8_t pointerSize, uint32_t flags,
                          const char* pszName);
  static uint8_t MemTypeFromName(const std::string& name);

  // The constant text of predefined name nameNumber ("" for an unknown one).
  static const char* PredefinedTypeName(uint32_t nameNumber);

  // Queries (types/TypeNames.cpp). An id outside the table, at the top or
  // referred to by another type, reads like an unset entry: the undefined
  // type. Names are cut to kMaxNameLength characters.
  std::string FormatTypeName(uint32_t typeId) const;
  // Writes the attributes of the type through the non-null pointers; a kind
  // without attributes writes nothing.
  void GetTypeAttributes(uint32_t typeId, uint32_t* pSpec, uint32_t* pSize, uint32_t* pElements,
                         uint8_t* pMemType, uint32_t* pPtrSize) const;
  static uint32_t PointerKindFromFlags(uint32_t flags);
  bool IsFunctionType(uint32_t typeId) const;
  bool IsIoType(uint32_t typeId) const;

  // For a forwarding kind (36, 42, 43 via Word2; 49 via Word1): stores the
  // type that a referred-type or member question is passed on to and returns
  // true. Other kinds and ids outside the table answer themselves: false.
  bool ForwardedTypeId(uint32_t typeId, uint32_t* pNext) const;
  // True when following ForwardedTypeId from typeId reaches a kind that
  // answers itself (or an id outside the table) within kMaxTypeDepth steps.
  bool ForwardingEnds(uint32_t typeId) const;
  // The members of a struct, union or composite type that really belong to
  // it: first index and count, both inside Members.
  bool MemberRange(const TypeRecord& t, uint32_t* pFirst, uint32_t* pCount) const;

  std::vector<TypeRecord> Types;
  std::vector<EnumeratorRecord> Enumerators;
  std::vector<MemberRecord> Members;
  std::vector<uint32_t> Parameters;
  std::vector<MemoryAttributeRecord> MemoryAttributes;
  NameTable* m_pNames;

 private:
  void AppendTypeName(uint32_t typeId, std::string& out, unsigned depth) const;
  bool ComputeAttributes(uint32_t typeId, TypeAttributes& a, unsigned depth) const;
  const MemoryAttributeRecord* AttributeOf(uint32_t number) const;
  const MemoryAttributeRecord* PointeeAttribute(uint32_t pointeeId) const;
};

}  // namespace mirl

#endif
