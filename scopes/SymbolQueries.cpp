// Symbol lookups: where a symbol is at a code address, and the search for a
// symbol by name through the scope tree and the segment groups.
#include "../types/TypeTable.h"
#include "../ubrof/Modules.h"
#include "ScopeTable.h"
#include "SymbolTable.h"

namespace mirl {

namespace {
// Location classes with a meaning of their own.
enum : uint8_t {
  kClassNone = 0,
  kClassRegister = 8,
  kClassOwnLocation = 21,  // a range of this class defers to the symbol's own location
  kClassOther = 23,
};
// Memory attributes.
constexpr uint16_t kAttrData = 2;
constexpr uint16_t kAttrEeprom = 3;  // eeprom only for tools of version 2.0 and later
}  // namespace

uint32_t SymbolTable::RegisterAddress(uint32_t n) {
  // Register numbers name single registers, pairs, quadruples and groups of
  // eight; the address is that of the first register of the group.
  if (n <= 31) return n;
  if (n <= 47) return 2 * n - 64;
  if (n <= 55) return 4 * n - 192;
  if (n <= 61) return 4 * n - 224;
  if (n <= 73) return n;
  if (n <= 77) return 8 * n - 592;
  return 0;
}

SymbolLocation SymbolTable::GetLocation(uint32_t id, uint32_t address) const {
  SymbolLocation loc;
  if (id >= Symbols.size()) return loc;
  const SymbolRecord& sym = Symbols[id];
  uint8_t cls = sym.Class;
  uint16_t memAttr = sym.MemoryAttribute;
  uint32_t value = sym.Value;

  // The ranges are in ascending Start order: the last one that starts at or
  // below the address holds. 0xFFFFFFFF asks for the symbol's own location.
  if (address != kNone) {
    const LocationRange* taken = nullptr;
    for (uint64_t i = sym.FirstRange, end = uint64_t(sym.FirstRange) + sym.RangeCount;
         i < end && i < Ranges.size(); ++i) {
      if (Ranges[size_t(i)].Start > address) break;
      taken = &Ranges[size_t(i)];
    }
    if (taken && taken->Class != kClassNone && taken->Class != kClassOwnLocation) {
      cls = taken->Class;
      memAttr = taken->MemoryAttribute;
      value = taken->Value;
    }
  }

  if (m_pTypes && m_pTypes->IsIoType(sym.TypeId)) {
    loc.Kind = 1;
    loc.HasAddress = true;
    loc.Address = value;
    loc.HasMemType = true;
    loc.MemType = kMemIo;
    return loc;
  }

  switch (cls) {
    case 1:
    case 2:
    case 3:
    case 4:
      loc.Kind = 1;
      loc.HasAddress = true;
      loc.Address = value;
      loc.HasMemType = true;
      if (memAttr == kAttrData)
        loc.MemType = kMemData;
      else if (memAttr == kAttrEeprom)
        // A version that is not a number compares false: program memory.
        loc.MemType = CompilerVersion >= 2.0 ? kMemEeprom : kMemProgram;
      else
        loc.MemType = kMemProgram;
      break;
    case 7:
      loc.Kind = 2;
      loc.HasAddress = true;
      loc.Address = value;
      break;
    case kClassRegister:
      loc.Kind = 1;
      loc.HasAddress = true;
      loc.Address = RegisterAddress(value);
      loc.HasMemType = true;
      loc.MemType = kMemRegister;
      break;
    case 9:
    case 22:
      loc.Kind = 3;
      loc.HasAddress = true;
      loc.Address = value;
      break;
    case kClassOther:
      loc.Kind = 4;
      break;
    default:
      loc.Kind = 0;
      break;
  }
  return loc;
}

// Classes 6 and 9 are never found by name.
static bool Findable(const SymbolRecord& s) { return s.Class != 6 && s.Class != 9; }

uint32_t SymbolTable::FindSymbolInScope(const ScopeTable& scopes, uint32_t scope,
                                        const std::string& name) const {
  if (m_NameIndex.Matches(*this, scopes))
    return m_NameIndex.FindInScope(scopes, scope, m_NameIndex.NameNumber(name));
  std::vector<bool> searched;
  return FindSymbolInScope(scopes, scope, name, searched);
}

// A segment group can be referred to by many scopes, and many times by one;
// a group that did not hold the name will not hold it the next time, so each
// is searched once per search. Otherwise a file of group references could
// make one lookup take time of the square of its size.
uint32_t SymbolTable::FindSymbolInScope(const ScopeTable& scopes, uint32_t scope,
                                        const std::string& name,
                                        std::vector<bool>& searched) const {
  const ScopeRecord* s = scopes.Scope(scope);
  if (!s) return kNone;
  // Symbol ids and group numbers come from the record stream and are
  // checked against their tables before use.
  auto matches = [&](uint32_t id) {
    return id < Symbols.size() && Findable(Symbols[id]) &&
           m_pNames->GetName(Symbols[id].NameIndex) == name;
  };
  for (uint32_t id : s->Symbols)
    if (matches(id)) return id;
  if (!m_pGroups) return kNone;
  for (uint32_t g : s->GroupRefs) {
    if (g >= m_pGroups->size()) continue;
    if (searched.size() < m_pGroups->size()) searched.resize(m_pGroups->size());
    if (searched[g]) continue;
    searched[g] = true;
    for (uint32_t id : (*m_pGroups)[g].m_SymbolIds)
      if (matches(id)) return id;
  }
  return kNone;
}

uint32_t SymbolTable::FindSymbol(const ScopeTable& scopes, uint32_t scope, const std::string& name,
                                 uint32_t* pScopeFound) const {
  if (pScopeFound) *pScopeFound = kNone;
  if (m_NameIndex.Matches(*this, scopes))
    return FindSymbolIndexed(scopes, scope, name, pScopeFound);
  // Outward from the scope. A parent always has a lower id than its child,
  // so the walk ends; the step limit only guards against a damaged table.
  uint32_t lastTried = kNone;
  std::vector<bool> searched;
  for (uint32_t steps = 0; scope != kNone && scope < scopes.Count() && steps <= scopes.Count();
       ++steps) {
    uint32_t id = FindSymbolInScope(scopes, scope, name, searched);
    if (id != kNone) {
      if (pScopeFound) *pScopeFound = scope;
      return id;
    }
    lastTried = scope;
    scope = scopes.Scopes[scope].Parent;
  }
  // Then every other module; a symbol found there is reported without a
  // scope.
  for (uint32_t m : scopes.RootScopes) {
    if (m == lastTried) continue;
    uint32_t id = FindSymbolInScope(scopes, m, name, searched);
    if (id != kNone) return id;
  }
  return kNone;
}

// The same search through the name index: each scope on the way and the
// module search answer in constant time instead of comparing every name.
uint32_t SymbolTable::FindSymbolIndexed(const ScopeTable& scopes, uint32_t scope,
                                        const std::string& name, uint32_t* pScopeFound) const {
  uint32_t number = m_NameIndex.NameNumber(name);
  if (number == kNone) return kNone;
  uint32_t lastTried = kNone;
  for (uint32_t steps = 0; scope != kNone && scope < scopes.Count() && steps <= scopes.Count();
       ++steps) {
    uint32_t id = m_NameIndex.FindInScope(scopes, scope, number);
    if (id != kNone) {
      if (pScopeFound) *pScopeFound = scope;
      return id;
    }
    lastTried = scope;
    scope = scopes.Scopes[scope].Parent;
  }
  return m_NameIndex.FindInModules(scopes, number, lastTried);
}

}  // namespace mirl
