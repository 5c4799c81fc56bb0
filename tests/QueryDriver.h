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

using testsupport::Bstr;

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

}  // namespace detail

// What a gated method is asked, and places for its answers: `id` goes
// where the method takes an id; with `null`, a null goes in place of its
// last required answer (Last). Strings are the callers' own temporaries.
struct Ask {
  IMirlParser* p;
  IMirlParserMem* pm;
  ULONG id = 0;
  bool null = false;
  DATE d = 0;
  ULONG a = 0, b = 0, e = 0, f = 0, g = 0, *ids = nullptr;
  unsigned char u = 0, v = 0, buf[8] = {};
  double dv = 0;
  SAFEARRAY* psa = nullptr;
  template <class T>
  T* Last(T* place) const {
    return null ? nullptr : place;
  }
};

// Every method that answers only after a parse. Every one checks its
// pointers first, then the parse, then the id; ids beyond the tables
// answer PARSER_E_BAD_ID after a parse.
struct GatedCall {
  const char* name;
  bool takesId;
  HRESULT (*ask)(Ask& x);
  HRESULT operator()(Ask& x, ULONG id, bool null = false) const {
    x.id = id;
    x.null = null;
    HRESULT hr = ask(x);
    if (x.psa) SafeArrayDestroy(x.psa);
    CoTaskMemFree(x.ids);
    x.psa = nullptr, x.ids = nullptr;
    return hr;
  }
};

inline const std::vector<GatedCall>& GatedCalls() {
  static const std::vector<GatedCall> calls = {
      {"GetTimeOfBuild", false, [](Ask& x) { return x.p->GetTimeOfBuild(x.Last(&x.d)); }},
      {"GetTargetInfo", false,
       [](Ask& x) { return x.p->GetTargetInfo(&Bstr(), &x.a, x.Last(&x.b)); }},
      {"GetMemoryInfo", false,
       [](Ask& x) { return x.p->GetMemoryInfo(1, &x.a, &x.b, x.Last(&x.e)); }},
      {"ReadMemory", false,
       [](Ask& x) { return x.p->ReadMemory(1, 0, sizeof x.buf, x.Last(x.buf)); }},
      {"ReadMemSA", false, [](Ask& x) { return x.pm->ReadMemSA(1, 0, 4, x.Last(&x.psa)); }},
      {"GetSourceFileInfo", true,
       [](Ask& x) { return x.p->GetSourceFileInfo(x.id, &Bstr(), &x.d, &x.u, x.Last(&x.v)); }},
      {"EnumHLStatements", true,
       [](Ask& x) { return x.p->EnumHLStatements(x.id, &x.a, x.Last(&x.u)); }},
      {"GetProgMemAddressFromSource", false,
       [](Ask& x) {
         return x.p->GetProgMemAddressFromSource(&Bstr("main.c"), 1, 0, x.Last(&x.a));
       }},
      {"GetSourceFromProgMemAddress", false,
       [](Ask& x) {
         return x.p->GetSourceFromProgMemAddress(0, &Bstr(), &x.a, &x.b, &x.e, &x.f, x.Last(&x.g));
       }},
      {"EnumSubScopes", true,
       [](Ask& x) { return x.p->EnumSubScopes(x.id, &x.a, x.Last(&x.ids)); }},
      {"GetScopeInfo", true,
       [](Ask& x) {
         return x.p->GetScopeInfo(x.id, &Bstr(), &Bstr(), &x.a, &x.b, &x.e, x.Last(&x.f));
       }},
      {"GetScopeFromProgMemAddress", false,
       [](Ask& x) { return x.p->GetScopeFromProgMemAddress(0, 0, x.Last(&x.a)); }},
      {"GetScopeFromName", false,
       [](Ask& x) { return x.p->GetScopeFromName(&Bstr("{\"main.c\"}"), x.Last(&x.a)); }},
      {"LookupLabel", false, [](Ask& x) { return x.p->LookupLabel(0, x.Last(&Bstr())); }},
      {"EnumSymbolCategories", false,
       [](Ask& x) { return x.p->EnumSymbolCategories(0, x.Last(&Bstr())); }},
      {"EnumSymbols", false, [](Ask& x) { return x.p->EnumSymbols(0, 0, x.Last(&x.a)); }},
      {"LookupSymbolName", true,
       [](Ask& x) { return x.p->LookupSymbolName(&Bstr("main"), x.id, 0, x.Last(&x.a), &x.b); }},
      {"GetSymbolInfo", true,
       [](Ask& x) { return x.p->GetSymbolInfo(x.id, &Bstr(), &x.a, x.Last(&x.b)); }},
      {"GetSymbolLocation", true,
       [](Ask& x) { return x.p->GetSymbolLocation(x.id, 0, &x.u, &x.a, x.Last(&x.v)); }},
      {"GetTypeInfo", true,
       [](Ask& x) {
         return x.p->GetTypeInfo(x.id, &Bstr(), &x.a, &x.b, x.Last(&x.e), &x.u, &x.f);
       }},
      {"GetRefferedType", true,
       [](Ask& x) { return x.p->GetRefferedType(x.id, &x.a, x.Last(&x.b)); }},
      {"GetStructuralMember", true,
       [](Ask& x) { return x.p->GetStructuralMember(x.id, &Bstr(), 0, &x.a, x.Last(&x.b)); }},
      {"GetValue", false, [](Ask& x) { return x.p->GetValue(6, 0, 2, &x.a, x.Last(&x.dv)); }},
      {"EvaluateByLocation", false,
       [](Ask& x) { return x.p->EvaluateByLocation(6, 0, 2, &Bstr(), &Bstr(), x.Last(&Bstr())); }},
      {"EvaluateByValue", false,
       [](Ask& x) { return x.p->EvaluateByValue(6, 0, 0.0, &Bstr(), &Bstr(), x.Last(&Bstr())); }},
  };
  return calls;
}

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
  VARIANT v;
  VariantInit(&v);
  for (LONG h : handles) {
    LONG tag = 0;
    Count(st, p3->GetTag(h, &tag));
    for (LONG t : {0, 0x11, 0x2E, 0x0B, 0x34, 7})
      Count(st, p3->GetDies(h, t, &v)), VariantClear(&v);
    for (LONG a : {0x03, 0x11, 0x12, 0x4000, 0x01})
      Count(st, p3->GetAttr(h, a, &v)), VariantClear(&v);
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
    Bstr b(path);
    for (LONG t : {0, 0x11}) {
      LONG die = 0;
      Count(st, p3->LookupDie(0, b.get(), t, &die));
    }
  }
  for (const std::string& name : names) {
    Bstr b(name);
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
    Bstr b(longName);
    LONG die = 0;
    Count(st, p3->LookupDie(0, b.get(), 0, &die));
  }

  DriveDiagnostics(p, st);
  // Every gated method once with its fixed arguments: before a parse, all
  // there is to ask them.
  Ask x{p, pm};
  for (const GatedCall& g : GatedCalls()) Count(st, g(x, 0));
  if (!prog.Parsed()) {
    DriveEntries(p, names, paths, st);
    return st;
  }
  auto call = [&](const char* name, ULONG id) {
    for (const GatedCall& g : GatedCalls())
      if (std::strcmp(g.name, name) == 0) Count(st, g(x, id));
  };
  {
    Bstr again("/nonexistent/again.d90");
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
  for (ULONG id : Sweep(files.size())) call("GetSourceFileInfo", id);
  if (remapPaths && !files.empty()) {
    // A host path for the first file, then the queries that map it.
    Bstr base(""), dir("/nonexistent-base"), stored(files[0].path),
        host("/nonexistent-base/host.c");
    Count(st, p->RemapSourceFile(&base, &dir));
    Count(st, p->RemapSourceFile(&stored, &host));
    AddUnique(paths, std::string("/nonexistent-base/host.c"), kMaxPaths + 1);
    call("GetSourceFileInfo", 0);
  }

  // ---- statements ----
  const std::vector<mirl::api::Statement> stats = prog.Statements();
  std::vector<ULONG> codeAddresses = {0, 0xFFFFFFFFu};
  std::vector<ULONG> lines = {0, 1, 5, 100, 0xFFFFFFFFu};
  for (ULONG id : Sweep(stats.size())) call("EnumHLStatements", id);
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
      Bstr path, label;
      Count(st, p->GetSourceFromProgMemAddress(probe, &path, &x.a, &x.b, &x.e, &x.f, &x.g));
      for (unsigned char kind : {0, 1, 2, 3, 5})
        Count(st, p->GetScopeFromProgMemAddress(probe, kind, &x.a));
      Count(st, p->LookupLabel(probe, &label));
      mirl::api::SourcePosition at;
      Count(st, prog.SourceAt(probe, &at) ? S_OK : E_FAIL);
    }
  }
  for (const std::string& path : paths) {
    for (ULONG line : lines) {
      Bstr b(path);
      Count(st, p->GetProgMemAddressFromSource(&b, line, 0, &x.a));
    }
  }
  Bstr none;
  Count(st, p->GetProgMemAddressFromSource(&none, 1, 0, &x.a));

  // ---- scopes ----
  const size_t scopes = n.scopes;
  for (ULONG id : Sweep(scopes)) call("GetScopeInfo", id), call("EnumSubScopes", id);
  for (ULONG id : Inside(scopes, 6, 2))
    if (prog.GetScope(id, &s)) AddUnique(names, s.name, kMaxNames);
  Count(st, p->GetScopeFromName(&none, &x.a));
  Bstr tooLong("{\"" + paths.back() + "\", " + longName + "}");
  Count(st, p->GetScopeFromName(&tooLong, &x.a));
  for (const std::string& path : paths) {
    for (const std::string& text :
         {"{\"" + path + "\"}", "{\"" + path + "\", 3}", "{\"" + path + "\",0x10}",
          "{\"" + path + "\", " + names[std::min<size_t>(names.size() - 1, 5)] + "}",
          "{\"" + path + "\", main }", "{\"" + path}) {
      Bstr b(text);
      Count(st, p->GetScopeFromName(&b, &x.a));
    }
  }

  // ---- symbols ----
  for (ULONG id : Sweep(n.symbols)) {
    call("GetSymbolInfo", id);
    for (ULONG a : {0u, 0x100u, 0xFFFFFFFFu})
      Count(st, p->GetSymbolLocation(id, a, &x.u, &x.a, &x.v));
  }
  std::vector<ULONG> scopeProbes;
  for (ULONG s : {size_t(0), size_t(1), scopes / 2, scopes ? scopes - 1 : 0, scopes})
    AddUnique(scopeProbes, s, 8);
  for (const std::string& name : names) {
    // The global search does not depend on the scope asked from.
    Bstr global(name);
    Count(st, p->LookupSymbolName(&global, 0, 1, &x.a, &x.b));
    for (ULONG scope : scopeProbes) {
      Bstr b(name);
      Count(st, p->LookupSymbolName(&b, scope, 0, &x.a, &x.b));
    }
  }
  Count(st, p->LookupSymbolName(&none, 0, 0, &x.a, &x.b));
  Bstr longSymbol(longName);
  Count(st, p->LookupSymbolName(&longSymbol, 0, 1, &x.a, &x.b));

  // ---- types ----
  // The name of a member of the last added type that has members.
  const std::vector<ULONG> typeIds = TypeIds(prog);
  std::string memberName = "x";
  for (ULONG id : typeIds) {
    std::vector<mirl::api::Member> members = prog.Members(id);
    if (!members.empty()) memberName = members.back().name;
  }
  for (ULONG id : typeIds) {
    call("GetTypeInfo", id), call("GetRefferedType", id);
    for (ULONG index : {0u, 1u, 5u, 0x7FFFFFFFu}) {
      Bstr member;
      Count(st, p->GetStructuralMember(id, &member, index, &x.a, &x.b));
    }
    Bstr byName(memberName);
    Count(st, p->GetStructuralMember(id, &byName, 0xFFFFFFFFu, &x.a, &x.b));
    // The read API's own walks over the shared member, enumerator and
    // parameter arrays.
    Count(st, prog.Members(id).empty() ? E_FAIL : S_OK);
    Count(st, prog.Enumerators(id).empty() ? E_FAIL : S_OK);
    Count(st, prog.Parameters(id).empty() ? E_FAIL : S_OK);
  }
  Count(st, p->SetValue(6, 0, 2, 0, 0.0));

  // ---- debug-information entries ----
  DriveEntries(p, names, paths, st);
  return st;
}

}  // namespace querydriver

#endif
