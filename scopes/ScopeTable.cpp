#include "ScopeTable.h"

#include "../platform/Platform.h"
#include "../source/SourceFiles.h"

namespace mirl {

// ---------------------------------------------------------------------------
// Building
// ---------------------------------------------------------------------------
ScopeRecord& ScopeTable::PushScope() {
  uint32_t id = uint32_t(Scopes.size());
  if (CurrentScope == kNone) {
    RootScopes.push_back(id);
    CurrentModule = id;
  } else {
    Scopes[CurrentScope].Children.push_back(id);
  }
  Scopes.emplace_back();
  Scopes.back().Parent = CurrentScope;
  CurrentScope = id;
  return Scopes.back();
}

void ScopeTable::PopScope() {
  if (CurrentScope == kNone) return;
  uint32_t closed = CurrentScope;
  CurrentScope = Scopes[closed].Parent;
  if (CurrentScope == kNone) CurrentModule = kNone;
  // A closed scope's code is part of its parent's range.
  WidenScope(Scopes[closed].LowAddress, Scopes[closed].HighAddress);
}

void ScopeTable::WidenScope(uint32_t low, uint32_t high) {
  if (CurrentScope == kNone) return;
  ScopeRecord& s = Scopes[CurrentScope];
  if (low < s.LowAddress) s.LowAddress = low;
  if (high > s.HighAddress) s.HighAddress = high;
}

void ScopeTable::AddGroupRef(uint32_t group) {
  if (CurrentScope != kNone) Scopes[CurrentScope].GroupRefs.push_back(group);
}

void ScopeTable::AddStatementRun(uint32_t run) {
  if (CurrentScope != kNone) Scopes[CurrentScope].StatementRuns.push_back(run);
}

void ScopeTable::AddSymbolId(uint32_t id) {
  if (CurrentScope != kNone) Scopes[CurrentScope].Symbols.push_back(id);
}

void ScopeTable::AddMacroId(uint32_t id) {
  if (CurrentScope != kNone) Scopes[CurrentScope].Macros.push_back(id);
}

void ScopeTable::SetFileRef(uint32_t ref, uint32_t fileId) {
  if (CurrentModule == kNone) return;
  std::vector<uint32_t>& refs = Scopes[CurrentModule].FileRefs;
  if (refs.size() < size_t(ref) + 1) refs.resize(size_t(ref) + 1, kNone);
  refs[ref] = fileId;
}

uint32_t ScopeTable::GetFileRef(uint32_t ref) const {
  if (CurrentModule == kNone) return kNone;
  const std::vector<uint32_t>& refs = Scopes[CurrentModule].FileRefs;
  // A reference number the module never registered names no file.
  return ref < refs.size() ? refs[ref] : kNone;
}

// ---------------------------------------------------------------------------
// Queries. Ids, runs and statements come from the file and are checked
// against their tables before they are used.
// ---------------------------------------------------------------------------
std::string ScopeTable::ScopeName(uint32_t id) const {
  const ScopeRecord* s = Scope(id);
  return s ? m_pNames->GetName(s->NameIndex) : std::string();
}

bool ScopeTable::Contains(uint32_t id, uint32_t address) const {
  const ScopeRecord* s = Scope(id);
  return s && s->LowAddress <= address && address < s->HighAddress;
}

uint32_t ScopeTable::FindScopeByAddress(uint32_t a) const {
  uint32_t result = kNone;
  for (uint32_t m : RootScopes) {
    if (!Contains(m, a)) continue;
    result = m;
    // Walk down through the first child at each level that holds a. Scope
    // children always have higher ids than their parent, so the walk ends.
    const ScopeRecord* level = &Scopes[m];
    for (;;) {
      uint32_t next = kNone;
      for (uint32_t c : level->Children) {
        if (Contains(c, a)) {
          next = c;
          break;
        }
      }
      if (next == kNone) break;
      result = next;
      level = &Scopes[next];
      if (level->Children.empty()) return result;
    }
    if (result != m) return result;
    // Only the module itself holds a: it is the answer when the last
    // statement of one of its runs covers a; otherwise a later module that
    // holds a may still answer.
    for (uint32_t r : Scopes[m].StatementRuns) {
      if (r >= m_pRuns->size()) continue;
      const StatementRun& run = (*m_pRuns)[r];
      if (run.Count == 0) continue;
      uint64_t last = uint64_t(run.FirstStatement) + run.Count - 1;
      if (last >= m_pStatements->size()) continue;
      const StatementRecord& st = (*m_pStatements)[size_t(last)];
      if (st.Address <= a && uint64_t(a) < uint64_t(st.Address) + st.Length) return m;
    }
  }
  return result;
}

uint32_t ScopeTable::FindModuleByFile(uint32_t fileId) const {
  for (uint32_t m : RootScopes)
    for (uint32_t f : Scopes[m].FileRefs)
      if (f == fileId) return m;
  return kNone;
}

// Whether one of the scope's own statement runs spans the line.
bool ScopeTable::RunsCoverLine(uint32_t scope, int32_t line) const {
  const ScopeRecord* s = Scope(scope);
  if (!s) return false;
  for (uint32_t r : s->StatementRuns) {
    if (r >= m_pRuns->size()) continue;
    const StatementRun& run = (*m_pRuns)[r];
    if (run.Count == 0 || run.FirstStatement >= m_pStatements->size()) continue;
    int32_t first = (*m_pStatements)[run.FirstStatement].Line;
    if (first <= line && line <= run.MaxEndLine) return true;
  }
  return false;
}

// Depth first below the scope, each child before its own children and those
// before its next sibling. A file can nest scopes as deep as it likes, so the
// walk keeps its own stack instead of recursing.
uint32_t ScopeTable::FindScopeByLine(uint32_t scope, uint32_t line) const {
  if (!Scope(scope)) return kNone;
  int32_t wanted = int32_t(line);
  // Each entry: a scope and the position of the next child of it to visit.
  std::vector<std::pair<uint32_t, size_t>> stack;
  stack.emplace_back(scope, 0);
  while (!stack.empty()) {
    auto& top = stack.back();
    const ScopeRecord& s = Scopes[top.first];
    if (top.second >= s.Children.size()) {
      stack.pop_back();
      continue;
    }
    uint32_t c = s.Children[top.second++];
    if (!Scope(c)) continue;
    if (RunsCoverLine(c, wanted)) return c;
    stack.emplace_back(c, 0);
  }
  return kNone;
}

uint32_t ScopeTable::FindChildScope(uint32_t scope, const std::string& text) const {
  const ScopeRecord* s = Scope(scope);
  if (!s) return kNone;
  for (uint32_t c : s->Children) {
    const ScopeRecord* child = Scope(c);
    // A child whose name index is 0 counts as unnamed: never matched by name.
    if (!child || child->NameIndex == 0) continue;
    if (m_pNames->GetName(child->NameIndex) == text) return c;
  }
  return kNone;
}

bool ScopeTable::CollectChildScopes(uint32_t scope, uint32_t& count, uint32_t*& array,
                                    bool append) const {
  if (!append) {
    count = 0;
    array = nullptr;
  }
  uint32_t old = count;
  if (scope == kNone) {
    if (RootScopes.empty()) return true;
    auto* p = static_cast<uint32_t*>(
        CoTaskMemRealloc(array, (size_t(old) + RootScopes.size()) * sizeof(uint32_t)));
    if (!p) return false;
    array = p;
    for (uint32_t m : RootScopes)
      if (!Scopes[m].Hidden) array[count++] = m;
    return true;
  }
  const ScopeRecord* s = Scope(scope);
  if (!s || s->Children.empty()) return true;
  auto* p = static_cast<uint32_t*>(
      CoTaskMemRealloc(array, (size_t(old) + s->Children.size()) * sizeof(uint32_t)));
  if (!p) return false;
  array = p;
  for (uint32_t c : s->Children) array[count++] = c;
  return true;
}

}  // namespace mirl
