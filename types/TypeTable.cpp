// Type table, type records and type queries. Not built yet.
#include "TypeTable.h"

#include "../component/CMirlParserUbrof.h"
#include "../ubrof/Parser.h"

namespace mirl {
TypeTable::TypeTable(NameTable* pNames) : Types(100), m_pNames(pNames) {}
void TypeTable::AddPredefinedType(uint32_t, uint32_t, uint32_t, uint32_t) {}
void TypeTable::SetType(uint32_t, const TypeRecord&) {}
void TypeTable::SetTypeSize(uint32_t, uint32_t) {}
std::string TypeTable::FormatTypeName(uint32_t) const { return std::string(); }
void TypeTable::GetTypeAttributes(uint32_t, uint32_t*, uint32_t*, uint32_t*, uint8_t*,
                                  uint32_t*) const {}
uint32_t TypeTable::PointerKindFromFlags(uint32_t) { return 23; }

int CParser::t_def_ptr_types() { return 1; }
int CParser::t_type() { return 1; }
int CParser::t_size_type() { return 1; }
int CParser::t_mem_info() { return 1; }
}  // namespace mirl

HRESULT CMirlParserUbrof::GetTypeInfo(ULONG, BSTR*, ULONG*, ULONG*, ULONG*, unsigned char*,
                                      ULONG*) {
  return E_NOTIMPL;
}
HRESULT CMirlParserUbrof::GetRefferedType(ULONG, ULONG*, ULONG*) { return E_NOTIMPL; }
HRESULT CMirlParserUbrof::GetStructuralMember(ULONG, BSTR*, ULONG, ULONG*, ULONG*) {
  return E_NOTIMPL;
}
HRESULT CMirlParserUbrof::EvaluateByLocation(ULONG, ULONG, unsigned char, BSTR*, BSTR*, BSTR*) {
  return E_NOTIMPL;
}
HRESULT CMirlParserUbrof::EvaluateByValue(ULONG, ULONG, double, BSTR*, BSTR*, BSTR*) {
  return E_NOTIMPL;
}
HRESULT CMirlParserUbrof::GetValue(ULONG, ULONG, unsigned char, ULONG*, double*) {
  return E_NOTIMPL;
}
HRESULT CMirlParserUbrof::SetValue(ULONG, ULONG, unsigned char, ULONG, double) {
  return E_NOTIMPL;
}
