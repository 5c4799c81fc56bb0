// Drives every query method of a parsed (or half-parsed) component, and
// every call of the read API, with ids from the tables and beyond them,
// addresses inside and outside the images, names from the tables and
// made-up ones, and die handles. Used by the fuzz target and by the
// robustness tests: whatever a file holds, none of these calls may crash,
// hang or read outside a table. The component is reached only through its
// interfaces; the ids, names, paths and addresses to ask come from the read
// API.
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
#include <memory>
#include <string>
#include <vector>

#include "../component/MirlProgram.h"
#include "../platform/Platform.h"
#include "NewParser.h"

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

// A component that never parsed: its types are the predefined ones. Made
// once through the class factory and kept for the life of the process.
inline const mirl::api::Program& FreshTypes() {
  static IMirlParser* fresh = [] {
    IMirlParser* p = NewParser();
    p->Init(0);
    return p;
  }();
  static const mirl::api::Program program(fresh);
  return program;
}

inline bool SameType(const mirl::api::Type& a, const mirl::api::Type& b) {
  return a.kind == b.kind && std::equal(a.words, a.words + 5, b.words);
}

// Types whose entries differ from those of a fresh component (the file
// replaced a predefined type or changed its size), and every type the file
// added.
inline std::vector<ULONG> TypeIds(const mirl::api::Program& prog) {
  const mirl::api::Program& fresh = FreshTypes();
  const size_t freshCount = fresh.Count().types, count = prog.Count().types;
  std::vector<ULONG> ids = {0, 1, 6, 12, 15, 24, 27, 32, 99};
  mirl::api::Type a, b;
  for (size_t i = 0; i < freshCount && i < count; ++i) {
    if (prog.GetType(uint32_t(i), &a) && fresh.GetType(uint32_t(i), &b) && !SameType(a, b))
      AddUnique(ids, ULONG(i), ids.size() + 1);
  }
  size_t added = count > freshCount ? count - freshCount : 0;
  for (ULONG i : Inside(added)) ids.push_back(ULONG(freshCount) + i);
  for (size_t i = count; i < count + 2; ++i) ids.push_back(ULONG(i));
  ids.push_back(0xFFFFFFFFu);
  return ids;
}

// Every gated method once: before a successful parse each answers from its
// checks alone.
inline void DriveUnparsed(IMirlParser* p, IMirlParserMem* pm, Stats& st) {
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
inline void DriveEntries(IMirlParser* p, const std::vector<std::string>& names,
                         const std::vector<std::string>& paths, Stats& st) {
  using namespace detail;
  IMirlParser3* p3 = nullptr;
  if (FAILED(p->QueryInterface(IID_IMirlParser3, reinterpret_cast<void**>(&p3)))) return;
  const mirl::api::Program prog(p);
  const mirl::api::Counts n = prog.Count();
  const size_t scopes = n.scopes;
  const size_t symbols = n.symbols;

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
    mirl::api::Scope s;
    for (uint32_t i = 0; i < scopes; ++i) {
      if (prog.GetScope(i, &s) && s.kind == mirl::api::kFunction) {
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
  p3->Release();
}

// The read API that tools read (ubrofdump), which like the entry view
// answers from whatever the tables hold: every call, with ids at the ends
// of each table and beyond them.
inline void DriveDiagnostics(IMirlParser* p, Stats& st) {
  using namespace detail;
  const mirl::api::Program prog(p);
  auto Ok = [&st](bool ok) { Count(st, ok ? S_OK : E_FAIL); };
  Ok(prog.Initialized());
  Ok(prog.Parsed());
  Ok(!prog.LastParse().message.empty());
  Ok(prog.File().version != 0);
  const mirl::api::Counts n = prog.Count();
  Ok(!prog.KeyValues().empty());
  Ok(!prog.Modules().empty());
  Ok(!prog.SegmentGroups().empty());
  mirl::api::Scope scope;
  for (ULONG id : Sweep(n.scopes)) Ok(prog.GetScope(id, &scope));
  Ok(!prog.RootScopes().empty());
  Ok(!prog.Symbols().empty());
  mirl::api::Symbol symbol;
  for (ULONG id : Inside(n.symbols, 8, 2)) {
    Ok(prog.GetSymbol(id, &symbol));
    for (ULONG a : {0u, 0x100u, 0xFFFFFFFFu}) Ok(prog.SymbolLocation(id, a).kind != 0);
  }
  Ok(prog.GetSymbol(n.symbols, &symbol));
  Ok(prog.SymbolLocation(0xFFFFFFFFu, 0).kind != 0);
  Ok(!prog.Labels().empty());
  Ok(!prog.Macros().empty());
  Ok(!prog.SourceFiles().empty());
  Ok(!prog.Statements().empty());
  Ok(!prog.StatementRuns().empty());
  mirl::api::Type type;
  for (ULONG id : {0u, 6u, 99u, 100u, n.types, 0xFFFFFFFFu}) Ok(prog.GetType(id, &type));
  Ok(!prog.MemoryAttributes().empty());
  for (uint8_t t : {1, 2, 4, 8}) Ok(!prog.Memory(t).written.empty());
  for (uint8_t t : {1, 0x40, 3}) Ok(!prog.Read(t, 0xFFFFFFF8u, 16).empty());
}

// With remapPaths false only methods that leave the component as it was are
// called (RemapSourceFile is the one that changes it after a parse), so that
// several threads may drive one component at once.
inline Stats DriveAll(IMirlParser* p, bool remapPaths = true) {
  using namespace detail;
  Stats st;
  IMirlParserMem* pm = nullptr;
  IMirlParser3* p3 = nullptr;
  if (!p || FAILED(p->QueryInterface(IID_IMirlParserMem, reinterpret_cast<void**>(&pm)))) return st;
  if (FAILED(p->QueryInterface(IID_IMirlParser3, reinterpret_cast<void**>(&p3)))) {
    pm->Release();
    return st;
  }
  // Both references go when the driver returns, on every path.
  auto release = [](IUnknown* u) { u->Release(); };
  std::unique_ptr<IUnknown, decltype(release)> holdMem(pm, release), hold3(p3, release);
  const mirl::api::Program prog(p);
  const mirl::api::Counts n = prog.Count();

  BSTR info = nullptr;
  Count(st, p->GetGeneralInfoString(&info));
  SysFreeString(info);
  ULONG exitAddr = 0;
  Count(st, pm->GetProgramExit(&exitAddr));

  // Names and paths from the tables, and made-up ones.
  std::vector<std::string> names = {"", "main", "exit", "_A_x"};
  const std::vector<mirl::api::Module> modules = prog.Modules();
  for (ULONG i : Inside(modules.size(), 4, 1)) AddUnique(names, modules[i].name, kMaxNames);
  const std::vector<mirl::api::Macro> macros = prog.Macros();
  for (ULONG i : Inside(macros.size(), 2, 1)) AddUnique(names, macros[i].name, kMaxNames);
  mirl::api::Symbol symbol;
  for (ULONG i : Inside(n.symbols, 6, 2))
    if (prog.GetSymbol(i, &symbol)) AddUnique(names, symbol.name, kMaxNames);
  std::vector<std::string> paths = {"", "main.c", "C:\\x\\y.c"};
  const std::vector<mirl::api::SourceFile> files = prog.SourceFiles();
  for (ULONG i : Inside(files.size(), 3, 1)) AddUnique(paths, files[i].path, kMaxPaths);

  // A name longer than the 999 characters names are cut to must be cut or
  // refused, never overrun a buffer.
  const std::string longName(1001, 'n');
  {
    Str b(longName);
    LONG die = 0;
    Count(st, p3->LookupDie(0, b.get(), 0, &die));
  }

  DriveDiagnostics(p, st);
  if (!prog.Parsed()) {
    DriveUnparsed(p, pm, st);
    DriveEntries(p, names, paths, st);
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
  for (ULONG id : Sweep(files.size())) {
    BSTR path = nullptr;
    DATE stamp = 0;
    unsigned char lang = 0, temp = 0;
    Count(st, p->GetSourceFileInfo(id, &path, &stamp, &lang, &temp));
    SysFreeString(path);
  }
  if (remapPaths && !files.empty()) {
    // A host path for the first file, then the queries that map it.
    Str base(""), dir("/nonexistent-base"), stored(files[0].path), host("/nonexistent-base/host.c");
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
  const std::vector<mirl::api::Statement> stats = prog.Statements();
  std::vector<ULONG> codeAddresses = {0, 0xFFFFFFFFu};
  std::vector<ULONG> lines = {0, 1, 5, 100, 0xFFFFFFFFu};
  for (ULONG id : Sweep(stats.size())) {
    ULONG addr = 0;
    unsigned char type = 0;
    Count(st, p->EnumHLStatements(id, &addr, &type));
  }
  for (ULONG id : Inside(stats.size(), 8, 4)) {
    AddUnique(codeAddresses, ULONG(stats[id].address), kMaxAddresses);
    AddUnique(lines, ULONG(stats[id].line), size_t(12));
  }
  mirl::api::Scope s;
  for (ULONG id : Inside(n.scopes, 6, 2)) {
    if (!prog.GetScope(id, &s)) continue;
    AddUnique(codeAddresses, ULONG(s.low), kMaxAddresses);
    AddUnique(codeAddresses, ULONG(s.high - 1), kMaxAddresses);
  }
  for (const mirl::api::Label& label : prog.Labels())
    AddUnique(codeAddresses, ULONG(label.address), kMaxAddresses);
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
      mirl::api::SourcePosition at;
      Count(st, prog.SourceAt(probe, &at) ? S_OK : E_FAIL);
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
  const size_t scopes = n.scopes;
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
  for (ULONG id : Inside(scopes, 6, 2))
    if (prog.GetScope(id, &s)) AddUnique(names, s.name, kMaxNames);
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
  for (ULONG id : Sweep(n.symbols)) {
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
  // The name of a member of the last added type that has members.
  const std::vector<ULONG> typeIds = TypeIds(prog);
  std::string memberName = "x";
  for (ULONG id : typeIds) {
    std::vector<mirl::api::Member> members = prog.Members(id);
    if (!members.empty()) memberName = members.back().name;
  }
  for (ULONG id : typeIds) {
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
    // The read API's own walks over the shared member, enumerator and
    // parameter arrays.
    Count(st, prog.Members(id).empty() ? E_FAIL : S_OK);
    Count(st, prog.Enumerators(id).empty() ? E_FAIL : S_OK);
    Count(st, prog.Parameters(id).empty() ? E_FAIL : S_OK);
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
  DriveEntries(p, names, paths, st);
  return st;
}

}  // namespace querydriver

#endif
