// IMirlParser3: the program as a tree of debug-information entries (dies)
// with DWARF tag and attribute numbers. A die is a handle computed from a
// scope or symbol id; there is no table of its own.
#include <cstring>

#include "../component/CMirlParserUbrof.h"

using namespace mirl;

namespace {

enum : LONG {
  kTagCompileUnit = 0x11,
  kTagSubprogram = 0x2E,
  kTagLexicalBlock = 0x0B,
  kTagVariable = 0x34,
};

enum : LONG { kAttrName = 0x03, kAttrLowPc = 0x11, kAttrHighPc = 0x12, kAttrId = 0x4000 };

enum class DieKind { Root, Scope, Symbol, Invalid };

struct Die {
  DieKind kind;
  uint32_t id;
};

Die DecodeDie(LONG handle, uint32_t scopes, uint32_t symbols) {
  uint64_t h = uint32_t(handle);
  if (h == 0) return {DieKind::Root, kNone};
  if (h <= scopes) return {DieKind::Scope, uint32_t(h - 1)};
  if (h <= uint64_t(scopes) + symbols) return {DieKind::Symbol, uint32_t(h - scopes - 1)};
  return {DieKind::Invalid, kNone};
}

LONG EncodeScope(uint32_t id) { return id == kNone ? 0 : LONG(id + 1); }
LONG EncodeSymbol(uint32_t id, uint32_t scopes) { return id == kNone ? 0 : LONG(scopes + id + 1); }

bool IsVariable(const SymbolRecord& s) {
  switch (s.Class) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 7:
    case 8:
    case 9:
      return s.TypeId != 0;
    default:
      return false;
  }
}

}  // namespace

// The path of a module's main source file: among its files, the one whose
// base name is the module's name (or that name with "_emb", an extracted
// embedded source), preferring a C or assembler source.
static std::string ModuleSourceName(const CMirlParserUbrof& c, const ScopeRecord& scope) {
  std::string name;
  if (scope.ModuleIndex < c.m_Modules.size()) name = c.m_Modules[scope.ModuleIndex].m_pszName;
  if (scope.FileRefs.empty()) return name;
  const std::string* chosen = nullptr;
  for (uint32_t f : scope.FileRefs) {
    if (f >= c.m_SourceFiles.size()) continue;  // no file behind this reference
    const std::string& path = c.m_SourceFiles[f].Path;
    std::string base;
    SplitPath(path, nullptr, &base, nullptr);
    if (!EqualsIgnoreCase(base, name) && !EqualsIgnoreCase(base, name + "_emb")) continue;
    if (!chosen || path.find(".c") != std::string::npos || path.find(".s") != std::string::npos)
      chosen = &path;
  }
  if (chosen) return *chosen;
  uint32_t first = scope.FileRefs.front();
  // The first reference naming no file leaves the module's own name.
  return first < c.m_SourceFiles.size() ? c.m_SourceFiles[first].Path : name;
}

HRESULT CMirlParserUbrof::GetDie(LONG, LONG, LONG* childDie) {
  if (!childDie) return E_POINTER;
  return E_FAIL;  // walking by single child is not supported; hosts use GetDies
}

HRESULT CMirlParserUbrof::GetTag(LONG die, LONG* tag) {
  if (!tag) return E_POINTER;
  Die d = DecodeDie(die, m_ScopeTable.Count(), m_SymbolTable.Count());
  LONG result = 0;
  if (d.kind == DieKind::Scope) {
    uint32_t kind = m_ScopeTable.Scopes[d.id].Kind;
    result = kind == kScopeModule     ? kTagCompileUnit
             : kind == kScopeFunction ? kTagSubprogram
                                      : kTagLexicalBlock;
  } else if (d.kind == DieKind::Symbol) {
    result = IsVariable(m_SymbolTable.Symbols[d.id]) ? LONG(kTagVariable) : 0;
  }
  *tag = result;
  return S_OK;
}

HRESULT CMirlParserUbrof::GetDies(LONG parentDie, LONG tag, VARIANT* childDies) {
  if (!childDies) return E_POINTER;
  const uint32_t scopes = m_ScopeTable.Count();
  Die d = DecodeDie(parentDie, scopes, m_SymbolTable.Count());
  std::vector<LONG> handles;
  auto addChildren = [&](const ScopeRecord& s) {
    for (uint32_t c : s.Children) handles.push_back(EncodeScope(c));
  };
  // Symbols of function type are the functions' own entries, not variables.
  auto addSymbols = [&](const ScopeRecord& s, bool includeFunctions) {
    for (uint32_t id : s.Symbols) {
      if (id >= m_SymbolTable.Count()) continue;
      if (!includeFunctions && m_TypeTable.IsFunctionType(m_SymbolTable.Symbols[id].TypeId))
        continue;
      handles.push_back(EncodeSymbol(id, scopes));
    }
  };
  if (d.kind == DieKind::Root) {
    if (tag == kTagCompileUnit) {
      for (uint32_t m : m_ScopeTable.RootScopes)
        if (!m_ScopeTable.Scopes[m].Hidden) handles.push_back(EncodeScope(m));
    } else if (tag == 0 || tag == kTagVariable) {
      for (uint32_t m : m_ScopeTable.RootScopes) addSymbols(m_ScopeTable.Scopes[m], true);
    }
  } else if (d.kind == DieKind::Scope) {
    const ScopeRecord& s = m_ScopeTable.Scopes[d.id];
    if (tag == 0) {
      addChildren(s);
      addSymbols(s, false);
    } else if (tag == kTagSubprogram && s.Kind == kScopeModule) {
      addChildren(s);
    } else if (tag == kTagLexicalBlock && (s.Kind == kScopeFunction || s.Kind == kScopeBlock)) {
      addChildren(s);
    } else if (tag == kTagVariable) {
      addSymbols(s, false);
    }
  }

  SAFEARRAY* psa = nullptr;
  HRESULT hr = SafeArrayAllocDescriptor(1, &psa);
  if (FAILED(hr)) return hr;
  psa->fFeatures = 0;
  psa->cbElements = sizeof(LONG);
  psa->rgsabound[0].cElements = ULONG(handles.size());
  psa->rgsabound[0].lLbound = 0;
  psa->pvData = nullptr;  // an empty list has no data
  if (!handles.empty()) {
    void* data = CoTaskMemAlloc(handles.size() * sizeof(LONG));
    if (!data) {
      SafeArrayDestroy(psa);
      return E_OUTOFMEMORY;
    }
    std::memcpy(data, handles.data(), handles.size() * sizeof(LONG));
    psa->pvData = data;
  }
  childDies->vt = VT_ARRAY | VT_I4;
  childDies->parray = psa;
  return S_OK;
}

// The first function (child of any module, hidden ones included) whose own
// name text is the name. Links are not followed, and name index 0 is passed
// over as in the scope-name lookups.
static uint32_t FindFunction(const ScopeTable& scopes, const NameTable& names,
                             const std::string& name) {
  for (uint32_t m : scopes.RootScopes) {
    for (uint32_t c : scopes.Scopes[m].Children) {
      uint32_t index = scopes.Scopes[c].NameIndex;
      if (index == kNone || index == 0) continue;
      const NameEntry* e = names.Entry(index);
      if (e && e->HasText && e->Text == name) return c;
    }
  }
  return kNone;
}

HRESULT CMirlParserUbrof::LookupDie(LONG parentDie, BSTR name, LONG tag, LONG* childDie) {
  if (!childDie) return E_POINTER;
  *childDie = 0;
  // A missing or empty name names nothing.
  std::string text = platform::BstrToAnsi(name);
  if (text.empty()) return S_OK;
  const uint32_t scopes = m_ScopeTable.Count();
  Die d = DecodeDie(parentDie, scopes, m_SymbolTable.Count());
  if (d.kind == DieKind::Root) {
    if (tag == 0 || tag == kTagCompileUnit) {
      auto it = m_FileNames.find(LowerAscii(m_FileMapper.UnmapPath(text)));
      if (it != m_FileNames.end()) {
        uint32_t m = m_ScopeTable.FindModuleByFile(it->second);
        if (m != kNone) {
          *childDie = EncodeScope(m);
          return S_OK;
        }
      }
    }
    if (tag == 0 || tag == kTagSubprogram) {
      *childDie = EncodeScope(FindFunction(m_ScopeTable, m_NameTable, text));
    } else if (tag == kTagVariable) {
      *childDie =
          EncodeSymbol(m_SymbolTable.FindSymbol(m_ScopeTable, kNone, text, nullptr), scopes);
    }
  } else if (d.kind == DieKind::Scope) {
    if (tag == 0 || tag == kTagSubprogram || tag == kTagLexicalBlock)
      *childDie = EncodeScope(m_ScopeTable.FindChildScope(d.id, text));
    else if (tag == kTagVariable)
      *childDie = EncodeSymbol(m_SymbolTable.FindSymbolInScope(m_ScopeTable, d.id, text), scopes);
  }
  return S_OK;
}

HRESULT CMirlParserUbrof::GetAttr(LONG die, LONG attr, VARIANT* value) {
  if (!value) return E_POINTER;
  Die d = DecodeDie(die, m_ScopeTable.Count(), m_SymbolTable.Count());
  auto setInt = [&](uint32_t v) {
    value->vt = VT_I4;
    value->lVal = LONG(v);
  };
  auto setString = [&](const std::string& s) {
    VariantInit(value);
    value->vt = VT_BSTR;
    value->bstrVal = platform::AnsiToBstr(s);
  };
  if (d.kind == DieKind::Scope) {
    const ScopeRecord& s = m_ScopeTable.Scopes[d.id];
    switch (attr) {
      case kAttrName:
        if (s.Kind == kScopeModule)
          setString(m_FileMapper.MapPath(ModuleSourceName(*this, s)));
        else
          setString(m_NameTable.GetName(s.NameIndex));
        return S_OK;
      case kAttrLowPc:
        setInt(s.LowAddress);
        return S_OK;
      case kAttrHighPc:
        setInt(s.HighAddress - 1);  // the last address, not one past it
        return S_OK;
      case kAttrId:
        setInt(d.id);
        return S_OK;
      default:
        return E_FAIL;
    }
  }
  if (d.kind == DieKind::Symbol) {
    switch (attr) {
      case kAttrName:
        setString(m_NameTable.GetName(m_SymbolTable.Symbols[d.id].NameIndex));
        return S_OK;
      case kAttrId:
        setInt(d.id);
        return S_OK;
      default:
        return E_FAIL;
    }
  }
  VariantInit(value);
  return S_OK;
}
