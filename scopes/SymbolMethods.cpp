// Symbol methods of IMirlParser, and GetProgramExit of IMirlParserMem.
#include <string>
#include <utility>

#include "../component/CMirlParserUbrof.h"

using mirl::kNone;

const uint32_t* CMirlParserUbrof::FindLabel(uint32_t address) const {
  auto it = m_SymbolIndex.find(address);
  return it == m_SymbolIndex.end() ? nullptr : &it->second;
}

HRESULT CMirlParserUbrof::LookupLabel(ULONG ulAddress, BSTR* pbstrLabel) {
  if (!pbstrLabel) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  const uint32_t* name = FindLabel(ulAddress);
  if (!name) return E_FAIL;
  ReplaceBstr(pbstrLabel, m_NameTable.GetName(*name));
  return S_OK;
}

// There are no symbol categories.
HRESULT CMirlParserUbrof::EnumSymbolCategories(ULONG /*ulCategoryId*/, BSTR* pbstrName) {
  if (!pbstrName) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  SysFreeString(*pbstrName);
  *pbstrName = nullptr;
  return PARSER_E_BAD_ID;
}

// Tells the host whether the id it holds is past the last symbol; the scope
// and the category are not used and nothing is written.
HRESULT CMirlParserUbrof::EnumSymbols(ULONG /*ulScopeId*/, ULONG /*ulCategoryId*/,
                                      ULONG* pulSymbolId) {
  if (!pulSymbolId) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  return *pulSymbolId < m_SymbolTable.Count() ? PARSER_E_BAD_ID : S_OK;
}

uint32_t CMirlParserUbrof::FindSymbolNamed(std::string name, uint32_t scope, bool global,
                                           uint32_t* pScopeFound) const {
  // Names are compared as the name table gives them: at most 999 characters.
  if (name.size() > mirl::kMaxNameLength) name.resize(mirl::kMaxNameLength);
  return m_SymbolTable.FindSymbol(m_ScopeTable, global ? kNone : scope, name, pScopeFound);
}

HRESULT CMirlParserUbrof::LookupSymbolName(BSTR* pbstrName, ULONG ulScopeIdIn, ULONG ulFlags,
                                           ULONG* pulSymbolId, ULONG* pulScopeIdOut) {
  if (!pbstrName || !pulSymbolId) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  // The scope is checked even for a global search.
  if (ulScopeIdIn >= m_ScopeTable.Count()) return PARSER_E_BAD_ID;
  bool ok = false;
  std::string name = platform::BstrToAnsi(*pbstrName, &ok);
  SysFreeString(*pbstrName);
  *pbstrName = nullptr;
  // A missing name (or one that cannot be converted) names no symbol.
  if (!ok) return E_FAIL;
  uint32_t scopeFound = kNone;
  uint32_t id = FindSymbolNamed(std::move(name), ulScopeIdIn, ulFlags == 1, &scopeFound);
  if (id == kNone) return E_FAIL;
  *pulSymbolId = id;
  // Not checked by the interface; a null pointer is simply not written.
  if (pulScopeIdOut) *pulScopeIdOut = scopeFound;
  return S_OK;
}

HRESULT CMirlParserUbrof::GetSymbolInfo(ULONG ulSymbolId, BSTR* pbstrName, ULONG* pulScopeId,
                                        ULONG* pulTypeId) {
  if (!pbstrName || !pulTypeId) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  if (ulSymbolId >= m_SymbolTable.Count()) return PARSER_E_BAD_ID;
  const mirl::SymbolRecord& s = m_SymbolTable.Symbols[ulSymbolId];
  // The host receives the symbol's name index here, not a scope id.
  if (pulScopeId) *pulScopeId = s.NameIndex;
  *pulTypeId = s.TypeId;
  ReplaceBstr(pbstrName, m_NameTable.GetName(s.NameIndex));
  return S_OK;
}

HRESULT CMirlParserUbrof::GetSymbolLocation(ULONG ulSymbolId, ULONG ulProgAddr,
                                            unsigned char* pucInfo, ULONG* pulAddress,
                                            unsigned char* pucMemType) {
  if (!pulAddress || !pucMemType) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  if (ulSymbolId >= m_SymbolTable.Count()) return PARSER_E_BAD_ID;
  mirl::SymbolLocation loc = m_SymbolTable.GetLocation(ulSymbolId, ulProgAddr);
  // pucInfo is not checked by the interface; a null pointer is not written.
  if (pucInfo) *pucInfo = loc.Kind;
  if (loc.HasAddress) *pulAddress = loc.Address;
  if (loc.HasMemType) *pucMemType = loc.MemType;
  return S_OK;
}

// The address of the program's "exit", found by the global search. Works
// from the tables as they are: before a parse nothing is found.
HRESULT CMirlParserUbrof::GetProgramExit(ULONG* pulProgAddr) {
  if (!pulProgAddr) return E_POINTER;
  uint32_t id = m_SymbolTable.FindSymbol(m_ScopeTable, kNone, "exit", nullptr);
  if (id == kNone) return E_FAIL;
  mirl::SymbolLocation loc = m_SymbolTable.GetLocation(id, 0);
  if (loc.Kind != 1) return E_FAIL;
  *pulProgAddr = loc.Address;
  return S_OK;
}
