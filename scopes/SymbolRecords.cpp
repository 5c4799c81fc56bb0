// Symbol and macro records: t_symbol_def, t_symbol_def1, t_symbol_def2 (with
// its "_A_" alias look-ahead), t_sub_def_obj_attr and t_macro.
#include <string>

#include "../ubrof/Parser.h"

namespace mirl {

namespace {
// Code of t_sub_def_obj_attr, the record a prefixed t_symbol_def2 looks for.
constexpr int kTagSubDefObjAttr = 0xC3;
// Object attribute bit that asks for the unprefixed alias.
constexpr uint32_t kAttrAlias = 0x1;
// The alias of a prefixed symbol gets this predefined type.
constexpr uint16_t kAliasTypeId = 1;
const char kAliasPrefix[] = "_A_";
constexpr size_t kAliasPrefixLength = sizeof kAliasPrefix - 1;
}  // namespace

CParser::SymbolFields CParser::ReadSymbolFields(uint32_t id) {
  SymbolFields f;
  f.Class = uint8_t(ReadByte());
  f.MemoryAttribute = uint16_t(ReadWord());
  f.Value = ReadLong();
  StringPtr name = ReadByteString();
  f.NameIndex = m_pNameTable->AddName(kNameSymbol, kSubNone, name.get(), id, kNone);
  f.TypeId = uint16_t(ReadWord());
  return f;
}

int CParser::t_symbol_def() {
  // The id is attached first, so that the name entry can carry it.
  uint32_t id = m_pSymbols->Count();
  AttachSymbolId(id);
  SymbolFields f = ReadSymbolFields(id);
  SkipBytes(uint32_t(ReadByte()));  // extra field, not interpreted
  m_pSymbols->AddSymbol(f.Class, f.MemoryAttribute, f.Value, f.NameIndex, f.TypeId);
  AddLabel(f.Class, f.MemoryAttribute, f.Value, f.NameIndex);
  return 0;
}

int CParser::t_symbol_def1() {
  uint32_t id = m_pSymbols->Count();
  AttachSymbolId(id);
  SymbolFields f = ReadSymbolFields(id);
  m_pSymbols->AddSymbol(f.Class, f.MemoryAttribute, f.Value, f.NameIndex, f.TypeId);
  AddLabel(f.Class, f.MemoryAttribute, f.Value, f.NameIndex);
  ReadRanges(ReadWord());
  SkipBytes(1);
  return 0;
}

int CParser::t_symbol_def2() {
  AttachSymbolId(m_pSymbols->Count());
  SkipBytes(4);
  uint8_t cls = uint8_t(ReadByte());
  uint16_t memAttr = uint16_t(ReadWord());
  uint32_t value = ReadLong();
  uint32_t nameIndex = ReadLong();  // a t_scoped_name entry; not checked
  uint16_t typeId = uint16_t(ReadWord());
  m_pSymbols->AddSymbol(cls, memAttr, value, nameIndex, typeId);
  AddLabel(cls, memAttr, value, nameIndex);
  ReadRanges(ReadWord());
  SkipBytes(1);
  AddPrefixAlias(cls, memAttr, value, nameIndex);
  return 0;
}

// A name with the "_A_" prefix gets an alias without it when the record
// that follows is a t_sub_def_obj_attr with the alias bit set. That record
// is only peeked at: the stream is put back so that the tag loop reads and
// dispatches it normally.
void CParser::AddPrefixAlias(uint8_t cls, uint16_t memAttr, uint32_t value, uint32_t nameIndex) {
  std::string name = m_pNameTable->GetName(nameIndex);
  if (name.compare(0, kAliasPrefixLength, kAliasPrefix) != 0) return;
  uint64_t pos = Tell();
  if (ReadByte() == kTagSubDefObjAttr) {
    SkipBytes(2);
    uint32_t attribute = ReadLong();
    if (attribute & kAttrAlias) {
      uint32_t aliasId = m_pSymbols->Count();
      AttachSymbolId(aliasId);
      const NameEntry* entry = m_pNameTable->Entry(nameIndex);
      uint32_t aliasName =
          m_pNameTable->AddName(kNameSymbol, kSubNone, name.c_str() + kAliasPrefixLength, aliasId,
                                entry ? entry->Link : kNone);
      // The alias has no ranges and is no label.
      m_pSymbols->AddSymbol(cls, memAttr, value, aliasName, kAliasTypeId);
    }
  }
  SeekTo(pos);
}

int CParser::t_sub_def_obj_attr() {
  SkipBytes(2);
  ReadLong();  // object attribute: only the look-ahead of t_symbol_def2 uses it
  SkipBytes(uint32_t(ReadByte()));
  return 0;
}

int CParser::t_macro() {
  StringPtr name = ReadByteString();
  StringPtr text = ReadWordString();
  AttachMacroId(uint32_t(m_pMacros->size()));
  MacroRecord rec;
  rec.Name = name.get();
  rec.Text = text.get();
  m_pMacros->push_back(std::move(rec));
  return 0;
}

}  // namespace mirl
