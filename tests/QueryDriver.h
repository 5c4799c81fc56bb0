// Drives every query method of a parsed (or half-parsed) component with ids
// from the tables and beyond them, addresses inside and outside the images,
// names from the tables and made-up ones, and every die handle. Used by the
// fuzz target and by the robustness tests: whatever a file holds, none of
// these calls may crash, hang or read outside a table.
#ifndef MIRL_TESTS_QUERYDRIVER_H
#define MIRL_TESTS_QUERYDRIVER_H

#include <algorithm>
#include <string>
#include <vector>

#include "../component/CMirlParserUbrof.h"

namespace querydriver {

struct Stats {
  unsigned calls = 0;
  unsigned succeeded = 0;
};

namespace detail {

inline BSTR MakeBstr(const std::string& s) { return platform::AnsiToBstr(s); }

inline void Count(Stats& st, HRESULT hr) {
  ++st.calls;
  if (SUCCEEDED(hr)) ++st.succeeded;
}

// Upper bound for id sweeps, so a huge table does not make one input slow.
constexpr ULONG kMaxIds = 400;

inline ULONG Sweep(ULONG n) { return std::min<ULONG>(n, kMaxIds) + 3; }

}  // namespace detail

inline Stats DriveAll(CMirlParserUbrof* c) {
  using namespace detail;
  Stats st;
  IMirlParser* p = c;
  IMirlParserMem* pm = c;
  IMirlParser3* p3 = c;

  // ---- lifecycle and information ----
  BSTR info = nullptr;
  Count(st, p->GetGeneralInfoString(&info));
  SysFreeString(info);
  DATE d = 0;
  Count(st, p->GetTimeOfBuild(&d));
  BSTR dev = nullptr;
  ULONG core = 0, model = 0;
  Count(st, p->GetTargetInfo(&dev, &core, &model));
  SysFreeString(dev);

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
    SAFEARRAY* psa = nullptr;
    Count(st, pm->ReadMemSA(1, a, 16, &psa));
    if (psa) SafeArrayDestroy(psa);
  }
  ULONG exitAddr = 0;
  Count(st, pm->GetProgramExit(&exitAddr));

  // ---- source files ----
  std::vector<std::string> paths = {"", "main.c", "C:\\x\\y.c", "/tmp/none.c"};
  ULONG files = 0;
  for (ULONG id = 0; id < detail::kMaxIds + 3; ++id) {
    BSTR path = nullptr;
    DATE stamp = 0;
    unsigned char lang = 0, temp = 0;
    HRESULT hr = p->GetSourceFileInfo(id, &path, &stamp, &lang, &temp);
    Count(st, hr);
    if (SUCCEEDED(hr)) {
      files = id + 1;
      paths.push_back(platform::BstrToAnsi(path));
    }
    SysFreeString(path);
    if (FAILED(hr) && id > files + 2) break;
  }

  // ---- statements ----
  std::vector<ULONG> codeAddresses;
  for (ULONG id = 0; id < detail::kMaxIds + 3; ++id) {
    ULONG addr = 0;
    unsigned char type = 0;
    HRESULT hr = p->EnumHLStatements(id, &addr, &type);
    Count(st, hr);
    if (FAILED(hr)) break;
    codeAddresses.push_back(addr);
  }
  codeAddresses.push_back(0);
  codeAddresses.push_back(0xFFFFFFFFu);
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
    for (ULONG line : {0u, 1u, 5u, 100u, 0xFFFFFFFFu}) {
      BSTR b = MakeBstr(path);
      ULONG addr = 0;
      Count(st, p->GetProgMemAddressFromSource(&b, line, 0, &addr));
      SysFreeString(b);
    }
  }

  // ---- scopes ----
  ULONG scopes = 0;
  std::vector<std::string> names = {"", "main", "exit", "x", "_A_x", std::string(1500, 'n')};
  {
    ULONG count = 0;
    ULONG* ids = nullptr;
    Count(st, p->EnumSubScopes(0xFFFFFFFFu, &count, &ids));
    CoTaskMemFree(ids);
  }
  for (ULONG id = 0; id < detail::kMaxIds + 3; ++id) {
    BSTR name = nullptr, full = nullptr;
    ULONG type = 0, start = 0, size = 0, first = 0;
    HRESULT hr = p->GetScopeInfo(id, &name, &full, &type, &start, &size, &first);
    Count(st, hr);
    if (SUCCEEDED(hr)) {
      scopes = id + 1;
      names.push_back(platform::BstrToAnsi(name));
    }
    SysFreeString(name);
    SysFreeString(full);
    ULONG count = 0;
    ULONG* ids = nullptr;
    Count(st, p->EnumSubScopes(id, &count, &ids));
    CoTaskMemFree(ids);
    if (FAILED(hr) && id > scopes + 2) break;
  }
  for (const std::string& path : paths) {
    for (const std::string& text :
         {"{\"" + path + "\"}", "{\"" + path + "\", 3}", "{\"" + path + "\",0x10}",
          "{\"" + path + "\", main}", "{\"" + path + "\", main }", "{\"" + path}) {
      BSTR b = MakeBstr(text);
      ULONG scope = 0;
      Count(st, p->GetScopeFromName(&b, &scope));
      SysFreeString(b);
    }
  }

  // ---- symbols ----
  ULONG symbols = 0;
  for (ULONG id = 0; id < detail::kMaxIds + 3; ++id) {
    BSTR name = nullptr;
    ULONG scope = 0, type = 0;
    HRESULT hr = p->GetSymbolInfo(id, &name, &scope, &type);
    Count(st, hr);
    if (SUCCEEDED(hr)) {
      symbols = id + 1;
      if (names.size() < 2 * detail::kMaxIds) names.push_back(platform::BstrToAnsi(name));
    }
    SysFreeString(name);
    for (ULONG a : {0u, 0x100u, 0xFFFFFFFFu}) {
      unsigned char infoKind = 0, mem = 0;
      ULONG addr = 0;
      Count(st, p->GetSymbolLocation(id, a, &infoKind, &addr, &mem));
    }
    if (FAILED(hr) && id > symbols + 2) break;
  }
  {
    ULONG sym = 0;
    Count(st, p->EnumSymbols(0, 0, &sym));
    BSTR cat = nullptr;
    Count(st, p->EnumSymbolCategories(0, &cat));
    SysFreeString(cat);
  }
  ULONG scopeProbes = std::min<ULONG>(scopes, 8) + 2;
  for (const std::string& name : names) {
    for (ULONG scope = 0; scope < scopeProbes; ++scope) {
      for (ULONG flags : {0u, 1u}) {
        BSTR b = MakeBstr(name);
        ULONG sym = 0, found = 0;
        Count(st, p->LookupSymbolName(&b, scope, flags, &sym, &found));
        SysFreeString(b);
      }
    }
  }

  // ---- types ----
  ULONG types = 0;
  for (ULONG id = 0; id < 0x10000; ++id) {
    BSTR name = nullptr;
    ULONG size = 0, spec = 0, elements = 0, ptrSize = 0, ref = 0, refMem = 0, off = 0;
    unsigned char mem = 0;
    HRESULT hr = p->GetTypeInfo(id, &name, &size, &spec, &elements, &mem, &ptrSize);
    Count(st, hr);
    SysFreeString(name);
    if (FAILED(hr)) {
      if (id > types + 2) break;
      continue;
    }
    types = id + 1;
    Count(st, p->GetRefferedType(id, &ref, &refMem));
    for (ULONG index : {0u, 1u, 5u, 0x7FFFFFFFu}) {
      BSTR member = nullptr;
      ULONG out = 0;
      Count(st, p->GetStructuralMember(id, &member, index, &out, &off));
      SysFreeString(member);
    }
    BSTR byName = MakeBstr("x");
    ULONG out = 0;
    Count(st, p->GetStructuralMember(id, &byName, 0xFFFFFFFFu, &out, &off));
    SysFreeString(byName);
    ULONG value = 0;
    double dv = 0;
    Count(st, p->GetValue(id, 0, 1, &value, &dv));
  }

  // ---- debug-information entries ----
  ULONG handles = std::min<ULONG>(scopes + symbols, 3 * detail::kMaxIds) + 3;
  for (ULONG h = 0; h < handles; ++h) {
    LONG tag = 0;
    Count(st, p3->GetTag(LONG(h), &tag));
    for (LONG t : {0, 0x11, 0x2E, 0x0B, 0x34, 7}) {
      VARIANT v;
      VariantInit(&v);
      Count(st, p3->GetDies(LONG(h), t, &v));
      VariantClear(&v);
    }
    for (LONG attr : {0x03, 0x11, 0x12, 0x4000, 0x01}) {
      VARIANT v;
      VariantInit(&v);
      Count(st, p3->GetAttr(LONG(h), attr, &v));
      VariantClear(&v);
    }
  }
  for (const std::string& name : paths) {
    BSTR b = MakeBstr(name);
    LONG die = 0;
    Count(st, p3->LookupDie(0, b, 0, &die));
    SysFreeString(b);
  }
  for (size_t i = 0; i < names.size() && i < 50; ++i) {
    BSTR b = MakeBstr(names[i]);
    for (LONG parent : {0L, 1L, 2L}) {
      for (LONG t : {0, 0x11, 0x2E, 0x0B, 0x34}) {
        LONG die = 0;
        Count(st, p3->LookupDie(parent, b, t, &die));
      }
    }
    SysFreeString(b);
  }
  LONG child = 0;
  Count(st, p3->GetDie(0, 0, &child));
  return st;
}

}  // namespace querydriver

#endif
