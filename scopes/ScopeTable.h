// The scope tree: modules, functions and blocks, in one numbering, with what
// each collected while it was open (symbols, macros, group references, file
// references, statement runs and the address range of its code).
#ifndef MIRL_SCOPETABLE_H
#define MIRL_SCOPETABLE_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "BlockArray.h"
#include "NameTable.h"

namespace mirl {

struct StatementRecord;
struct StatementRun;
struct SegmentGroupRecord;
struct MacroRecord;
class SymbolTable;

enum ScopeKind : uint32_t { kScopeFunction = 1, kScopeModule = 2, kScopeBlock = 3 };

struct ScopeRecord {
  uint32_t Kind = 0;
  uint32_t ModuleIndex = kNone;
  uint8_t Hidden = 0;
  uint32_t NameIndex = kNone;
  uint32_t LowAddress = 0xFFFFFFFFu;
  uint32_t HighAddress = 0;
  std::vector<uint32_t> Symbols;
  std::vector<uint32_t> Macros;
  std::vector<uint32_t> GroupRefs;
  std::vector<uint32_t> FileRefs;
  std::vector<uint32_t> StatementRuns;
  uint32_t Parent = kNone;
  std::vector<uint32_t> Children;
};

class ScopeTable {
 public:
  ScopeTable(NameTable* pNames, SymbolTable* pSymbols, std::vector<MacroRecord>* pMacros,
             std::vector<SegmentGroupRecord>* pGroups, std::vector<StatementRun>* pRuns,
             std::vector<StatementRecord>* pStatements)
      : m_pNames(pNames),
        m_pSymbols(pSymbols),
        m_pMacros(pMacros),
        m_pGroups(pGroups),
        m_pRuns(pRuns),
        m_pStatements(pStatements) {}

  // Building (used by the record handlers).
  ScopeRecord& PushScope();
  void PopScope();
  void WidenScope(uint32_t low, uint32_t high);
  void AddGroupRef(uint32_t group);
  void AddStatementRun(uint32_t run);
  void AddSymbolId(uint32_t id);
  void AddMacroId(uint32_t id);
  void SetFileRef(uint32_t ref, uint32_t fileId);
  uint32_t GetFileRef(uint32_t ref) const;

  // Queries.
  uint32_t Count() const { return uint32_t(Scopes.size()); }
  const ScopeRecord* Scope(uint32_t id) const { return id < Scopes.size() ? &Scopes[id] : nullptr; }
  std::string ScopeName(uint32_t id) const;
  bool Contains(uint32_t id, uint32_t address) const;
  uint32_t FindScopeByAddress(uint32_t address) const;
  uint32_t FindModuleByFile(uint32_t fileId) const;
  uint32_t FindScopeByLine(uint32_t scope, uint32_t line) const;
  uint32_t FindChildScope(uint32_t scope, const std::string& text) const;
  bool RunsCoverLine(uint32_t scope, int32_t line) const;
  // Lists child scopes (or the visible modules for kNone) into a
  // task-allocated array; returns false when the allocator fails.
  bool CollectChildScopes(uint32_t scope, uint32_t& count, uint32_t*& array, bool append) const;

  // Indexed by scope id like an array, but grown in blocks: a record holds
  // six lists, and a doubling array would keep the old and the new copy of
  // every record alive at once (the parse's peak memory) and move them all.
  BlockArray<ScopeRecord> Scopes;
  std::vector<uint32_t> RootScopes;
  uint32_t CurrentScope = kNone;
  uint32_t CurrentModule = kNone;

  NameTable* m_pNames;
  SymbolTable* m_pSymbols;
  std::vector<MacroRecord>* m_pMacros;
  std::vector<SegmentGroupRecord>* m_pGroups;
  std::vector<StatementRun>* m_pRuns;
  std::vector<StatementRecord>* m_pStatements;
};

}  // namespace mirl

#endif
