// The records that fill the type table: t_type, t_size_type, t_mem_info and
// t_def_ptr_types.
#include "../ubrof/Parser.h"
#include "../ubrof10/Ubrof10.h"
#include "TypeTable.h"

namespace mirl {

namespace {

// Counts read as longs are signed in the file: zero or a negative count
// means an empty list, although the count itself is kept as read.
uint32_t ListLength(uint32_t count) { return int32_t(count) > 0 ? count : 0; }

}  // namespace

// An inline name (1-byte length, then the text) becomes a plain entry of the
// name table; the type keeps its index.
static uint32_t ReadInlineName(CParser& p) {
  StringPtr text = p.ReadByteString();
  return p.m_pNameTable->AddName(kNamePlain, kSubNone, text.get(), kNone, kNone);
}

int CParser::t_type() {
  TypeTable& types = *m_pTypes;
  uint32_t id = ReadTypeIndex();
  TypeRecord rec;
  rec.Kind = uint32_t(ReadByte());
  // t_type has no skip information: a UBROF 10 kind whose layout no real
  // file has shown us ends the parse rather than being guessed.
  if (m_bUbrof10 && !IsUbrof10TypeKind(rec.Kind)) return 1;
  switch (rec.Kind) {
    case 15:
    case 23:
    case 24:
    case 25:
    case 26:
    case 27:
    case 28:
    case 29:
    case 30:
    case 31:
    case 32:
    case 33:
    case 34:
    case 37:
    case 38:
    case 39:
    case 40:
    case 53:
      rec.Word1 = ReadTypeIndex();
      break;
    case 16:
      rec.Word1 = ReadTypeIndex();
      rec.Word2 = ReadLong();
      rec.Word3 = ReadTypeIndex();
      break;
    case 41:
      rec.Word1 = ReadTypeIndex();
      rec.Word2 = ReadLong();
      rec.Word3 = ReadLong();
      break;
    case 17: {
      rec.Word1 = ReadInlineName(*this);
      rec.Word2 = 1;
      rec.Word3 = ReadLong();
      rec.Word4 = ReadWord();
      rec.Word5 = uint32_t(types.Members.size());
      for (uint32_t i = 0; i < rec.Word4; ++i) {
        MemberRecord m;
        m.Offset = ReadLong();
        m.NameIndex = ReadInlineName(*this);
        m.TypeId = ReadTypeIndex();
        types.Members.push_back(m);
      }
      break;
    }
    case 18: {
      rec.Word1 = ReadInlineName(*this);
      rec.Word2 = 2;
      rec.Word3 = ReadLong();
      rec.Word4 = ReadWord();
      rec.Word5 = uint32_t(types.Members.size());
      for (uint32_t i = 0; i < rec.Word4; ++i) {
        MemberRecord m;  // every member of a union starts at offset 0
        m.NameIndex = ReadInlineName(*this);
        m.TypeId = ReadTypeIndex();
        types.Members.push_back(m);
      }
      break;
    }
    case 52: {
      rec.Word1 = ReadLong();
      rec.Word2 = ReadLong();
      rec.Word3 = ReadLong();
      rec.Word4 = ReadLong();
      rec.Word5 = uint32_t(types.Members.size());
      // Each member is read before the next is appended, so a count larger
      // than the file ends at the end of the file, not in an allocation.
      for (uint32_t i = 0, n = ListLength(rec.Word4); i < n; ++i) {
        MemberRecord m;
        m.Offset = ReadLong();
        m.NameIndex = ReadLong();
        m.TypeId = ReadTypeIndex();
        m.Extra = ReadLong();
        types.Members.push_back(m);
      }
      break;
    }
    case 19:
      rec.Word1 = uint32_t(ReadByte());
      rec.Word2 = uint32_t(ReadByte());
      rec.Word3 = ReadTypeIndex();
      break;
    case 20:
    case 35: {
      rec.Word1 = ReadTypeIndex();
      rec.Word2 = uint32_t(ReadByte());
      rec.Word3 = rec.Kind == 35 ? ReadLong() : 0;
      rec.Word4 = uint32_t(ReadByte());
      rec.Word5 = uint32_t(types.Parameters.size());
      for (uint32_t i = 0; i < rec.Word4; ++i) types.Parameters.push_back(ReadTypeIndex());
      break;
    }
    case 21:
      rec.Word1 = uint32_t(ReadByte());
      rec.Word2 = ReadTypeIndex();
      break;
    case 36:
      rec.Word1 = ReadLong();
      rec.Word2 = ReadTypeIndex();
      break;
    case 42:
    case 43:
      rec.Word1 = uint32_t(ReadByte());
      rec.Word2 = ReadTypeIndex();
      rec.Word3 = ReadLong();
      SkipBytes(uint32_t(ReadByte()));
      break;
    case 44: {
      rec.Word1 = ReadTypeIndex();
      rec.Word2 = ReadInlineName(*this);
      rec.Word3 = ReadLong();
      rec.Word4 = uint32_t(types.Enumerators.size());
      for (uint32_t i = 0, n = ListLength(rec.Word3); i < n; ++i) {
        EnumeratorRecord e;
        e.NameIndex = ReadInlineName(*this);
        e.Value = ReadLong();
        types.Enumerators.push_back(e);
      }
      break;
    }
    case 51: {
      rec.Word1 = ReadTypeIndex();
      rec.Word2 = ReadLong();
      rec.Word3 = ReadLong();
      rec.Word4 = uint32_t(types.Enumerators.size());
      for (uint32_t i = 0, n = ListLength(rec.Word3); i < n; ++i) {
        EnumeratorRecord e;
        e.NameIndex = ReadLong();
        e.Value = ReadLong();
        types.Enumerators.push_back(e);
      }
      break;
    }
    case 49:
      rec.Word1 = ReadTypeIndex();
      rec.Word2 = ReadLong();
      break;
    case 50:
      rec.Word1 = ReadTypeIndex();
      rec.Word2 = ReadTypeIndex();
      SkipBytes(2);
      break;
    default:
      // No body: the type keeps only its kind and the next byte is a tag.
      // A kind of 1 is stored as undefined by SetType.
      break;
  }
  ReserveIndex(types.Types.size(), id);
  types.SetType(id, rec);
  return 0;
}

int CParser::t_size_type() {
  uint32_t code = uint32_t(ReadByte());
  uint32_t size = uint32_t(ReadByte());
  m_pTypes->SetTypeSize(code, size);
  return 0;
}

int CParser::t_def_ptr_types() {
  SkipBytes(5);
  return 0;
}

int CParser::t_mem_info() {
  SkipBytes(2);
  uint32_t number = uint32_t(ReadByte());
  // The array grows before the rest is read, so a record cut short after
  // its number still leaves the padding it asked for.
  ReserveIndex(m_pTypes->MemoryAttributes.size(), number);
  if (m_pTypes->MemoryAttributes.size() <= number)
    m_pTypes->MemoryAttributes.resize(size_t(number) + 1);
  uint8_t pointerSize = uint8_t(ReadByte());
  ReadByte();  // not used
  uint32_t flags = ReadLong();
  StringPtr name = ReadByteString();
  m_pTypes->SetMemoryAttribute(number, pointerSize, flags, name.get());
  return 0;
}

}  // namespace mirl
