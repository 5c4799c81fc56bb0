#include "SymbolNameIndex.h"

#include <algorithm>

#include "../ubrof/Modules.h"
#include "ScopeTable.h"
#include "SymbolTable.h"

namespace mirl {

namespace {
// Classes 6 and 9 are never found by name.
bool Findable(const SymbolRecord& s) { return s.Class != 6 && s.Class != 9; }

// Appends v unless it is already the last entry (the lists are built in
// ascending order, so that keeps them free of repeats).
void AddLast(std::vector<uint32_t>& list, uint32_t v) {
  if (list.empty() || list.back() != v) list.push_back(v);
}
}  // namespace

void SymbolNameIndex::Build(const SymbolTable& symbols, const ScopeTable& scopes,
                            const std::vector<SegmentGroupRecord>* pGroups) {
  *this = SymbolNameIndex();
  const size_t n = symbols.Symbols.size();
  // The name number of each symbol, looked up once: kNone for symbols that
  // are never found by name.
  std::vector<uint32_t> nameOf(n, kNone);
  std::vector<bool> looked(n, false);
  auto nameNumber = [&](uint32_t id) -> uint32_t {
    if (id >= n || !Findable(symbols.Symbols[id])) return kNone;
    if (!looked[id]) {
      looked[id] = true;
      std::string text = symbols.m_pNames->GetName(symbols.Symbols[id].NameIndex);
      auto it = m_Names.emplace(std::move(text), uint32_t(m_Names.size())).first;
      nameOf[id] = it->second;
      if (m_ModulePositions.size() <= it->second) {
        m_ModulePositions.resize(size_t(it->second) + 1);
        m_Groups.resize(size_t(it->second) + 1);
      }
    }
    return nameOf[id];
  };

  // The first symbol of each name in each list, in list order: what the
  // linear search of that list returns.
  std::vector<std::pair<uint32_t, uint32_t>> named;
  for (uint32_t s = 0; s < scopes.Count(); ++s) {
    named.clear();
    for (uint32_t id : scopes.Scopes[s].Symbols) {
      uint32_t name = nameNumber(id);
      if (name != kNone) named.emplace_back(name, id);
    }
    m_FirstInScope.AddContainer(s, named);
  }
  const size_t groups = pGroups ? pGroups->size() : 0;
  for (uint32_t g = 0; g < groups; ++g) {
    named.clear();
    for (uint32_t id : (*pGroups)[g].m_SymbolIds) {
      uint32_t name = nameNumber(id);
      if (name == kNone) continue;
      named.emplace_back(name, id);
      AddLast(m_Groups[name], g);
    }
    m_FirstInGroup.AddContainer(g, named);
  }
  m_FirstInScope.keys.shrink_to_fit();
  m_FirstInScope.ids.shrink_to_fit();
  m_FirstInGroup.keys.shrink_to_fit();
  m_FirstInGroup.ids.shrink_to_fit();

  // Which modules, by position in the module list, have a name in their own
  // list, and which refer to each group.
  m_ModulesOfGroup.resize(groups);
  for (uint32_t p = 0; p < scopes.RootScopes.size(); ++p) {
    const ScopeRecord* m = scopes.Scope(scopes.RootScopes[p]);
    if (!m) continue;
    for (uint32_t id : m->Symbols) {
      uint32_t name = nameNumber(id);
      if (name != kNone) AddLast(m_ModulePositions[name], p);
    }
    for (uint32_t g : m->GroupRefs)
      if (g < groups) AddLast(m_ModulesOfGroup[g], p);
  }

  m_Symbols = n;
  m_Scopes = scopes.Count();
  m_Modules = scopes.RootScopes.size();
  m_GroupCount = groups;
  m_NameEntries = symbols.m_pNames->Count();
  m_bBuilt = true;
}

// Sorted by name within the container; of several entries with one name the
// first in list order stays.
void SymbolNameIndex::FirstOfName::AddContainer(uint32_t container,
                                                std::vector<std::pair<uint32_t, uint32_t>>& named) {
  std::stable_sort(named.begin(), named.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (size_t i = 0; i < named.size(); ++i) {
    if (i > 0 && named[i].first == named[i - 1].first) continue;
    keys.push_back(Key(container, named[i].first));
    ids.push_back(named[i].second);
  }
}

uint32_t SymbolNameIndex::FirstOfName::Find(uint64_t key) const {
  auto it = std::lower_bound(keys.begin(), keys.end(), key);
  return it != keys.end() && *it == key ? ids[size_t(it - keys.begin())] : kNone;
}

bool SymbolNameIndex::Matches(const SymbolTable& symbols, const ScopeTable& scopes) const {
  return m_bBuilt && m_Symbols == symbols.Symbols.size() && m_Scopes == scopes.Count() &&
         m_Modules == scopes.RootScopes.size() &&
         m_GroupCount == (symbols.m_pGroups ? symbols.m_pGroups->size() : 0) &&
         m_NameEntries == symbols.m_pNames->Count();
}

uint32_t SymbolNameIndex::NameNumber(const std::string& name) const {
  auto it = m_Names.find(name);
  return it == m_Names.end() ? kNone : it->second;
}

uint32_t SymbolNameIndex::FindInScope(const ScopeTable& scopes, uint32_t scope,
                                      uint32_t name) const {
  const ScopeRecord* s = scopes.Scope(scope);
  if (!s || name == kNone) return kNone;
  uint32_t id = m_FirstInScope.Find(Key(scope, name));
  if (id != kNone) return id;
  for (uint32_t g : s->GroupRefs) {
    if (g >= m_GroupCount) continue;
    if ((id = m_FirstInGroup.Find(Key(g, name))) != kNone) return id;
  }
  return kNone;
}

uint32_t SymbolNameIndex::FindInModules(const ScopeTable& scopes, uint32_t name,
                                        uint32_t skip) const {
  if (name == kNone || name >= m_ModulePositions.size()) return kNone;
  // The earliest module, other than the skipped one, that has the name in
  // its own list or through one of its groups; the module search answers
  // there exactly as the scan of every module would.
  const std::vector<uint32_t>& roots = scopes.RootScopes;
  uint32_t best = kNone;
  for (uint32_t p : m_ModulePositions[name])
    if (roots[p] != skip) {
      best = p;
      break;
    }
  for (uint32_t g : m_Groups[name])
    for (uint32_t p : m_ModulesOfGroup[g]) {
      if (p >= best) break;
      if (roots[p] != skip) {
        best = p;
        break;
      }
    }
  return best == kNone ? kNone : FindInScope(scopes, roots[best], name);
}

}  // namespace mirl
