// The symbol table with location ranges, the label index and the macro table.
#ifndef MIRL_SYMBOLTABLE_H
#define MIRL_SYMBOLTABLE_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "NameTable.h"
#include "SymbolNameIndex.h"

namespace mirl {

class TypeTable;
class ScopeTable;
struct SegmentGroupRecord;

struct SymbolRecord {
  uint8_t Class = 0;
  uint32_t Value = 0;
  uint16_t MemoryAttribute = 0;
  uint16_t TypeId = 0;
  uint32_t NameIndex = kNone;
  uint32_t FirstRange = 0;
  uint32_t RangeCount = 0;
};

struct LocationRange {
  uint32_t Start = 0;
  uint8_t Class = 0;
  uint32_t Value = 0;
  uint16_t MemoryAttribute = 0;
};

struct MacroRecord {
  std::string Name;
  std::string Text;
};

// Where a symbol is at a code address.
struct SymbolLocation {
  uint8_t Kind = 0;  // 0 none, 1 address, 2 register-relative, 3 constant, 4 other
  bool HasAddress = false;
  uint32_t Address = 0;
  bool HasMemType = false;
  uint8_t MemType = 0;
};

// Program address -> name index of the first symbol defined there.
typedef std::map<uint32_t, uint32_t> LabelIndex;

class SymbolTable {
 public:
  SymbolTable(NameTable* pNames, TypeTable* pTypes) : m_pNames(pNames), m_pTypes(pTypes) {}

  void AddSymbol(uint8_t cls, uint16_t memAttr, uint32_t value, uint32_t nameIndex,
                 uint16_t typeId);
  void AddRange(uint32_t start, uint8_t cls, uint16_t memAttr, uint32_t value);
  void SetCompilerVersion(double v);
  uint32_t Count() const { return uint32_t(Symbols.size()); }

  // Queries (scopes/SymbolQueries.cpp).
  SymbolLocation GetLocation(uint32_t id, uint32_t address) const;
  uint32_t FindSymbolInScope(const ScopeTable& scopes, uint32_t scope,
                             const std::string& name) const;
  // Returns the symbol id (kNone when not found) and the scope found in.
  uint32_t FindSymbol(const ScopeTable& scopes, uint32_t scope, const std::string& name,
                      uint32_t* pScopeFound) const;
  uint32_t FindSymbolIndexed(const ScopeTable& scopes, uint32_t scope, const std::string& name,
                             uint32_t* pScopeFound) const;
  static uint32_t RegisterAddress(uint32_t n);
  // Indexes the names of the finished tables for the two searches above; a
  // search falls back to scanning when the tables have changed since.
  void BuildNameIndex(const ScopeTable& scopes) { m_NameIndex.Build(*this, scopes, m_pGroups); }
  // FindSymbolInScope for one step of a longer search: the segment groups
  // marked in searched are passed over, and those searched now are marked.
  uint32_t FindSymbolInScope(const ScopeTable& scopes, uint32_t scope, const std::string& name,
                             std::vector<bool>& searched) const;

  std::vector<SymbolRecord> Symbols;
  std::vector<LocationRange> Ranges;
  double CompilerVersion = 0.0;
  NameTable* m_pNames;
  TypeTable* m_pTypes;
  const std::vector<SegmentGroupRecord>* m_pGroups = nullptr;
  SymbolNameIndex m_NameIndex;
};

}  // namespace mirl

#endif
