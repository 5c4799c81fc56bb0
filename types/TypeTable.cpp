// The type table itself: predefined types, storing types and sizes, and the
// memory attributes of the target.
#include "TypeTable.h"

namespace mirl {

namespace {

struct PredefinedType {
  uint32_t Id;
  const char* Name;
  uint32_t Size;
  uint32_t Spec;
};

// The basic types every file starts with. A predefined entry keeps the
// position of its row here in Word1, so the names stay constants of the
// program and no entry owns or points at text.
const PredefinedType kPredefinedTypes[] = {
    {1, "unsigned char", 1, kSpecUnsigned},
    {2, "char", 1, kSpecSigned},
    {3, "unsigned short", 2, kSpecUnsigned},
    {4, "short", 2, kSpecSigned},
    {5, "unsigned int", 2, kSpecUnsigned},
    {6, "int", 2, kSpecSigned},
    {7, "unsigned long", 4, kSpecUnsigned},
    {8, "long", 4, kSpecSigned},
    {9, "float", 4, kSpecFloat},
    {10, "double", 4, kSpecFloat},
    {11, "long double", 4, kSpecFloat},
    {12, "void", 0, kSpecVoid},
    {13, "...", 0, kSpecVoid},
    {14, "address", 0, kSpecPointer},
    // Entries 23 to 40 double as the size descriptors of the pointer kinds.
    {23, "tiny *", 1, kSpecPointer},
    {24, "near *", 2, kSpecPointer},
    {25, "far *", 3, kSpecPointer},
    {26, "huge *", 3, kSpecPointer},
    {27, "flash *", 3, kSpecPointer},
    {28, "farflash *", 3, kSpecPointer},
    {31, "near func *", 2, kSpecPointer},
    {32, "far func *", 3, kSpecPointer},
    {45, "unsigned long long", 8, kSpecUnsigned},
    {46, "long long", 8, kSpecSigned},
    {47, "bool", 1, kSpecUnsigned},
    {48, "wchar", 2, kSpecSigned},
    {54, "char", 1, kSpecSigned},
};

constexpr uint32_t kPredefinedCount =
    uint32_t(sizeof kPredefinedTypes / sizeof kPredefinedTypes[0]);

}  // namespace

TypeTable::TypeTable(NameTable* pNames) : Types(kInitialTypeCount), m_pNames(pNames) {
  for (uint32_t i = 0; i < kPredefinedCount; ++i)
    AddPredefinedType(kPredefinedTypes[i].Id, i, kPredefinedTypes[i].Size,
                      kPredefinedTypes[i].Spec);
}

const char* TypeTable::PredefinedTypeName(uint32_t nameNumber) {
  return nameNumber < kPredefinedCount ? kPredefinedTypes[nameNumber].Name : "";
}

void TypeTable::AddPredefinedType(uint32_t id, uint32_t nameNumber, uint32_t size, uint32_t spec) {
  if (id >= Types.size()) Types.resize(size_t(id) + 1);
  TypeRecord& t = Types[id];
  t = TypeRecord();
  t.Kind = kKindPredefined;
  t.Word1 = nameNumber;
  t.Word2 = size;
  t.Word3 = spec;
}

void TypeTable::SetType(uint32_t id, const TypeRecord& rec) {
  // Ids come from a 16-bit field, so the table never exceeds 65536 entries
  // through the reader.
  if (id >= Types.size()) Types.resize(size_t(id) + 1);
  TypeRecord& t = Types[id];
  t = rec;
  if (t.Kind == kKindPredefined) {
    // A record claiming to be predefined carries no name of ours; treat the
    // type as undefined rather than read a name through its words.
    t = TypeRecord();
  }
}

void TypeTable::SetTypeSize(uint32_t kindCode, uint32_t size) {
  // Every basic type and pointer kind lies below the initial 100 entries; a
  // size for an id the table does not hold describes nothing a query shows,
  // so it is dropped rather than growing the table with undefined entries.
  if (kindCode < Types.size()) Types[kindCode].Word2 = size;
}

uint8_t TypeTable::MemTypeFromName(const std::string& name) {
  // First match wins; the order matters for names such as "ioeeprom".
  if (name.find("flash") != std::string::npos) return kMemProgram;
  if (name.find("func") != std::string::npos) return kMemProgram;
  if (name.find("io") != std::string::npos) return kMemIo;
  if (name.find("eeprom") != std::string::npos) return kMemEeprom;
  if (name.find("reg") != std::string::npos) return kMemRegister;
  return kMemData;
}

void TypeTable::SetMemoryAttribute(uint32_t number, uint8_t pointerSize, uint32_t flags,
                                   const char* pszName) {
  if (MemoryAttributes.size() <= number) MemoryAttributes.resize(size_t(number) + 1);
  MemoryAttributeRecord rec;
  rec.PointerSize = pointerSize;
  rec.AttributeFlags = flags;
  rec.Name = pszName ? pszName : "";
  rec.MemType = MemTypeFromName(rec.Name);
  MemoryAttributes[number] = std::move(rec);
}

uint32_t TypeTable::PointerKindFromFlags(uint32_t flags) {
  uint32_t code = (flags >> 4) & 0xFF;
  if (code >= 0x11 && code <= 0x18) return 23 + (code - 0x11);
  if (code >= 0x21 && code <= 0x24) return 31 + (code - 0x21);
  if (code >= 0x25 && code <= 0x28) return 37 + (code - 0x25);
  return 23;
}

}  // namespace mirl
