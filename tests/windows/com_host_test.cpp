// A Windows host of MirlParserUbrof.dll: it knows only the widl-generated
// header and reaches the server the way a debugger does, through regsvr32,
// the registry, program ids, CoCreateInstance, vtables and IDispatch.
//
//   com_host --dll=<path of MirlParserUbrof.dll> [--apartment=sta|mta]
//            [--sweep=<object file>,<answers file>] [--gtest_filter=...]
//
// CTest runs it in steps: Registration.Register* (regsvr32), the client
// suites from a multi-threaded and from a single-threaded apartment, and
// Registration.Unregister* (regsvr32 /u); Sweep.* writes every answer of
// the interfaces on a real object file, for comparing the 32-bit DLL with
// the 64-bit one. The class factory, aggregation and
// the unload count are the component's own code, checked natively by
// tests/host/host_test.cpp; here they are used as a host uses them.
#define WIN32_LEAN_AND_MEAN
// clang-format off
#include <windows.h>  // first: the other Windows headers build on it
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
// clang-format on
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "../../platform/ModuleStrings.h"
#include "../InterfaceTable.h"
#include "../UbrofWriter.h"
#include "MirlParserUbrof_i.h"

namespace {

std::wstring g_dllPath;  // as given on the command line
bool g_sta = false;      // the test thread's apartment
std::string g_sweepFile, g_sweepOut;

const wchar_t kProgId[] = L"MirlParserUbrof.MirlParserUbrof.1";
const wchar_t kVersionIndependentProgId[] = L"MirlParserUbrof.MirlParserUbrof";

// --- Small helpers
std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
std::string Narrow(const wchar_t* s) {
  std::string out;
  for (; s && *s; ++s) out += *s < 0x80 ? char(*s) : '?';
  return out;
}

std::wstring GuidText(REFGUID g) {
  wchar_t buf[40] = {};
  StringFromGUID2(g, buf, 40);
  return buf;
}

std::wstring FullPath(const std::wstring& path) {
  wchar_t buf[MAX_PATH * 2] = {};
  DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 2, buf, nullptr);
  return n ? std::wstring(buf, n) : path;
}

template <class T>
void** Out(T** pp) {
  return reinterpret_cast<void**>(pp);
}

template <class T>
struct Ref {
  T* p = nullptr;
  ~Ref() {
    if (p) p->Release();
  }
  T* operator->() const { return p; }
  T** operator&() { return &p; }
};

struct Bstr {
  BSTR b = nullptr;
  Bstr() = default;
  explicit Bstr(const std::string& s) : b(SysAllocString(Wide(s).c_str())) {}
  ~Bstr() { SysFreeString(b); }
  BSTR* operator&() { return &b; }
  std::string str() const { return Narrow(b); }
};

// --- Registry
// This process's bitness: its type-library platform and the registry view
// of the DLL of the other bitness.
const bool k64 = sizeof(void*) == 8;
const wchar_t* const kPlatform = k64 ? L"win64" : L"win32";
const wchar_t* const kOtherPlatform = k64 ? L"win32" : L"win64";
const REGSAM kOtherView = k64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

bool KeyExists(const std::wstring& subkey, REGSAM view = 0) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_READ | view, &h) != ERROR_SUCCESS)
    return false;
  RegCloseKey(h);
  return true;
}

// A string value (name null: the default value); nullopt when missing.
std::optional<std::wstring> Value(const std::wstring& subkey, const wchar_t* name = nullptr) {
  wchar_t buf[1024] = {};
  DWORD cb = sizeof buf;
  if (RegGetValueW(HKEY_CLASSES_ROOT, subkey.c_str(), name, RRF_RT_REG_SZ, nullptr, buf, &cb) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(buf);
}

// Number of subkeys and values of a key.
std::pair<DWORD, DWORD> Contents(const std::wstring& subkey) {
  HKEY h = nullptr;
  DWORD keys = 0, values = 0;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_READ, &h) == ERROR_SUCCESS) {
    RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(h);
  }
  return {keys, values};
}

void PlantKey(const std::wstring& subkey, const wchar_t* valueName) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &h, nullptr),
            ERROR_SUCCESS);
  if (valueName) RegSetValueExW(h, valueName, 0, REG_SZ, (const BYTE*)L"x", 4);
  RegCloseKey(h);
}

// Runs regsvr32 with the given switches on the DLL; returns its exit code.
DWORD Regsvr32(const std::wstring& switches) {
  std::wstring cmd = L"regsvr32.exe " + switches + L" \"" + g_dllPath + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return DWORD(-1);
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = DWORD(-1);
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return code;
}

const std::wstring kClassKey = L"CLSID\\" + GuidText(CLSID_MirlParserUbrof);
const std::wstring kTypeLibKey = L"TypeLib\\" + GuidText(LIBID_MIRLPARSERUBROFLib);

// --- Late binding
// The value members of a VARIANT all start at the same offset.
template <class T>
VARIANT Arg(VARTYPE vt, T v) {
  VARIANT x;
  VariantInit(&x);
  x.vt = vt;
  std::memcpy(&x.llVal, &v, sizeof v);
  return x;
}
VARIANT Ui1(BYTE v) { return Arg(VT_UI1, v); }
VARIANT Ui4(ULONG v) { return Arg(VT_UI4, v); }
VARIANT I4(LONG v) { return Arg(VT_I4, v); }
VARIANT ByRef(VARTYPE vt, void* p) { return Arg(VARTYPE(VT_BYREF | vt), p); }

// Invokes a method with its arguments in declaration order and returns the
// method's own status. A failing method must come back as DISP_E_EXCEPTION
// with the status in EXCEPINFO.scode; only dispatch's own errors (unknown
// member, bad argument) may come back directly.
HRESULT Invoke(IDispatch* d, DISPID id, std::vector<VARIANT> args, VARIANT* pResult = nullptr) {
  std::vector<VARIANT> rev(args.rbegin(), args.rend());
  DISPPARAMS params = {rev.data(), nullptr, UINT(rev.size()), 0};
  EXCEPINFO ex = {};
  UINT argErr = 0;
  HRESULT hr =
      d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, pResult, &ex, &argErr);
  EXPECT_TRUE(SUCCEEDED(hr) || HRESULT_FACILITY(hr) == FACILITY_DISPATCH) << std::hex << hr;
  if (hr == DISP_E_EXCEPTION) {
    if (ex.pfnDeferredFillIn) ex.pfnDeferredFillIn(&ex);
    hr = ex.scode;
  }
  SysFreeString(ex.bstrSource);
  SysFreeString(ex.bstrDescription);
  SysFreeString(ex.bstrHelpFile);
  return hr;
}

DISPID IdOf(IDispatch* d, const wchar_t* name) {
  LPOLESTR p = const_cast<LPOLESTR>(name);
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = d->GetIDsOfNames(IID_NULL, &p, 1, LOCALE_USER_DEFAULT, &id);
  return SUCCEEDED(hr) ? id : DISPID_UNKNOWN;
}

// The IDispatch part of one of the dual interfaces (its first seven slots).
template <class Itf>
IDispatch* AsDispatch(Itf* p) {
  return static_cast<IDispatch*>(p);
}

// --- The DLL as loaded in this process
HMODULE LoadedDll() { return GetModuleHandleW(L"MirlParserUbrof.dll"); }

HRESULT CanUnloadNow() {
  auto fn = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(LoadedDll(), "DllCanUnloadNow")));
  return fn ? fn() : E_UNEXPECTED;
}

// Walks the import table of a loaded module.
template <class F>
void ForEachImport(HMODULE mod, F f) {
  auto* base = reinterpret_cast<BYTE*>(mod);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress) return;
  for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name;
       ++imp) {
    const char* dll = reinterpret_cast<const char*>(base + imp->Name);
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
        base + (imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk));
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      const char* func = "";
      if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
        func = reinterpret_cast<const char*>(
            reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
      f(dll, func, reinterpret_cast<void**>(&slots->u1.Function));
    }
  }
}

// Writes an import slot of the DLL; returns what it held.
void* Swap(void** slot, void* value) {
  DWORD old = 0;
  VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old);
  void* prev = *slot;
  *slot = value;
  VirtualProtect(slot, sizeof(void*), old, &old);
  return prev;
}

// --- Object files
std::string Save(const ubrofw::Writer& w, const char* stem) {
  wchar_t dir[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, dir);
  std::string path =
      Narrow(dir) + "mirl-com-" + stem + "-" + std::to_string(GetCurrentProcessId()) + ".d90";
  EXPECT_TRUE(w.Save(path));
  return path;
}

// 24 December 1999 12:30:00, UBROF 8.0 rev. 2, one program module.
std::string WriteProgram() {
  ubrofw::Writer w;
  w.BegFile1(0, 30, 12, 24, 12, 99).Version(8, 0, 2).BegPgm("main").End().Finish();
  return Save(w, "program");
}

HRESULT CreateParser(REFIID riid, void** ppv) {
  return CoCreateInstance(CLSID_MirlParserUbrof, nullptr, CLSCTX_INPROC_SERVER, riid, ppv);
}

}  // namespace

// --- Registration (run right after regsvr32 and right after regsvr32 /u) ---
TEST(Registration, RegisterWritesEveryEntryAndReplacesTheClassKey) {
  // Whatever an earlier registration left below the class key must go.
  PlantKey(kClassKey + L"\\Stale", nullptr);
  PlantKey(kClassKey + L"\\Programmable\\Stale", nullptr);
  PlantKey(kClassKey, L"StaleValue");
  ASSERT_EQ(Regsvr32(L"/s"), 0u);
  ASSERT_EQ(Regsvr32(L"/s"), 0u);  // registering again is harmless

  const std::wstring clsid = GuidText(CLSID_MirlParserUbrof);
  const std::wstring libid = GuidText(LIBID_MIRLPARSERUBROFLib);
  const std::wstring progId = kProgId, independent = kVersionIndependentProgId;
  const std::pair<std::wstring, std::wstring> values[] = {
      {progId, L"IAR UBROF"},
      {progId + L"\\CLSID", clsid},
      {independent, L"IAR UBROF"},
      {independent + L"\\CLSID", clsid},
      {independent + L"\\CurVer", progId},
      {kClassKey, L"IAR UBROF"},
      {kClassKey + L"\\ProgID", progId},
      {kClassKey + L"\\VersionIndependentProgID", independent},
      {kClassKey + L"\\TypeLib", libid},
      {kTypeLibKey + L"\\1.0", L"MirlParserUbrof 1.0 Type Library"},
  };
  for (const auto& v : values) EXPECT_EQ(Value(v.first), v.second) << Narrow(v.first.c_str());
  EXPECT_EQ(Value(kClassKey + L"\\InprocServer32", L"ThreadingModel"), L"Free");
  // The server and the type library (under its own locale and locale-neutral,
  // where the type-library marshaler looks) are the DLL by its full path
  // (main made g_dllPath a full path).
  for (const std::wstring& key :
       {kClassKey + L"\\InprocServer32", kTypeLibKey + L"\\1.0\\409\\" + kPlatform,
        kTypeLibKey + L"\\1.0\\0\\" + kPlatform}) {
    std::optional<std::wstring> file = Value(key);
    ASSERT_TRUE(file.has_value()) << Narrow(key.c_str());
    EXPECT_EQ(lstrcmpiW(file->c_str(), g_dllPath.c_str()), 0) << Narrow(file->c_str());
  }
  // Exactly these subkeys; Programmable empty; no stale value.
  EXPECT_EQ(Contents(kClassKey), std::make_pair(DWORD(5), DWORD(1)));
  EXPECT_EQ(Contents(kClassKey + L"\\Programmable"), std::make_pair(DWORD(0), DWORD(0)));
  EXPECT_FALSE(KeyExists(kClassKey + L"\\Stale"));
  // The interfaces, marshaled by the type-library marshaler.
  for (REFIID iid : {IID_IMirlParser, IID_IMirlParserMem, IID_IMirlParser2, IID_IMirlParser3}) {
    std::wstring key = L"Interface\\" + GuidText(iid);
    EXPECT_EQ(Value(key + L"\\ProxyStubClsid32"), L"{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(Value(key + L"\\TypeLib"), libid);
  }
}

// The program ids and the type library's key are shared by the registry
// views; while the DLL of the other bitness is registered they stay, with
// its entry of the type library and its interfaces in its view.
TEST(Registration, UnregisterRemovesItsEntriesButNotClsid) {
  const bool other = KeyExists(kClassKey, kOtherView);
  std::printf("the DLL of the other bitness is %sregistered\n", other ? "" : "not ");
  const std::wstring iface = L"Interface\\" + GuidText(IID_IMirlParser);
  // Twice: unregistering what is not registered succeeds as well.
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(Regsvr32(L"/u /s"), 0u) << round;
    for (const std::wstring& key :
         {kClassKey, iface, L"Interface\\" + GuidText(IID_IMirlParserMem),
          L"Interface\\" + GuidText(IID_IMirlParser2), L"Interface\\" + GuidText(IID_IMirlParser3),
          kTypeLibKey + L"\\1.0\\409\\" + kPlatform, kTypeLibKey + L"\\1.0\\0\\" + kPlatform})
      EXPECT_FALSE(KeyExists(key)) << Narrow(key.c_str());
    for (const std::wstring& key : {std::wstring(kProgId), std::wstring(kVersionIndependentProgId),
                                    kTypeLibKey, kTypeLibKey + L"\\1.0\\0\\" + kOtherPlatform})
      EXPECT_EQ(KeyExists(key), other) << Narrow(key.c_str());
    EXPECT_EQ(KeyExists(kClassKey, kOtherView), other);
    EXPECT_EQ(KeyExists(iface, kOtherView), other);
    EXPECT_TRUE(KeyExists(L"CLSID"));
  }
  IUnknown* p = nullptr;
  EXPECT_EQ(
      CoCreateInstance(CLSID_MirlParserUbrof, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, Out(&p)),
      REGDB_E_CLASSNOTREG);
}

// --- Clients (the server is registered; smoke.vbs creates it by either
// program id) ---

// A freshly created object with its three interfaces. (CTest selects the
// client suites by name: Client, ParsedObject, InProcess, VersionMessage.)
class Client : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CreateParser(IID_IMirlParser, Out(&parser)), S_OK);
    ASSERT_EQ(parser->QueryInterface(IID_IMirlParserMem, Out(&mem)), S_OK);
    ASSERT_EQ(mem->QueryInterface(IID_IMirlParser3, Out(&three)), S_OK);
  }
  Ref<IMirlParser> parser;
  Ref<IMirlParserMem> mem;
  Ref<IMirlParser3> three;
};

// Each dual interface has an IDispatch of its own: it knows its own method
// names with their dispatch ids and none of the others' (one Invoke in the
// object would serve all three vtables).
TEST_F(Client, EachInterfaceResolvesOnlyItsOwnNames) {
  const std::pair<const char*, IDispatch*> views[] = {{"IMirlParser", AsDispatch(parser.p)},
                                                      {"IMirlParserMem", AsDispatch(mem.p)},
                                                      {"IMirlParser3", AsDispatch(three.p)}};
  for (const itable::Method& m : itable::kMethods) {
    for (const auto& [itf, d] : views) {
      bool own = std::strcmp(m.pszInterface, itf) == 0;
      // IDispatch has a GetTypeInfo of its own; IMirlParser's answers 0x1A.
      if (!own && std::strcmp(m.pszName, "GetTypeInfo") == 0) continue;
      EXPECT_EQ(IdOf(d, Wide(m.pszName).c_str()), own ? m.lDispId : DISPID_UNKNOWN)
          << itf << " asked for " << m.pszInterface << "::" << m.pszName;
    }
  }
  IDispatch* d = views[2].second;
  UINT count = 0;
  EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  Ref<ITypeInfo> info;
  ASSERT_EQ(d->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
  TYPEATTR* pAttr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&pAttr), S_OK);
  EXPECT_TRUE(IsEqualGUID(pAttr->guid, IID_IMirlParser3));
  info->ReleaseTypeAttr(pAttr);
  ITypeInfo* none = nullptr;
  EXPECT_EQ(d->GetTypeInfo(1, LOCALE_USER_DEFAULT, &none), DISP_E_BADINDEX);
}

// The object initialised through dispatch and parsed through its vtable.
class ParsedObject : public Client {
 protected:
  void SetUp() override {
    Client::SetUp();
    if (HasFatalFailure()) return;
    m_path = WriteProgram();
    IDispatch* d = AsDispatch(parser.p);
    ASSERT_EQ(Invoke(d, IdOf(d, L"Init"), {Ui1(0)}), S_OK);
    Bstr file(m_path);
    ASSERT_EQ(parser->ParseObjectFile(&file, 0), S_OK);
    EXPECT_EQ(file.str(), m_path);  // [in,out], left as it was
  }
  std::string m_path;
};

// Calls are made through the vtable and through dispatch (by a proxy in a
// single-threaded apartment); both give the same status and results.
TEST_F(ParsedObject, VtableAndDispatchAgree) {
  IDispatch* d = AsDispatch(parser.p);
  EXPECT_EQ(Invoke(d, 2, {Ui1(0x40), Ui1(0)}), PARSER_E_BAD_MEMORY_TYPE);
  EXPECT_EQ(Invoke(d, 0x13, {}), DISP_E_MEMBERNOTFOUND);  // not assigned
  Bstr file(m_path);
  EXPECT_EQ(Invoke(d, 4, {ByRef(VT_BSTR, &file.b), Ui4(0)}), PARSER_E_ALREADY_PARSED);

  DATE built[2] = {};
  ASSERT_EQ(parser->GetTimeOfBuild(&built[0]), S_OK);
  EXPECT_NEAR(built[0], 36518.5208333333333, 1.0 / 86400);  // 24 December 1999 12:30
  ASSERT_EQ(Invoke(d, 5, {ByRef(VT_DATE, &built[1])}), S_OK);
  EXPECT_EQ(built[1], built[0]);
  Bstr info[2];
  ASSERT_EQ(parser->GetGeneralInfoString(&info[0]), S_OK);
  ASSERT_EQ(Invoke(d, 7, {ByRef(VT_BSTR, &info[1].b)}), S_OK);
  EXPECT_NE(info[1].str().find(m_path), std::string::npos);
  const std::string text = info[0].str();
  EXPECT_EQ(text.rfind(MIRL_DESCRIPTION, 0), 0u) << text;
  Bstr dateText;
  ASSERT_EQ(VarBstrFromDate(built[0], LOCALE_USER_DEFAULT, VAR_FOURDIGITYEARS, &dateText), S_OK);
  EXPECT_NE(text.find("\r\n\r\nCurrently loaded object file is: \"" + m_path +
                      "\", UBROF version 8.0 rev. 2, built on " + dateText.str()),
            std::string::npos)
      << text;
  // The method runs on the caller's thread when the caller is in the
  // multi-threaded apartment; a single-threaded caller reaches the
  // free-threaded object through a proxy, so another thread runs it.
  const std::string mine = ": " + std::to_string(GetCurrentThreadId());
  ASSERT_NE(text.rfind("\r\n\r\nThe module is running in thread ID: "), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - mine.size()) == mine, !g_sta) << text;
  // LookupLabel: vtable slot after GetScopeFromName, dispatch id 0x21.
  Bstr label[2];
  HRESULT hr = parser->LookupLabel(0, &label[0].b);
  EXPECT_EQ(Invoke(d, 0x21, {Ui4(0), ByRef(VT_BSTR, &label[1].b)}), hr);
  EXPECT_EQ(label[1].str(), label[0].str());

  // [out,retval] results come back as the result of Invoke.
  SAFEARRAY* psa = nullptr;
  hr = mem->ReadMemSA(1, 0, 4, &psa);
  if (psa) SafeArrayDestroy(psa);
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(Invoke(AsDispatch(mem.p), 1, {Ui1(1), Ui4(0), Ui4(4)}, &result), hr);
  EXPECT_TRUE(FAILED(hr) || result.vt == (VT_ARRAY | VT_UI1)) << result.vt;
  VariantClear(&result);
  LONG tag = -1;
  hr = three->GetTag(0, &tag);
  EXPECT_EQ(Invoke(AsDispatch(three.p), 5, {I4(0)}, &result), hr);
  EXPECT_TRUE(FAILED(hr) || result.lVal == tag);
}

// --- The DLL in this process (a single-threaded apartment reaches the
// objects through proxies) ---
TEST(InProcess, ModuleImportsAndVersion) {
  if (!LoadedDll()) {
    Ref<IUnknown> keep;
    ASSERT_EQ(CreateParser(IID_IUnknown, Out(&keep)), S_OK);
  }
  HMODULE dll = LoadedDll();
  ASSERT_NE(dll, nullptr);
  // No MinGW runtime DLL (libgcc, libstdc++, libwinpthread) at run time.
  ForEachImport(
      dll, [](const char* d, const char*, void**) { EXPECT_NE(_strnicmp(d, "lib", 3), 0) << d; });

  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(g_dllPath.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(g_dllPath.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
  // Hosts read the version in either form: they must agree. OLESelfRegister
  // tells installers that the DLL registers itself.
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  const std::string version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + ", " +
                              std::to_string(LOWORD(fixed->dwFileVersionMS)) + ", " +
                              std::to_string(HIWORD(fixed->dwFileVersionLS)) + ", " +
                              std::to_string(LOWORD(fixed->dwFileVersionLS));
  const std::pair<const wchar_t*, std::string> strings[] = {
      {L"FileVersion", version},
      {L"ProductVersion", version},
      {L"OriginalFilename", "MirlParserUbrof.DLL"},
      {L"OLESelfRegister", ""},
  };
  for (const auto& [name, expected] : strings) {
    wchar_t* value = nullptr;
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &len))
        << Narrow(name);
    EXPECT_EQ(Narrow(value), expected) << Narrow(name);
  }
}

TEST(InProcess, UnusedDllUnloadsAndLoadsAgain) {
  if (g_sta) GTEST_SKIP() << "the objects live in another apartment";
  {
    // Late binding loads the type library into the DLL's cache, which the
    // DLL must release when it is unloaded.
    Ref<IMirlParser> p;
    ASSERT_EQ(CreateParser(IID_IMirlParser, Out(&p)), S_OK);
    EXPECT_EQ(Invoke(AsDispatch(p.p), 1, {Ui1(0)}), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
  }
  ASSERT_NE(LoadedDll(), nullptr);
  ASSERT_EQ(CanUnloadNow(), S_OK);
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_EQ(LoadedDll(), nullptr);
  Ref<IMirlParser> again;
  ASSERT_EQ(CreateParser(IID_IMirlParser, Out(&again)), S_OK);
  EXPECT_EQ(Invoke(AsDispatch(again.p), 1, {Ui1(0)}), S_OK);
  EXPECT_EQ(IdOf(AsDispatch(again.p), L"LookupLabel"), 0x21);
}

// --- The version message: a file newer than UBROF8 shows one message and
// fails. Headless, MessageBoxA returns at once; a hook on the DLL's import
// of it observes the call without a window.
namespace {
LONG g_cMessages = 0;
char g_szCaption[256];
int WINAPI CountingMessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  InterlockedIncrement(&g_cMessages);
  lstrcpynA(g_szCaption, caption ? caption : "", sizeof g_szCaption);
  EXPECT_NE(text, nullptr);
  EXPECT_EQ(type & 0xF, UINT(MB_OK));
  return IDOK;
}

HRESULT ParseNewerFile() {
  ubrofw::Writer w;
  w.BegFile1(0, 0, 0, 1, 1, 120).Version(9, 0, 0).Finish();
  Bstr file(Save(w, "ubrof9"));
  Ref<IMirlParser> p;
  HRESULT hr = CreateParser(IID_IMirlParser, Out(&p));
  if (SUCCEEDED(hr)) hr = p->Init(0);
  if (SUCCEEDED(hr)) hr = p->ParseObjectFile(&file, 0);
  DeleteFileA(file.str().c_str());
  return hr;
}
}  // namespace

TEST(VersionMessage, NewerFileShowsOneMessageAndFailsWithoutBlocking) {
  // Without a hook: a headless run must not block on the window.
  EXPECT_EQ(ParseNewerFile(), PARSER_E_INVALID_FILE);
  HMODULE dll = LoadedDll();
  ASSERT_NE(dll, nullptr);
  void** slot = nullptr;
  ForEachImport(dll, [&](const char* d, const char* f, void** s) {
    if (lstrcmpiA(d, "user32.dll") == 0 && std::strcmp(f, "MessageBoxA") == 0) slot = s;
  });
  ASSERT_NE(slot, nullptr);
  void* original = Swap(slot, reinterpret_cast<void*>(&CountingMessageBoxA));
  g_cMessages = 0;
  EXPECT_EQ(ParseNewerFile(), PARSER_E_INVALID_FILE);
  Swap(slot, original);
  EXPECT_EQ(g_cMessages, 1);
  EXPECT_NE(g_szCaption[0], '\0');
}

// --- Every answer on a real object file (--sweep=<file>,<answers>): each
// call and what it gave, one line each, so that the answers of the 32-bit
// and the 64-bit DLL can be compared as files.
namespace {
class Answers {
 public:
  explicit Answers(const std::string& path) : m_out(path, std::ios::binary) {}
  // The method's name and status, then each value it gave.
  template <class... T>
  HRESULT operator()(const char* call, HRESULT hr, const T&... values) {
    m_out << call << " " << std::hex << ULONG(hr) << std::dec;
    if (SUCCEEDED(hr)) ((m_out << " " << Text(values)), ...);
    m_out << "\n";
    return hr;
  }

 private:
  static std::string Text(const Bstr& b) { return "\"" + b.str() + "\""; }
  static std::string Text(const std::string& s) { return s; }
  static std::string Text(double d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    return buf;
  }
  template <class T>
  static std::string Text(const T& v) {
    return std::to_string(v);
  }
  std::ofstream m_out;
};

// A VARIANT as text: its type and its value, arrays element by element.
std::string VariantText(VARIANT& v) {
  std::string text = std::to_string(v.vt);
  if (v.vt & VT_ARRAY) {
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(v.parray, 1, &lo);
    SafeArrayGetUBound(v.parray, 1, &hi);
    for (LONG i = lo; i <= hi; ++i) {
      VARIANT e;
      VariantInit(&e);
      if ((v.vt & VT_TYPEMASK) == VT_VARIANT) {
        SafeArrayGetElement(v.parray, &i, &e);
      } else {
        e.vt = VARTYPE(v.vt & VT_TYPEMASK);
        SafeArrayGetElement(v.parray, &i, &e.llVal);
      }
      text += " [" + VariantText(e) + "]";
      VariantClear(&e);
    }
  } else if (v.vt != VT_EMPTY && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_BSTR))) {
    text += " " + Narrow(v.bstrVal);
  }
  VariantClear(&v);
  return text;
}
}  // namespace

TEST(Sweep, EveryAnswerOnARealFile) {
  if (g_sweepFile.empty()) GTEST_SKIP() << "no --sweep=<object file>,<answers file>";
  if (GetFileAttributesA(g_sweepFile.c_str()) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "sample " << g_sweepFile << " is absent: nothing to sweep";
  Ref<IMirlParser> p;
  Ref<IMirlParserMem> mem;
  Ref<IMirlParser3> three;
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(kVersionIndependentProgId, &clsid), S_OK);
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMirlParser, Out(&p)), S_OK);
  ASSERT_EQ(p->QueryInterface(IID_IMirlParserMem, Out(&mem)), S_OK);
  ASSERT_EQ(p->QueryInterface(IID_IMirlParser3, Out(&three)), S_OK);
  ASSERT_EQ(p->Init(0), S_OK);
  Bstr file(g_sweepFile);
  ASSERT_EQ(p->ParseObjectFile(&file, 0), S_OK);
  Answers a(g_sweepOut);
  a("ValidateObjectFile", p->ValidateObjectFile(&file));
  {
    Bstr info;
    a("GetGeneralInfoString", p->GetGeneralInfoString(&info));
    // Up to the thread id, which differs from run to run.
    std::string text = info.str();
    a("info", S_OK, text.substr(0, text.find("The module is running")));
    DATE built = 0;
    a("GetTimeOfBuild", p->GetTimeOfBuild(&built), built);
    Bstr device;
    ULONG core = 0, model = 0, exit = 0;
    a("GetTargetInfo", p->GetTargetInfo(&device, &core, &model), device, core, model);
    a("GetProgramExit", mem->GetProgramExit(&exit), exit);
  }
  // Memory: each image in pieces, through both interfaces.
  for (BYTE type : {0, 1, 2, 4, 8, 0x10, 0x40}) {
    ULONG lo = 0, hi = 0, blocks = 0;
    if (FAILED(a("GetMemoryInfo", p->GetMemoryInfo(type, &lo, &hi, &blocks), type, lo, hi, blocks)))
      continue;
    for (ULONGLONG at = lo; at <= hi; at += 256) {
      BYTE buf[256] = {};
      const ULONG n = ULONG(std::min<ULONGLONG>(256, hi - at + 1));
      std::string hex;
      HRESULT hr = p->ReadMemory(type, ULONG(at), n, buf);
      for (ULONG i = 0; i < n; ++i)
        hex += "0123456789abcdef"[buf[i] >> 4], hex += "0123456789abcdef"[buf[i] & 15];
      a("ReadMemory", hr, type, at, hex);
      SAFEARRAY* psa = nullptr;
      hr = mem->ReadMemSA(type, ULONG(at), n, &psa);
      bool same = psa && psa->rgsabound[0].cElements == n && std::memcmp(psa->pvData, buf, n) == 0;
      a("ReadMemSA", hr, same);
      if (psa) SafeArrayDestroy(psa);
    }
  }
  // Ids are swept until several in a row fail (type ids may have gaps);
  // the sweep gives the number of ids up to the last that answered.
  auto sweep = [](ULONG gap, auto call) {
    ULONG id = 0, failed = 0;
    for (; failed < gap; ++id) failed = SUCCEEDED(call(id)) ? 0 : failed + 1;
    return id - failed;
  };
  sweep(2, [&](ULONG id) {
    Bstr path;
    DATE stamp = 0;
    BYTE lang = 0, temp = 0;
    return a("GetSourceFileInfo", p->GetSourceFileInfo(id, &path, &stamp, &lang, &temp), id, path,
             stamp, lang, temp);
  });
  sweep(2, [&](ULONG id) {
    ULONG addr = 0, line = 0, col = 0, lineEnd = 0, colEnd = 0, start = 0, scope = 0, back = 0;
    BYTE type = 0;
    HRESULT hr = a("EnumHLStatements", p->EnumHLStatements(id, &addr, &type), id, addr, type);
    if (FAILED(hr)) return hr;
    Bstr path, label;
    a("GetSourceFromProgMemAddress",
      p->GetSourceFromProgMemAddress(addr, &path, &line, &col, &lineEnd, &colEnd, &start), path,
      line, col, lineEnd, colEnd, start);
    a("GetProgMemAddressFromSource", p->GetProgMemAddressFromSource(&path, line, col, &back), back);
    for (BYTE kind : {0, 1, 2, 3})
      a("GetScopeFromProgMemAddress", p->GetScopeFromProgMemAddress(addr, kind, &scope), scope);
    a("LookupLabel", p->LookupLabel(addr, &label.b), label);
    return hr;
  });
  const ULONG scopes = sweep(2, [&](ULONG id) {
    Bstr name, full;
    ULONG type = 0, start = 0, size = 0, first = 0, count = 0, found = 0;
    HRESULT hr = a("GetScopeInfo", p->GetScopeInfo(id, &name, &full, &type, &start, &size, &first),
                   id, name, full, type, start, size, first);
    ULONG* ids = nullptr;
    if (SUCCEEDED(a("EnumSubScopes", p->EnumSubScopes(id, &count, &ids), count)))
      for (ULONG i = 0; i < count; ++i) a("subscope", S_OK, ids[i]);
    CoTaskMemFree(ids);
    if (SUCCEEDED(hr)) a("GetScopeFromName", p->GetScopeFromName(&full, &found), found);
    for (ULONG category = 0; SUCCEEDED(hr) && category < 8; ++category) {
      ULONG symbol = 0;
      a("EnumSymbols", p->EnumSymbols(id, category, &symbol), symbol);
    }
    return hr;
  });
  sweep(2, [&](ULONG id) {
    Bstr name;
    return a("EnumSymbolCategories", p->EnumSymbolCategories(id, &name), name);
  });
  const ULONG symbols = sweep(2, [&](ULONG id) {
    Bstr name, type, location, value;
    ULONG scope = 0, typeId = 0, addr = 0, symbol = 0, found = 0, word = 0;
    BYTE info = 0, memType = 0;
    double real = 0;
    HRESULT hr =
        a("GetSymbolInfo", p->GetSymbolInfo(id, &name, &scope, &typeId), id, name, scope, typeId);
    if (FAILED(hr)) return hr;
    a("GetSymbolLocation", p->GetSymbolLocation(id, 0, &info, &addr, &memType), info, addr,
      memType);
    a("LookupSymbolName", p->LookupSymbolName(&name, scope, 0, &symbol, &found), symbol, found);
    a("GetValue", p->GetValue(typeId, addr, memType, &word, &real), word, real);
    a("EvaluateByLocation", p->EvaluateByLocation(typeId, addr, memType, &type, &location, &value),
      type, location, value);
    Bstr byValue[3];
    a("EvaluateByValue",
      p->EvaluateByValue(typeId, word, real, &byValue[0].b, &byValue[1].b, &byValue[2].b),
      byValue[0], byValue[1], byValue[2]);
    LONG die = 0;
    a("LookupDie", three->LookupDie(0, name.b, 0, &die), die);
    return hr;
  });
  sweep(64, [&](ULONG id) {
    Bstr name;
    ULONG size = 0, spec = 0, elements = 0, ptrSize = 0, ref = 0, refMem = 0;
    BYTE memType = 0;
    HRESULT hr =
        a("GetTypeInfo", p->GetTypeInfo(id, &name, &size, &spec, &elements, &memType, &ptrSize), id,
          name, size, spec, elements, memType, ptrSize);
    a("GetRefferedType", p->GetRefferedType(id, &ref, &refMem), ref, refMem);
    for (ULONG index = 0;; ++index) {
      Bstr member;
      ULONG typeOut = 0, offset = 0;
      if (FAILED(a("GetStructuralMember",
                   p->GetStructuralMember(id, &member, index, &typeOut, &offset), member, typeOut,
                   offset)))
        break;
    }
    return hr;
  });
  // Entries: every handle's tag, children and attributes (the root, the
  // scopes, the symbols, and one beyond).
  EXPECT_GT(scopes, 0u);
  EXPECT_GT(symbols, 0u);
  for (LONG id = 0; id <= LONG(scopes + symbols + 1); ++id) {
    LONG tag = 0, child = 0;
    a("GetTag", three->GetTag(id, &tag), tag);
    a("GetDie", three->GetDie(id, 0, &child), child);
    VARIANT v;
    for (LONG t : {0, 0x11, 0x2E, 0x34}) {
      VariantInit(&v);
      HRESULT hr = three->GetDies(id, t, &v);
      a("GetDies", hr, VariantText(v));
    }
    for (LONG attr : {0x03, 0x11, 0x12, 0x3A, 0x3B, 0x49}) {
      VariantInit(&v);
      HRESULT hr = three->GetAttr(id, attr, &v);
      a("GetAttr", hr, VariantText(v));
    }
  }
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--dll=", 0) == 0) g_dllPath = Wide(arg.substr(6));
    if (arg == "--apartment=sta") g_sta = true;
    if (arg.rfind("--sweep=", 0) == 0) {
      g_sweepFile = arg.substr(8, arg.find(',') - 8);
      g_sweepOut = arg.substr(arg.find(',') + 1);
    }
  }
  if (g_dllPath.empty()) {
    std::fprintf(stderr, "usage: com_host --dll=<MirlParserUbrof.dll> [--apartment=sta|mta]\n");
    return 2;
  }
  g_dllPath = FullPath(g_dllPath);
  std::printf("apartment: %s\n", g_sta ? "single-threaded" : "multi-threaded");
  if (FAILED(CoInitializeEx(nullptr, g_sta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED)))
    return 3;
  int rc = RUN_ALL_TESTS();
  CoUninitialize();
  return rc;
}
