// An index over the finished symbol tables that answers the name searches of
// the symbol table with the same results as its linear scans, which compare
// the name of every symbol of every module on the way.
#ifndef MIRL_SYMBOLNAMEINDEX_H
#define MIRL_SYMBOLNAMEINDEX_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "NameTable.h"

namespace mirl {

class ScopeTable;
class SymbolTable;
struct SegmentGroupRecord;

class SymbolNameIndex {
 public:
  // Indexes the tables as they stand; they must not change afterwards
  // (Matches tells when they have).
  void Build(const SymbolTable& symbols, const ScopeTable& scopes,
             const std::vector<SegmentGroupRecord>* pGroups);
  // Whether the tables still have the shape they had when indexed.
  bool Matches(const SymbolTable& symbols, const ScopeTable& scopes) const;

  // The number of a distinct findable name, kNone when no findable symbol has
  // that name.
  uint32_t NameNumber(const std::string& name) const;
  // FindSymbolInScope for a name number.
  uint32_t FindInScope(const ScopeTable& scopes, uint32_t scope, uint32_t name) const;
  // The second step of FindSymbol: the first module in creation order, other
  // than skip, that has the name; its result and the module.
  uint32_t FindInModules(const ScopeTable& scopes, uint32_t name, uint32_t skip) const;

 private:
  static uint64_t Key(uint32_t container, uint32_t name) {
    return uint64_t(container) << 32 | name;
  }

  // (container, name) to the first symbol of that name in the container's
  // list, as two arrays sorted by key (half the memory of a hash map, and
  // the tables can hold one entry per symbol).
  struct FirstOfName {
    std::vector<uint64_t> keys;
    std::vector<uint32_t> ids;
    // Adds one container's (name, symbol) pairs, given in list order;
    // containers must come in ascending order.
    void AddContainer(uint32_t container, std::vector<std::pair<uint32_t, uint32_t>>& named);
    uint32_t Find(uint64_t key) const;
  };

  std::unordered_map<std::string, uint32_t> m_Names;
  // (scope, name) and (segment group, name) to the first symbol of that name
  // in the scope's own list or in the group's list.
  FirstOfName m_FirstInScope;
  FirstOfName m_FirstInGroup;
  // Per name: the positions in the module list of the modules whose own list
  // has the name, ascending; and the groups that have it.
  std::vector<std::vector<uint32_t>> m_ModulePositions;
  std::vector<std::vector<uint32_t>> m_Groups;
  // Per group: the ascending positions of the modules that refer to it.
  std::vector<std::vector<uint32_t>> m_ModulesOfGroup;

  bool m_bBuilt = false;
  size_t m_Symbols = 0, m_Scopes = 0, m_Modules = 0, m_GroupCount = 0, m_NameEntries = 0;
};

}  // namespace mirl

#endif
