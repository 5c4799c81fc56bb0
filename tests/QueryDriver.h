// Drives every query method of a parsed (or half-parsed) component with ids
// from the tables and beyond them, addresses inside and outside the images,
// names from the tables and made-up ones, and die handles. Used by the fuzz
// target and by the robustness tests: whatever a file holds, none of these
// calls may crash, hang or read outside a table.
//
// The fuzz target calls this for every input, so it avoids work that cannot
// find anything new: each table is swept at its start, at its end and just
// beyond it (where damage shows) rather than id by id, the predefined types
// are asked for only when the file changed them, and after a failed parse
// the methods that then answer "not parsed" are each called once.
#ifndef MIRL_TESTS_QUERYDRIVER_H
#define MIRL_TESTS_QUERYDRIVER_H

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "../component/CMirlParserUbrof.h"
#include "../component/MirlParserUbrofDiag.h"

namespace querydriver {

struct Stats {
  unsigned calls = 0;
  unsigned succeeded = 0;
};

namespace detail {

// How many ids of a table are asked for at its start and at its end.
constexpr size_t kHead = 40;
constexpr size_t kTail = 8;
// How many names, paths and addresses from the tables are tried.
constexpr size_t kMaxNames = 16;
constexpr size_t kMaxPaths = 6;
constexpr size_t kMaxAddresses = 24;

inline void Count(Stats& st, HRESULT hr) {
  ++st.calls;
  if (SUCCEEDED(hr)) ++st.succeeded;
}

// The first head and the last tail indices of a table of n entries.
inline std::vector<ULONG> Inside(size_t n, size_t head = kHead, size_t tail = kTail) {
  std::vector<ULONG> ids;
  for (size_t i = 0; i < n && i < head; ++i) ids.push_back(ULONG(i));
  for (size_t i = std::max(head, n > tail ? n - tail : 0); i < n; ++i) ids.push_back(ULONG(i));
  return ids;
}

// Inside() and the ids just beyond the end, up to the largest.
inline std::vector<ULONG> Sweep(size_t n) {
  std::vector<ULONG> ids = Inside(n);
  for (size_t i = n; i < n + 3; ++i) ids.push_back(ULONG(i));
  ids.push_back(0x7FFFFFFFu);
  ids.push_back(0xFFFFFFFFu);
  return ids;
}

template <class T>
void AddUnique(std::vector<T>& v, const T& x, size_t cap) {
  if (v.size() < cap && std::find(v.begin(), v.end(), x) == v.end()) v.push_back(x);
}

// An automation string owned by the driver.
class Str {
 public:
  explicit Str(const std::string& s) : m_b(platform::AnsiToBstr(s)) {}
  Str() = default;
  ~Str() { SysFreeString(m_b); }
  Str(const Str&) = delete;
  Str& operator=(const Str&) = delete;
  BSTR* operator&() { return &m_b; }
  BSTR get() const { return m_b; }

 private:
  BSTR m_b = nullptr;
};

// Types whose entries differ from those of a fresh table (the file replaced
// a predefined type or changed its size), and every type the file added.
inline std::vector<ULONG> TypeIds(const mirl::TypeTable& types) {
  static const mirl::TypeTable fresh(nullptr);
  std::vector<ULONG> ids = {0, 1, 6, 12, 15, 24, 27, 32, 99};
  for (size_t i = 0; i < fresh.Types.size() && i < types.Types.size(); ++i) {
    const mirl::TypeRecord& a = types.Types[i];
    const mirl::TypeRecord& b = fresh.Types[i];
    if (a.Kind != b.Kind || a.Word1 != b.Word1 || a.Word2 != b.Word2 || a.Word3 != b.Word3 ||
        a.Word4 != b.Word4 || a.Word5 != b.Word5)
      AddUnique(ids, ULONG(i), ids.size() + 1);
  }
  size_t added =
      types.Types.size() > fresh.Types.size() ? types.Types.size() - fresh.Types.size() : 0;
  for (ULONG i : Inside(added)) ids.push_back(ULONG(fresh.Types.size()) + i);
  for (size_t i = types.Types.size(); i < types.Types.size() + 2; ++i) ids.push_back(ULONG(i));
  ids.push_back(0xFFFFFFFFu);
  return ids;
}

// Every gated method once: before a successful parse each answers from its
// checks alone.
inline void DriveUnparsed(CMirlParserUbrof* c, Stats& st) {
  IMirlParser* p = c;
  IMirlParserMem* pm = c;
  DATE d = 0;
  Count(st, p->GetTimeOfBuild(&d));
  BSTR s1 = nullptr, s2 = nullptr, s3 = nullptr;
  ULONG a = 0, b = 0, e = 0, f = 0, g = 0;
  unsigned char u = 0, v = 0;
  double dv = 0;
  Count(st, p->GetTargetInfo(&s1, &a, &b));
  Count(st, p->GetMemoryInfo(1, &a, &b, &e));
  unsigned char buf[8];
  Count(st, p->ReadMemory(1, 0, sizeof buf, buf));
  SAFEARRAY* psa = nullptr;
  Count(st, pm->ReadMemSA(1, 0, 4, &psa));
  if (psa) SafeArrayDestroy(psa);
  Count(st, p->GetSourceFileInfo(0, &s1, &d, &u, &v));
  Count(st, p->EnumHLStatements(0, &a, &u));
  {
    Str path("main.c");
    Count(st, p->GetProgMemAddressFromSource(&path, 1, 0, &a));
  }
  Count(st, p->GetSourceFromProgMemAddress(0, &s1, &a, &b, &e, &f, &g));
  ULONG* ids = nullptr;
  Count(st, p->EnumSubScopes(0xFFFFFFFFu, &a, &ids));
  CoTaskMemFree(ids);
  Count(st, p->GetScopeInfo(0, &s1, &s2, &a, &b, &e, &f));
  Count(st, p->GetScopeFromProgMemAddress(0, 0, &a));
  {
    Str name("{\"main.c\"}");
    Count(st, p->GetScopeFromName(&name, &a));
  }
  Count(st, p->LookupLabel(0, &s3));
  Count(st, p->EnumSymbolCategories(0, &s3));
  Count(st, p->EnumSymbols(0, 0, &a));
  {
    Str name("main");
    Count(st, p->LookupSymbolName(&name, 0, 0, &a, &b));
  }
  Count(st, p->GetSymbolInfo(0, &s3, &a, &b));
  Count(st, p->GetSymbolLocation(0, 0, &u, &a, &v));
  Count(st, p->GetTypeInfo(6, &s3, &a, &b, &e, &u, &f));
  Count(st, p->GetRefferedType(24, &a, &b));
  Count(st, p->GetStructuralMember(100, &s3, 0, &a, &b));
  Count(st, p->GetValue(6, 0, 2, &a, &dv));
  Count(st, p->SetValue(6, 0, 2, 0, 0.0));
  Count(st, p->EvaluateByLocation(6, 0, 2, &s1, &s2, &s3));
  Count(st, p->EvaluateByValue(6, 0, 0.0, &s1, &s2, &s3));
  SysFreeString(s1);
  SysFreeString(s2);
  SysFreeString(s3);
}

}  // namespace detail

// The entry view answers before a parse and after a failed one too, from
// whatever the tables hold.
inline void DriveEntries(CMirlParserUbrof* c, const std::vector<std::string>& names,
                         const std::vector<std::string>& paths, Stats& st) {
  using namespace detail;
  IMirlParser3* p3 = c;
  const size_t scopes = c->m_ScopeTable.Scopes.size();
  const size_t symbols = c->m_SymbolTable.Symbols.size();

  std::vector<LONG> handles;
  for (ULONG h : Sweep(scopes + symbols + 1)) handles.push_back(LONG(h));
  handles.push_back(-2);
  for (LONG h : handles) {
    LONG tag = 0;
    Count(st, p3->GetTag(h, &tag));
    for (LONG t : {0, 0x11, 0x2E, 0x0B, 0x34, 7}) {
      VARIANT v;
      VariantInit(&v);
      Count(st, p3->GetDies(h, t, &v));
      VariantClear(&v);
    }
    for (LONG attr : {0x03, 0x11, 0x12, 0x4000, 0x01}) {
      VARIANT v;
      VariantInit(&v);
      Count(st, p3->GetAttr(h, attr, &v));
      VariantClear(&v);
    }
  }

  // Parents for the lookups: the root, the first and last scope, the first
  // function and a symbol.
  std::vector<LONG> parents = {0};
  if (scopes) {
    AddUnique(parents, LONG(1), 8);
    AddUnique(parents, LONG(scopes), 8);
    for (size_t i = 0; i < scopes; ++i) {
      if (c->m_ScopeTable.Scopes[i].Kind == mirl::kScopeFunction) {
        AddUnique(parents, LONG(i + 1), 8);
        break;
      }
    }
  }
  if (symbols) AddUnique(parents, LONG(scopes + 1), 8);
  for (const std::string& path : paths) {
    Str b(path);
    for (LONG t : {0, 0x11}) {
      LONG die = 0;
      Count(st, p3->LookupDie(0, b.get(), t, &die));
    }
  }
  for (const std::string& name : names) {
    Str b(name);
    for (LONG parent : parents) {
      for (LONG t : {0, 0x11, 0x2E, 0x0B, 0x34}) {
        LONG die = 0;
        Count(st, p3->LookupDie(parent, b.get(), t, &die));
      }
    }
  }
  LONG die = 0;
  Count(st, p3->LookupDie(0, nullptr, 0, &die));
  Count(st, p3->GetDie(0, 0, &die));
}

// With remapPaths false only methods that leave the component as it was are
// called (RemapSourceFile is the one that changes it after a parse), so that
// several threads may drive one component at once.
// The diagnostics that tools read (ubrofdump), which like the entry view
// answer from whatever the tables hold.
inline void DriveDiagnostics(CMirlParserUbrof* c, Stats& st) {
  using namespace detail;
  IUnknown* u = static_cast<IMirlParser*>(c);
  MirlDiagParse parse;
  Count(st, MirlDiagGetParseDiagnostic(u, &parse));
  MirlDiagFile file;
  Count(st, MirlDiagGetFileInfo(u, &file));
  MirlDiagCounts counts;
  Count(st, MirlDiagGetCounts(u, &counts));
  for (ULONG i : Sweep(c->m_Modules.size())) {
    MirlDiagModule m;
    Count(st, MirlDiagGetModule(u, i, &m));
  }
  for (ULONG i : Sweep(c->m_ScopeTable.Scopes.size())) {
    MirlDiagScope s;
    Count(st, MirlDiagGetScope(u, i, &s));
  }
  ULONG count = 0;
  std::vector<ULONG> ids(4);
  Count(st, MirlDiagGetRootScopes(u, ids.data(), ULONG(ids.size()), &count));
  std::vector<MirlDiagSymbol> symbols(c->m_SymbolTable.Symbols.size() + 1);
  Count(st, MirlDiagGetSymbols(u, symbols.data(), ULONG(symbols.size()), &count));
  Count(st, MirlDiagGetSymbols(u, symbols.data(), 1, &count));
  for (ULONG id : Inside(c->m_SymbolTable.Symbols.size(), 8, 2)) {
    for (ULONG index : {0u, 1u, 0xFFFFFFFFu}) {
      MirlDiagRange r;
      Count(st, MirlDiagGetSymbolRange(u, id, index, &r));
    }
  }
  std::vector<MirlDiagStatement> statements(std::min<size_t>(c->m_Statements.size(), 64));
  Count(st, MirlDiagGetStatements(u, statements.data(), ULONG(statements.size()), &count));
  std::vector<ULONG> labels(8), lasts(8);
  Count(st, MirlDiagGetLabels(u, labels.data(), ULONG(labels.size()), &count));
  for (ULONG id : {0u, 6u, 99u, 100u, c->m_TypeTable.TypeCount(), 0xFFFFFFFFu}) {
    ULONG kind = 0;
    Count(st, MirlDiagGetTypeKind(u, id, &kind));
  }
  for (ULONG i : Sweep(c->m_TypeTable.MemoryAttributes.size())) {
    MirlDiagMemoryAttribute a;
    Count(st, MirlDiagGetMemoryAttribute(u, i, &a));
  }
  for (ULONG i : Sweep(c->m_SourceFiles.size())) {
    const char* path = nullptr;
    Count(st, MirlDiagGetStoredSourcePath(u, i, &path));
  }
  for (BYTE type : {1, 2, 4, 8}) {
    Count(st, MirlDiagGetWrittenRanges(u, type, labels.data(), lasts.data(), ULONG(labels.size()),
                                       &count));
  }
}

inline Stats DriveAll(CMirlParserUbrof* c, bool remapPaths = true) {
  using namespace detail;
  Stats st;
  IMirlParser* p = c;
  IMirlParserMem* pm = c;

  BSTR info = nullptr;
  Count(st, p->GetGeneralInfoString(&info));
  SysFreeString(info);
  ULONG exitAddr = 0;
  Count(st, pm->GetProgramExit(&exitAddr));

  // Names and paths from the tables, and made-up ones.
  std::vector<std::string> names = {"", "main", "exit", "_A_x"};
  const mirl::NameTable& nt = c->m_NameTable;
  for (ULONG i : Inside(nt.Count(), 10, 4)) AddUnique(names, nt.GetName(i), kMaxNames);
  for (ULONG i : Inside(c->m_SymbolTable.Symbols.size(), 6, 2))
    AddUnique(names, nt.GetName(c->m_SymbolTable.Symbols[i].NameIndex), kMaxNames);
  std::vector<std::string> paths = {"", "main.c", "C:\\x\\y.c"};
  for (ULONG i : Inside(c->m_SourceFiles.size(), 3, 1))
    AddUnique(paths, c->m_SourceFiles[i].Path, kMaxPaths);

  // A name longer than the 999 characters names are cut to must be cut or
  // refused, never overrun a buffer.
  const std::string longName(1001, 'n');
  {
    Str b(longName);
    LONG die = 0;
    Count(st, c->LookupDie(0, b.get(), 0, &die));
  }

  DriveDiagnostics(c, st);
  if (!c->IsParsed()) {
    DriveUnparsed(c, st);
    DriveEntries(c, names, paths, st);
    return st;
  }

  // ---- lifecycle and information ----
  DATE d = 0;
  Count(st, p->GetTimeOfBuild(&d));
  BSTR dev = nullptr;
  ULONG core = 0, model = 0;
  Count(st, p->GetTargetInfo(&dev, &core, &model));
  SysFreeString(dev);
  {
    Str again("/nonexistent/again.d90");
    Count(st, p->ParseObjectFile(&again, 0));
  }

  // ---- memory ----
  std::vector<ULONG> addresses = {0, 1, 0xFF, 0x1FFFF, 0x20000, 0xFFFFFFF0u, 0xFFFFFFFFu};
  for (unsigned char type : {0, 1, 2, 4, 8, 0x40}) {
    ULONG lo = 0, hi = 0, blocks = 0;
    HRESULT hr = p->GetMemoryInfo(type, &lo, &hi, &blocks);
    Count(st, hr);
    if (SUCCEEDED(hr)) {
      addresses.push_back(lo);
      addresses.push_back(hi);
    }
  }
  unsigned char buf[64];
  for (ULONG a : addresses) {
    for (unsigned char type : {1, 2, 4, 0x40, 3}) {
      Count(st, p->ReadMemory(type, a, sizeof buf, buf));
      Count(st, p->ReadMemory(type, a, 0, buf));
    }
  }
  for (ULONG a : {0u, 0xFFFFFFF8u}) {
    SAFEARRAY* psa = nullptr;
    Count(st, pm->ReadMemSA(1, a, 16, &psa));
    if (psa) SafeArrayDestroy(psa);
  }

  // ---- source files and host paths ----
  for (ULONG id : Sweep(c->m_SourceFiles.size())) {
    BSTR path = nullptr;
    DATE stamp = 0;
    unsigned char lang = 0, temp = 0;
    Count(st, p->GetSourceFileInfo(id, &path, &stamp, &lang, &temp));
    SysFreeString(path);
  }
  if (remapPaths && !c->m_SourceFiles.empty()) {
    // A host path for the first file, then the queries that map it.
    Str base(""), dir("/nonexistent-base"), stored(c->m_SourceFiles[0].Path),
        host("/nonexistent-base/host.c");
    Count(st, p->RemapSourceFile(&base, &dir));
    Count(st, p->RemapSourceFile(&stored, &host));
    AddUnique(paths, std::string("/nonexistent-base/host.c"), kMaxPaths + 1);
    BSTR path = nullptr;
    DATE stamp = 0;
    unsigned char lang = 0, temp = 0;
    Count(st, p->GetSourceFileInfo(0, &path, &stamp, &lang, &temp));
    SysFreeString(path);
  }

  // ---- statements ----
  const std::vector<mirl::StatementRecord>& stats = c->m_Statements;
  std::vector<ULONG> codeAddresses = {0, 0xFFFFFFFFu};
  std::vector<ULONG> lines = {0, 1, 5, 100, 0xFFFFFFFFu};
  for (ULONG id : Sweep(stats.size())) {
    ULONG addr = 0;
    unsigned char type = 0;
    Count(st, p->EnumHLStatements(id, &addr, &type));
  }
  for (ULONG id : Inside(stats.size(), 8, 4)) {
    AddUnique(codeAddresses, ULONG(stats[id].Address), kMaxAddresses);
    AddUnique(lines, ULONG(stats[id].Line), size_t(12));
  }
  for (ULONG id : Inside(c->m_ScopeTable.Scopes.size(), 6, 2)) {
    const mirl::ScopeRecord& s = c->m_ScopeTable.Scopes[id];
    AddUnique(codeAddresses, ULONG(s.LowAddress), kMaxAddresses);
    AddUnique(codeAddresses, ULONG(s.HighAddress - 1), kMaxAddresses);
  }
  for (const auto& label : c->m_SymbolIndex)
    AddUnique(codeAddresses, ULONG(label.first), kMaxAddresses);
  for (ULONG a : codeAddresses) {
    for (ULONG probe : {a, a + 1}) {
      BSTR path = nullptr;
      ULONG l = 0, col = 0, le = 0, ce = 0, start = 0;
      Count(st, p->GetSourceFromProgMemAddress(probe, &path, &l, &col, &le, &ce, &start));
      SysFreeString(path);
      for (unsigned char kind : {0, 1, 2, 3, 5}) {
        ULONG scope = 0;
        Count(st, p->GetScopeFromProgMemAddress(probe, kind, &scope));
      }
      BSTR label = nullptr;
      Count(st, p->LookupLabel(probe, &label));
      SysFreeString(label);
    }
  }
  for (const std::string& path : paths) {
    for (ULONG line : lines) {
      Str b(path);
      ULONG addr = 0;
      Count(st, p->GetProgMemAddressFromSource(&b, line, 0, &addr));
    }
  }
  {
    BSTR none = nullptr;
    ULONG addr = 0;
    Count(st, p->GetProgMemAddressFromSource(&none, 1, 0, &addr));
  }

  // ---- scopes ----
  const size_t scopes = c->m_ScopeTable.Scopes.size();
  for (ULONG id : Sweep(scopes)) {
    BSTR name = nullptr, full = nullptr;
    ULONG type = 0, start = 0, size = 0, first = 0;
    Count(st, p->GetScopeInfo(id, &name, &full, &type, &start, &size, &first));
    SysFreeString(name);
    SysFreeString(full);
    ULONG count = 0;
    ULONG* ids = nullptr;
    Count(st, p->EnumSubScopes(id, &count, &ids));
    CoTaskMemFree(ids);
  }
  for (ULONG id : Inside(scopes, 6, 2)) AddUnique(names, c->m_ScopeTable.ScopeName(id), kMaxNames);
  {
    BSTR none = nullptr;
    ULONG scope = 0;
    Count(st, p->GetScopeFromName(&none, &scope));
    Str b("{\"" + paths.back() + "\", " + longName + "}");
    Count(st, p->GetScopeFromName(&b, &scope));
  }
  for (const std::string& path : paths) {
    for (const std::string& text :
         {"{\"" + path + "\"}", "{\"" + path + "\", 3}", "{\"" + path + "\",0x10}",
          "{\"" + path + "\", " + names[std::min<size_t>(names.size() - 1, 5)] + "}",
          "{\"" + path + "\", main }", "{\"" + path}) {
      Str b(text);
      ULONG scope = 0;
      Count(st, p->GetScopeFromName(&b, &scope));
    }
  }

  // ---- symbols ----
  for (ULONG id : Sweep(c->m_SymbolTable.Symbols.size())) {
    BSTR name = nullptr;
    ULONG scope = 0, type = 0;
    Count(st, p->GetSymbolInfo(id, &name, &scope, &type));
    SysFreeString(name);
    for (ULONG a : {0u, 0x100u, 0xFFFFFFFFu}) {
      unsigned char infoKind = 0, mem = 0;
      ULONG addr = 0;
      Count(st, p->GetSymbolLocation(id, a, &infoKind, &addr, &mem));
    }
  }
  {
    ULONG sym = 0;
    Count(st, p->EnumSymbols(0, 0, &sym));
    BSTR cat = nullptr;
    Count(st, p->EnumSymbolCategories(0, &cat));
    SysFreeString(cat);
  }
  std::vector<ULONG> scopeProbes;
  for (ULONG s : {size_t(0), size_t(1), scopes / 2, scopes ? scopes - 1 : 0, scopes})
    AddUnique(scopeProbes, s, 8);
  for (const std::string& name : names) {
    // The global search does not depend on the scope asked from.
    Str global(name);
    ULONG sym = 0, found = 0;
    Count(st, p->LookupSymbolName(&global, 0, 1, &sym, &found));
    for (ULONG scope : scopeProbes) {
      Str b(name);
      Count(st, p->LookupSymbolName(&b, scope, 0, &sym, &found));
    }
  }
  {
    BSTR none = nullptr;
    ULONG sym = 0, found = 0;
    Count(st, p->LookupSymbolName(&none, 0, 0, &sym, &found));
    Str b(longName);
    Count(st, p->LookupSymbolName(&b, 0, 1, &sym, &found));
  }

  // ---- types ----
  std::string memberName = "x";
  if (!c->m_TypeTable.Members.empty())
    memberName = nt.GetName(c->m_TypeTable.Members.back().NameIndex);
  for (ULONG id : TypeIds(c->m_TypeTable)) {
    BSTR name = nullptr;
    ULONG size = 0, spec = 0, elements = 0, ptrSize = 0, ref = 0, refMem = 0, off = 0, out = 0;
    unsigned char mem = 0;
    Count(st, p->GetTypeInfo(id, &name, &size, &spec, &elements, &mem, &ptrSize));
    SysFreeString(name);
    Count(st, p->GetRefferedType(id, &ref, &refMem));
    for (ULONG index : {0u, 1u, 5u, 0x7FFFFFFFu}) {
      BSTR member = nullptr;
      Count(st, p->GetStructuralMember(id, &member, index, &out, &off));
      SysFreeString(member);
    }
    Str byName(memberName);
    Count(st, p->GetStructuralMember(id, &byName, 0xFFFFFFFFu, &out, &off));
  }
  {
    ULONG value = 0;
    double dv = 0;
    BSTR s1 = nullptr, s2 = nullptr, s3 = nullptr;
    Count(st, p->GetValue(6, 0, 2, &value, &dv));
    Count(st, p->SetValue(6, 0, 2, 0, 0.0));
    Count(st, p->EvaluateByValue(6, 0, 0.0, &s1, &s2, &s3));
    Count(st, p->EvaluateByLocation(6, 0, 2, &s1, &s2, &s3));
  }

  // ---- debug-information entries ----
  DriveEntries(c, names, paths, st);
  return st;
}

}  // namespace querydriver

#endif
