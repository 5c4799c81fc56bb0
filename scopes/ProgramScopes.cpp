// The read API's view of the scope tree, the symbols with their location
// ranges and owners, the labels and the macros, and the name and address
// lookups that the scope and symbol methods answer.
#include "../component/CMirlParserUbrof.h"
#include "../component/MirlProgram.h"

namespace mirl {
namespace api {

bool Program::GetScope(uint32_t id, Scope* out) const {
  const ScopeRecord* s = m_p->m_ScopeTable.Scope(id);
  if (!s) return false;
  out->id = id;
  out->kind = s->Kind;
  out->name = m_p->m_ScopeTable.ScopeName(id);
  out->parent = s->Parent;
  out->module = s->ModuleIndex;
  out->hidden = s->Hidden != 0;
  out->low = s->LowAddress;
  out->high = s->HighAddress;
  out->children = s->Children;
  out->symbols = s->Symbols;
  out->macros = s->Macros;
  out->groupRefs = s->GroupRefs;
  out->fileRefs = s->FileRefs;
  out->statementRuns = s->StatementRuns;
  return true;
}

std::vector<uint32_t> Program::RootScopes() const { return m_p->m_ScopeTable.RootScopes; }

uint32_t Program::ScopeAt(uint32_t address, unsigned kind) const {
  return m_p->FindScopeAt(address, kind);
}

uint32_t Program::ScopeNamed(const std::string& text) const { return m_p->FindScopeNamed(text); }

namespace {

// The name a plain name is scoped in, as the linker's map writes it: a
// function, and the numbers of the blocks inside it, innermost last
// ("f{11}{12}"). "<internal namespace ...>" keeps a name to its translation
// unit; the map shows such names bare.
std::string Qualifier(const NameTable& names, uint32_t index) {
  const NameEntry* entry = names.Entry(index);
  if (!entry || entry->Kind != kNamePlain) return std::string();
  std::string blocks;
  uint32_t link = entry->Link;
  // Links come from the file: a chain may be a cycle.
  for (unsigned steps = 0; steps <= kMaxNameLinks; ++steps) {
    const NameEntry* parent = names.Entry(link);
    if (!parent) break;
    if (parent->Kind == kNameScope && parent->SubKind == kSubBlock && !parent->HasText) {
      blocks = "{" + std::to_string(parent->Number) + "}" + blocks;
      link = parent->Link;
      continue;
    }
    if (parent->Kind == kNamePlain && parent->HasText && parent->Text.rfind('<', 0) != 0)
      return names.GetName(link) + blocks;
    break;
  }
  return std::string();
}

Symbol MakeSymbol(const CMirlParserUbrof& c, uint32_t id) {
  const SymbolTable& t = c.m_SymbolTable;
  const SymbolRecord& s = t.Symbols[id];
  Symbol o;
  o.id = id;
  o.name = c.m_NameTable.GetName(s.NameIndex);
  o.cls = s.Class;
  o.value = s.Value;
  o.memoryAttribute = s.MemoryAttribute;
  o.type = s.TypeId;
  o.nameIndex = s.NameIndex;
  // UBROF 8 files link names too (a local to its function), but their maps
  // do not show those links as qualifiers.
  if (c.m_FileInfo.m_bUbrof10) o.qualifier = Qualifier(c.m_NameTable, s.NameIndex);
  // A symbol's ranges are a slice of the shared table; one that a cut file
  // left short ends at the table's end.
  for (uint64_t r = s.FirstRange; r < uint64_t(s.FirstRange) + s.RangeCount && r < t.Ranges.size();
       ++r) {
    const mirl::LocationRange& x = t.Ranges[size_t(r)];
    o.ranges.push_back({x.Start, x.Class, x.Value, x.MemoryAttribute});
  }
  return o;
}

// Sets the owners of the symbols in out (indexed by id from first on): the
// first scope and the first segment group that list each one.
void SetOwners(const CMirlParserUbrof& c, uint32_t first, std::vector<Symbol>& out) {
  auto owned = [&](uint32_t id) -> Symbol* {
    return id >= first && id - first < out.size() ? &out[id - first] : nullptr;
  };
  const ScopeTable& scopes = c.m_ScopeTable;
  for (uint32_t sc = 0; sc < scopes.Count(); ++sc)
    for (uint32_t id : scopes.Scopes[sc].Symbols)
      if (Symbol* s = owned(id))
        if (s->scope == kNoId) s->scope = sc;
  for (size_t g = 0; g < c.m_SegmentGroups.size(); ++g)
    for (uint32_t id : c.m_SegmentGroups[g].m_SymbolIds)
      if (Symbol* s = owned(id))
        if (s->segmentGroup == kNoId) s->segmentGroup = uint32_t(g);
}

}  // namespace

std::vector<Symbol> Program::Symbols() const {
  std::vector<Symbol> out;
  uint32_t n = m_p->m_SymbolTable.Count();
  out.reserve(n);
  for (uint32_t id = 0; id < n; ++id) out.push_back(MakeSymbol(*m_p, id));
  SetOwners(*m_p, 0, out);
  return out;
}

bool Program::GetSymbol(uint32_t id, Symbol* out) const {
  if (id >= m_p->m_SymbolTable.Count()) return false;
  std::vector<Symbol> one(1, MakeSymbol(*m_p, id));
  SetOwners(*m_p, id, one);
  *out = std::move(one[0]);
  return true;
}

Location Program::SymbolLocation(uint32_t id, uint32_t programAddress) const {
  Location o;
  if (id >= m_p->m_SymbolTable.Count()) return o;
  mirl::SymbolLocation l = m_p->m_SymbolTable.GetLocation(id, programAddress);
  o.kind = l.Kind;
  o.hasAddress = l.HasAddress;
  o.address = l.Address;
  o.hasMemType = l.HasMemType;
  o.memType = l.MemType;
  return o;
}

uint32_t Program::FindSymbol(const std::string& name, uint32_t scope, bool global,
                             uint32_t* pScopeFound) const {
  // The interface refuses a scope outside the table even for a global search.
  if (scope >= m_p->m_ScopeTable.Count()) return kNoId;
  uint32_t found = kNoId;
  uint32_t id = m_p->FindSymbolNamed(name, scope, global, &found);
  if (pScopeFound) *pScopeFound = found;
  return id;
}

std::vector<Label> Program::Labels() const {
  std::vector<Label> out;
  out.reserve(m_p->m_SymbolIndex.size());
  for (const auto& entry : m_p->m_SymbolIndex)
    out.push_back({entry.first, m_p->m_NameTable.GetName(entry.second)});
  return out;
}

bool Program::LabelAt(uint32_t address, std::string* name) const {
  const uint32_t* index = m_p->FindLabel(address);
  if (!index) return false;
  *name = m_p->m_NameTable.GetName(*index);
  return true;
}

std::vector<Macro> Program::Macros() const {
  std::vector<Macro> out;
  out.reserve(m_p->m_Macros.size());
  for (const MacroRecord& m : m_p->m_Macros) out.push_back({m.Name, m.Text});
  return out;
}

}  // namespace api
}  // namespace mirl
