// Type methods of IMirlParser, and the value methods, which this component
// does not implement.
#include <cstring>

#include "../component/CMirlParserUbrof.h"

using mirl::TypeRecord;

namespace {

// Exact comparison of automation strings: same length, same characters; a
// null string equals an empty one.
bool SameBstr(BSTR a, BSTR b) {
  UINT n = a ? SysStringLen(a) : 0;
  if (n != (b ? SysStringLen(b) : 0)) return false;
  return n == 0 || std::memcmp(a, b, n * sizeof(OLECHAR)) == 0;
}

}  // namespace

HRESULT CMirlParserUbrof::GetTypeInfo(ULONG ulTypeId, BSTR* pbstrName, ULONG* pulSize,
                                      ULONG* pulSpec, ULONG* pulElements, unsigned char* pucMemType,
                                      ULONG* pulPtrSize) {
  // The memory type and pointer size are written when the caller gives a
  // place for them; a null there is not an error.
  if (!pbstrName || !pulSize || !pulSpec || !pulElements) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  if (ulTypeId >= m_TypeTable.TypeCount()) return PARSER_E_BAD_ID;
  ReplaceBstr(pbstrName, m_TypeTable.FormatTypeName(ulTypeId));
  uint32_t spec = uint32_t(*pulSpec), size = uint32_t(*pulSize);
  uint32_t elements = uint32_t(*pulElements);
  uint32_t ptrSize = pulPtrSize ? uint32_t(*pulPtrSize) : 0;
  uint8_t memType = pucMemType ? *pucMemType : 0;
  m_TypeTable.GetTypeAttributes(ulTypeId, &spec, &size, &elements, &memType, &ptrSize);
  *pulSpec = spec;
  *pulSize = size;
  *pulElements = elements;
  if (pucMemType) *pucMemType = memType;
  if (pulPtrSize) *pulPtrSize = ptrSize;
  return S_OK;
}

HRESULT CMirlParserUbrof::FindReferredType(uint32_t typeId, uint32_t* pType,
                                           uint32_t* pMemType) const {
  // Qualifiers and typedefs ask again for the type they stand for. A chain
  // that does not end (a file can make it a cycle) has no answer; one that
  // leads outside the table names a bad id, as the first id would.
  for (uint32_t next = 0; m_TypeTable.ForwardedTypeId(typeId, &next); typeId = next) {
    if (!m_TypeTable.ForwardingEnds(typeId)) return E_FAIL;
    if (next >= m_TypeTable.TypeCount()) return PARSER_E_BAD_ID;
  }
  const TypeRecord& t = m_TypeTable.Types[typeId];
  switch (t.Kind) {
    case mirl::kKindPointer:
    case mirl::kKindArray:
    case mirl::kKindArray32:
    case 23:
    case 24:
    case 25:
    case 26:
    case 27:
    case 28:
    case 29:
    case 30:
      *pType = t.Word1;
      *pMemType = mirl::kMemData;
      return S_OK;
    case 31:
    case 32:
    case 33:
    case 34:
    case 37:
    case 38:
    case 39:
    case 40:
      *pType = t.Word1;
      *pMemType = mirl::kMemProgram;
      return S_OK;
    case mirl::kKindBitfield:
      *pType = t.Word3;
      *pMemType = mirl::kMemData;
      return S_OK;
    default:
      // Kind 21 is not passed on, unlike 36; references and pointers to
      // members have no answer either.
      return E_FAIL;
  }
}

HRESULT CMirlParserUbrof::GetRefferedType(ULONG ulTypeIdIn, ULONG* pulTypeIdOut,
                                          ULONG* pulMemType) {
  if (!pulTypeIdOut || !pulMemType) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  if (ulTypeIdIn >= m_TypeTable.TypeCount()) return PARSER_E_BAD_ID;
  uint32_t type = 0, memType = 0;
  HRESULT hr = FindReferredType(ulTypeIdIn, &type, &memType);
  if (FAILED(hr)) return hr;
  *pulTypeIdOut = type;
  *pulMemType = memType;
  return S_OK;
}

HRESULT CMirlParserUbrof::FindMembers(uint32_t typeId, uint32_t* pFirst, uint32_t* pCount) const {
  for (uint32_t next = 0; m_TypeTable.ForwardedTypeId(typeId, &next); typeId = next) {
    if (!m_TypeTable.ForwardingEnds(typeId)) return E_FAIL;
    if (next >= m_TypeTable.TypeCount()) return PARSER_E_BAD_ID;
  }
  return m_TypeTable.MemberRange(m_TypeTable.Types[typeId], pFirst, pCount) ? S_OK : E_FAIL;
}

HRESULT CMirlParserUbrof::GetStructuralMember(ULONG ulTypeIdIn, BSTR* pbstrName, ULONG ulIndex,
                                              ULONG* pulTypeIdOut, ULONG* pulOffset) {
  if (!pbstrName || !pulTypeIdOut || !pulOffset) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  if (ulTypeIdIn >= m_TypeTable.TypeCount()) return PARSER_E_BAD_ID;
  uint32_t first = 0, count = 0;
  HRESULT hr = FindMembers(ulTypeIdIn, &first, &count);
  if (FAILED(hr)) return hr;
  if (ulIndex != 0xFFFFFFFF) {
    // An index beyond the type's own members reads nothing, as for a name
    // that matches no member.
    if (ulIndex >= count) return E_FAIL;
    const mirl::MemberRecord& m = m_TypeTable.Members[first + ulIndex];
    ReplaceBstr(pbstrName, m_NameTable.GetName(m.NameIndex));
    *pulTypeIdOut = m.TypeId;
    *pulOffset = m.Offset;
    return S_OK;
  }

  for (uint32_t i = 0; i < count; ++i) {
    const mirl::MemberRecord& m = m_TypeTable.Members[first + i];
    // Compared as the host would see the name, so that text the code page
    // cannot express never matches by accident.
    BSTR name = platform::AnsiToBstr(m_NameTable.GetName(m.NameIndex));
    bool same = SameBstr(name, *pbstrName);
    SysFreeString(name);
    if (same) {
      *pulTypeIdOut = m.TypeId;
      *pulOffset = m.Offset;
      return S_OK;
    }
  }
  return E_FAIL;
}

// ---- Value methods: not implemented; they check their pointers and the
// parse state and read nothing else.

HRESULT CMirlParserUbrof::EvaluateByLocation(ULONG, ULONG, unsigned char, BSTR* pbstrType,
                                             BSTR* pbstrLocation, BSTR* pbstrValue) {
  if (!pbstrType || !pbstrLocation || !pbstrValue) return E_POINTER;
  return IsParsed() ? E_NOTIMPL : PARSER_E_NOT_PARSED;
}

HRESULT CMirlParserUbrof::EvaluateByValue(ULONG, ULONG, double, BSTR* pbstrType,
                                          BSTR* pbstrLocation, BSTR* pbstrValue) {
  if (!pbstrType || !pbstrLocation || !pbstrValue) return E_POINTER;
  return IsParsed() ? E_NOTIMPL : PARSER_E_NOT_PARSED;
}

HRESULT CMirlParserUbrof::GetValue(ULONG, ULONG, unsigned char, ULONG* pulValue, double* pdValue) {
  if (!pulValue || !pdValue) return E_POINTER;
  return IsParsed() ? E_NOTIMPL : PARSER_E_NOT_PARSED;
}

HRESULT CMirlParserUbrof::SetValue(ULONG, ULONG, unsigned char, ULONG, double) {
  return IsParsed() ? E_NOTIMPL : PARSER_E_NOT_PARSED;
}
