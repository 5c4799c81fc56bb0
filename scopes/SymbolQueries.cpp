// Symbol lookups. Not built yet.
#include "SymbolTable.h"

namespace mirl {
SymbolLocation SymbolTable::GetLocation(uint32_t, uint32_t) const { return SymbolLocation(); }
uint32_t SymbolTable::FindSymbolInScope(const ScopeTable&, uint32_t, const std::string&) const {
  return kNone;
}
uint32_t SymbolTable::FindSymbol(const ScopeTable&, uint32_t, const std::string&,
                                 uint32_t* pScopeFound) const {
  if (pScopeFound) *pScopeFound = kNone;
  return kNone;
}
uint32_t SymbolTable::RegisterAddress(uint32_t) { return 0; }
}  // namespace mirl
