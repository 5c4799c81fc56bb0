// Diagnostics for tools: read-only views of the component's tables that the
// automation interfaces do not give (see MirlParserUbrofDiag.h).
#include "CMirlParserUbrof.h"
#include "MirlParserUbrofDiag.h"

namespace {

// The component behind any of its interface pointers.
HRESULT Resolve(IUnknown* p, CMirlParserUbrof** ppParser) {
  if (!p) return E_POINTER;
  IMirlParser* parser = nullptr;
  HRESULT hr = p->QueryInterface(IID_IMirlParser, reinterpret_cast<void**>(&parser));
  if (FAILED(hr) || !parser) return E_NOINTERFACE;
  // Only this component answers for IMirlParser in this library.
  *ppParser = static_cast<CMirlParserUbrof*>(parser);
  parser->Release();  // the caller holds its own reference
  return S_OK;
}

ULONG Clamp(size_t n) { return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : ULONG(n); }

}  // namespace

STDAPI MirlDiagGetParseDiagnostic(IUnknown* parser, MirlDiagParse* out) {
  CMirlParserUbrof* p = nullptr;
  if (!out) return E_POINTER;
  HRESULT hr = Resolve(parser, &p);
  if (FAILED(hr)) return hr;
  const mirl::ParseDiagnostic& d = p->LastParseDiagnostic();
  out->failed = d.bFailed ? 1 : 0;
  out->message = d.pszMessage;
  out->byteOffset = d.lOffset;
  out->recordOffset = d.lRecordOffset;
  out->tag = d.nTag;
  out->tagName = d.pszTagName;
  out->rejectedVersion = d.uVersion;
  return S_OK;
}

STDAPI MirlDiagGetFileInfo(IUnknown* parser, MirlDiagFile* out) {
  CMirlParserUbrof* p = nullptr;
  if (!out) return E_POINTER;
  HRESULT hr = Resolve(parser, &p);
  if (FAILED(hr)) return hr;
  out->ubrofVersion = p->m_FileInfo.m_ucUbrofVersion;
  out->ubrofMinor = p->m_FileInfo.m_ucUbrofMinor;
  out->ubrofRevision = p->m_FileInfo.m_ucUbrofRevision;
  out->timeOfBuild = p->m_FileInfo.m_dateTimeOfBuild;
  out->compilerVersion = p->m_SymbolTable.CompilerVersion;
  return S_OK;
}

STDAPI MirlDiagGetCounts(IUnknown* parser, MirlDiagCounts* out) {
  CMirlParserUbrof* p = nullptr;
  if (!out) return E_POINTER;
  HRESULT hr = Resolve(parser, &p);
  if (FAILED(hr)) return hr;
  out->modules = Clamp(p->m_Modules.size());
  out->scopes = p->m_ScopeTable.Count();
  out->symbols = p->m_SymbolTable.Count();
  out->locationRanges = Clamp(p->m_SymbolTable.Ranges.size());
  out->labels = Clamp(p->m_SymbolIndex.size());
  out->macros = Clamp(p->m_Macros.size());
  out->segmentGroups = Clamp(p->m_SegmentGroups.size());
  out->sourceFiles = Clamp(p->m_SourceFiles.size());
  out->statements = Clamp(p->m_Statements.size());
  out->statementRuns = Clamp(p->m_StatementRuns.size());
  out->types = p->m_TypeTable.TypeCount();
  ULONG defined = 0;
  for (const mirl::TypeRecord& t : p->m_TypeTable.Types)
    if (t.Kind != 0) ++defined;
  out->definedTypes = defined;
  out->memoryAttributes = Clamp(p->m_TypeTable.MemoryAttributes.size());
  out->names = p->m_NameTable.Count();
  return S_OK;
}

STDAPI MirlDiagGetModule(IUnknown* parser, ULONG index, MirlDiagModule* out) {
  CMirlParserUbrof* p = nullptr;
  if (!out) return E_POINTER;
  HRESULT hr = Resolve(parser, &p);
  if (FAILED(hr)) return hr;
  if (index >= p->m_Modules.size()) return PARSER_E_BAD_ID;
  const mirl::ModuleRecord& m = p->m_Modules[index];
  out->name = m.m_pszName.c_str();
  out->toolVersion = m.m_bHasToolVersion ? m.m_pszToolVersion.c_str() : nullptr;
  out->created = m.m_dateCreated;
  out->scopeId = 0xFFFFFFFFu;
  const auto& scopes = p->m_ScopeTable.Scopes;
  for (size_t i = 0; i < scopes.size(); ++i) {
    if (scopes[i].Kind == mirl::kScopeModule && scopes[i].ModuleIndex == index) {
      out->scopeId = ULONG(i);
      break;
    }
  }
  out->aux = m.m_usAux;
  out->aux1 = m.m_usAux1;
  out->debug = m.m_ucDebug;
  for (int i = 0; i < 3; ++i) out->header[i] = m.m_aucHeader[i];
  return S_OK;
}

STDAPI MirlDiagGetScope(IUnknown* parser, ULONG scopeId, MirlDiagScope* out) {
  CMirlParserUbrof* p = nullptr;
  if (!out) return E_POINTER;
  HRESULT hr = Resolve(parser, &p);
  if (FAILED(hr)) return hr;
  const mirl::ScopeRecord* s = p->m_ScopeTable.Scope(scopeId);
  if (!s) return PARSER_E_BAD_ID;
  out->kind = s->Kind;
  out->parent = s->Parent;
  out->moduleIndex = s->ModuleIndex;
  out->low = s->LowAddress;
  out->high = s->HighAddress;
  out->symbolCount = Clamp(s->Symbols.size());
  out->childCount = Clamp(s->Children.size());
  out->statementRuns = Clamp(s->StatementRuns.size());
  out->hidden = s->Hidden;
  return S_OK;
}

STDAPI MirlDiagGetRootScopes(IUnknown* parser, ULONG* ids, ULONG capacity, ULONG* count) {
  CMirlParserUbrof* p = nullptr;
  if (!count || (capacity && !ids)) return E_POINTER;
  HRESULT hr = Resolve(parser, &p);
  if (FAILED(hr)) return hr;
  const std::vector<uint32_t>& roots = p->m_ScopeTable.RootScopes;
  for (size_t i = 0; i < roots.size() && i < capacity; ++i) ids[i] = roots[i];
  *count = Clamp(roots.size());
  return S_OK;
}

STDAPI MirlDiagGetSymbols(IUnknown* parser, MirlDiagSymbol* out, ULONG capacity, ULONG* count) {
  CMirlParserUbrof* p = nullptr;
  if (!count || (capacity && !out)) return E_POINTER;
  HRESULT hr = Resolve(parser, &p);
  if (FAILED(hr)) return hr;
  const std::vector<mirl::SymbolRecord>& symbols = p->m_SymbolTable.Symbols;
  size_t n = symbols.size() < capacity ? symbols.size() : capacity;
  for (size_t i = 0; i < n; ++i) {
    const mirl::SymbolRecord& s = symbols[i];
    out[i].value = s.Value;
    out[i].nameIndex = s.NameIndex;
    out[i].rangeCount = s.RangeCount;
    out[i].scopeId = 0xFFFFFFFFu;
    out[i].segmentGroup = 0xFFFFFFFFu;
    out[i].memoryAttribute = s.MemoryAttribute;
    out[i].typeId = s.TypeId;
    out[i].cls = s.Class;
  }
  // The owners come from the attachment lists; ids there are checked, and
  // the first list that names a symbol owns it.
  const auto& scopes = p->m_ScopeTable.Scopes;
  for (size_t sc = 0; sc < scopes.size(); ++sc)
    for (uint32_t id : scopes[sc].Symbols)
      if (id < n && out[id].scopeId == 0xFFFFFFFFu) out[id].scopeId = ULONG(sc);
  const std::vector<mirl::SegmentGroupRecord>& groups = p->m_SegmentGroups;
  for (size_t g = 0; g < groups.size(); ++g)
    for (uint32_t id : groups[g].m_SymbolIds)
      if (id < n && out[id].segmentGroup == 0xFFFFFFFFu) out[id].segmentGroup = ULONG(g);
  *count = Clamp(symbols.size());
  return S_OK;
}

STDAPI MirlDiagGetSymbolRange(IUnknown* parser, ULONG symbolId, ULONG index, MirlDiagRange* out) {
  CMirlParserUbrof* p = nullptr;
  if (!out) return E_POINTER;
  HRESULT hr = Resolve(parser, &p);
  if (FAILED(hr)) return hr;
  const mirl::SymbolTable& t = p->m_SymbolTable;
  if (symbolId >= t.Symbols.size()) return PARSER_E_BAD_ID;
  const mirl::SymbolRecord& s = t.Symbols[symbolId];
  uint64_t at = uint64_t(s.FirstRange) + index;
  if (index >= s.RangeCount || at >= t.Ranges.size()) return PARSER_E_BAD_ID;
  const mirl::LocationRange& r = t.Ranges[size_t(at)];
  out->start = r.Start;
  out->value = r.Value;
  out->memoryAttribute = r.MemoryAttribute;
  out->cls = r.Class;
  return S_OK;
}

STDAPI MirlDiagGetStatements(IUnknown* parser, MirlDiagStatement* out, ULONG capacity,
                             ULONG* count) {
  CMirlParserUbrof* p = nullptr;
  if (!count || (capacity && !out)) return E_POINTER;
  HRESULT hr = Resolve(parser, &p);
  if (FAILED(hr)) return hr;
  const std::vector<mirl::StatementRecord>& st = p->m_Statements;
  size_t n = st.size() < capacity ? st.size() : capacity;
  for (size_t i = 0; i < n; ++i) {
    out[i].address = st[i].Address;
    out[i].length = st[i].Length;
    out[i].line = st[i].Line;
    out[i].lineEnd = ULONG(st[i].Line) + st[i].LineSpan;
    out[i].column = st[i].Column;
    out[i].columnEnd = st[i].ColumnEnd;
    out[i].fileId = 0xFFFFFFFFu;
    out[i].run = 0xFFFFFFFFu;
    out[i].type = st[i].StatementType;
  }
  // A run's statements are contiguous ids; runs with bad bounds are cut to
  // the table.
  const std::vector<mirl::StatementRun>& runs = p->m_StatementRuns;
  for (size_t r = 0; r < runs.size(); ++r) {
    uint64_t first = runs[r].FirstStatement;
    uint64_t end = first + runs[r].Count;
    for (uint64_t i = first; i < end && i < n; ++i) {
      out[i].run = ULONG(r);
      out[i].fileId = runs[r].File < 0 ? 0xFFFFFFFFu : ULONG(runs[r].File);
    }
  }
  *count = Clamp(st.size());
  return S_OK;
}

STDAPI MirlDiagGetLabels(IUnknown* parser, ULONG* addresses, ULONG capacity, ULONG* count) {
  CMirlParserUbrof* p = nullptr;
  if (!count || (capacity && !addresses)) return E_POINTER;
  HRESULT hr = Resolve(parser, &p);
  if (FAILED(hr)) return hr;
  ULONG i = 0;
  for (const auto& entry : p->m_SymbolIndex) {
    if (i >= capacity) break;
    addresses[i++] = entry.first;
  }
  *count = Clamp(p->m_SymbolIndex.size());
  return S_OK;
}

STDAPI MirlDiagGetTypeKind(IUnknown* parser, ULONG typeId, ULONG* kind) {
  CMirlParserUbrof* p = nullptr;
  if (!kind) return E_POINTER;
  HRESULT hr = Resolve(parser, &p);
  if (FAILED(hr)) return hr;
  if (typeId >= p->m_TypeTable.TypeCount()) return PARSER_E_BAD_ID;
  *kind = p->m_TypeTable.Types[typeId].Kind;
  return S_OK;
}

STDAPI MirlDiagGetMemoryAttribute(IUnknown* parser, ULONG index, MirlDiagMemoryAttribute* out) {
  CMirlParserUbrof* p = nullptr;
  if (!out) return E_POINTER;
  HRESULT hr = Resolve(parser, &p);
  if (FAILED(hr)) return hr;
  const std::vector<mirl::MemoryAttributeRecord>& attrs = p->m_TypeTable.MemoryAttributes;
  if (index >= attrs.size()) return PARSER_E_BAD_ID;
  out->name = attrs[index].Name.c_str();
  out->flags = attrs[index].AttributeFlags;
  out->pointerSize = attrs[index].PointerSize;
  out->memType = attrs[index].MemType;
  return S_OK;
}

STDAPI MirlDiagGetStoredSourcePath(IUnknown* parser, ULONG fileId, const char** path) {
  CMirlParserUbrof* p = nullptr;
  if (!path) return E_POINTER;
  HRESULT hr = Resolve(parser, &p);
  if (FAILED(hr)) return hr;
  if (fileId >= p->m_SourceFiles.size()) return PARSER_E_BAD_ID;
  *path = p->m_SourceFiles[fileId].Path.c_str();
  return S_OK;
}

STDAPI MirlDiagGetWrittenRanges(IUnknown* parser, BYTE memType, ULONG* firsts, ULONG* lasts,
                                ULONG capacity, ULONG* count) {
  CMirlParserUbrof* p = nullptr;
  if (!count || (capacity && (!firsts || !lasts))) return E_POINTER;
  HRESULT hr = Resolve(parser, &p);
  if (FAILED(hr)) return hr;
  const mirl::MemoryWrites& w = p->MemoryWritten();
  const mirl::WrittenRanges* ranges = memType == 1   ? &w.Code
                                      : memType == 2 ? &w.Data
                                      : memType == 4 ? &w.Eeprom
                                                     : nullptr;
  if (!ranges) return PARSER_E_BAD_MEMORY_TYPE;
  std::vector<std::pair<uint32_t, uint32_t>> runs = ranges->Runs();
  for (size_t i = 0; i < runs.size() && i < capacity; ++i) {
    firsts[i] = runs[i].first;
    lasts[i] = runs[i].second;
  }
  *count = Clamp(runs.size());
  return S_OK;
}

STDAPI_(void) MirlDiagSetMessageSink(MirlDiagMessageSink sink) {
  platform::SetMessageBoxHook(sink);
}
