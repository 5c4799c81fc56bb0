// A Windows host of MirlParserUbrof.dll: it knows only the widl-generated
// header and reaches the server the way a debugger does, through regsvr32,
// the registry, program ids, CoCreateInstance, vtables and IDispatch.
//
//   com_host --dll=<path of MirlParserUbrof.dll> [--apartment=sta|mta]
//            [--example=<object file>] [--gtest_filter=...]
//
// CTest runs it in steps: Registration.Register* (after regsvr32), the client
// suites from a multi-threaded and from a single-threaded apartment, and
// Registration.Unregister* (after regsvr32 /u). To cover a newly built
// method, add a TEST_F to the ParsedObject suites below; Same() compares its
// vtable and dispatch results.
#define WIN32_LEAN_AND_MEAN
// clang-format off
#include <windows.h>  // first: the other Windows headers build on it
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
// clang-format on
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "../../platform/ModuleStrings.h"
#include "../InterfaceTable.h"
#include "../UbrofWriter.h"
#include "MirlParserUbrof_i.h"

namespace {

std::wstring g_dllPath;     // as given on the command line
std::string g_examplePath;  // examples/example.d90
bool g_sta = false;         // the test thread's apartment

const wchar_t kProgId[] = L"MirlParserUbrof.MirlParserUbrof.1";
const wchar_t kVersionIndependentProgId[] = L"MirlParserUbrof.MirlParserUbrof";

// ---------------------------------------------------------------------------
// Small helpers
// ---------------------------------------------------------------------------
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

bool SameFile(const std::wstring& a, const std::wstring& b) {
  return lstrcmpiW(FullPath(a).c_str(), FullPath(b).c_str()) == 0;
}

template <class T>
struct Ref {
  T* p = nullptr;
  Ref() = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
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
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b); }
  BSTR* operator&() { return &b; }
  std::string str() const { return Narrow(b); }
};

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------
bool KeyExists(const std::wstring& subkey) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
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

// ---------------------------------------------------------------------------
// Late binding
// ---------------------------------------------------------------------------
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
// method's own status: a failing method comes back as DISP_E_EXCEPTION with
// the status in EXCEPINFO.scode.
HRESULT Invoke(IDispatch* d, DISPID id, std::vector<VARIANT> args, VARIANT* pResult = nullptr) {
  std::vector<VARIANT> rev(args.rbegin(), args.rend());
  DISPPARAMS params = {rev.data(), nullptr, UINT(rev.size()), 0};
  EXCEPINFO ex = {};
  UINT argErr = 0;
  HRESULT hr =
      d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, pResult, &ex, &argErr);
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

// ---------------------------------------------------------------------------
// The DLL as loaded in this process
// ---------------------------------------------------------------------------
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

// Replaces one imported function of the DLL while it lives.
class ImportHook {
 public:
  ImportHook(HMODULE mod, const char* dll, const char* func, void* replacement) {
    ForEachImport(mod, [&](const char* d, const char* f, void** slot) {
      if (!m_pSlot && lstrcmpiA(d, dll) == 0 && std::strcmp(f, func) == 0) {
        m_pSlot = slot;
        m_pOriginal = Swap(slot, replacement);
      }
    });
  }
  ~ImportHook() {
    if (m_pSlot) Swap(m_pSlot, m_pOriginal);
  }
  bool installed() const { return m_pSlot != nullptr; }

 private:
  static void* Swap(void** slot, void* value) {
    DWORD old = 0;
    VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old);
    void* prev = *slot;
    *slot = value;
    VirtualProtect(slot, sizeof(void*), old, &old);
    return prev;
  }
  void** m_pSlot = nullptr;
  void* m_pOriginal = nullptr;
};

// ---------------------------------------------------------------------------
// Object files
// ---------------------------------------------------------------------------
std::string TempFile(const char* stem) {
  wchar_t dir[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, dir);
  return Narrow(dir) + "mirl-com-" + stem + "-" + std::to_string(GetCurrentProcessId()) + ".d90";
}

// 24 December 1999 12:30:00, UBROF 8.0 rev. 2, one program module.
std::string WriteProgram() {
  ubrofw::Writer w;
  w.BegFile1(0, 30, 12, 24, 12, 99).Version(8, 0, 2).BegPgm("main").End().Finish();
  std::string path = TempFile("program");
  EXPECT_TRUE(w.Save(path));
  return path;
}

const DATE kProgramBuilt = 36518.5208333333333;  // 24 December 1999 12:30

HRESULT CreateParser(const wchar_t* progId, REFIID riid, void** ppv) {
  CLSID clsid = {};
  HRESULT hr = CLSIDFromProgID(progId, &clsid);
  if (FAILED(hr)) return hr;
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riid, ppv);
}

}  // namespace

// ===========================================================================
// Registration (run right after regsvr32 and right after regsvr32 /u)
// ===========================================================================
TEST(Registration, RegisterWritesEveryEntryAndReplacesTheClassKey) {
  // Whatever an earlier registration left below the class key must go.
  PlantKey(kClassKey + L"\\Stale", nullptr);
  PlantKey(kClassKey + L"\\Programmable\\Stale", nullptr);
  PlantKey(kClassKey, L"StaleValue");

  ASSERT_EQ(Regsvr32(L"/s"), 0u);

  const std::wstring clsid = GuidText(CLSID_MirlParserUbrof);
  const std::wstring libid = GuidText(LIBID_MIRLPARSERUBROFLib);
  EXPECT_EQ(Value(kProgId), L"IAR UBROF");
  EXPECT_EQ(Value(std::wstring(kProgId) + L"\\CLSID"), clsid);
  EXPECT_EQ(Value(kVersionIndependentProgId), L"IAR UBROF");
  EXPECT_EQ(Value(std::wstring(kVersionIndependentProgId) + L"\\CLSID"), clsid);
  EXPECT_EQ(Value(std::wstring(kVersionIndependentProgId) + L"\\CurVer"), kProgId);

  EXPECT_EQ(Value(kClassKey), L"IAR UBROF");
  EXPECT_EQ(Value(kClassKey + L"\\ProgID"), kProgId);
  EXPECT_EQ(Value(kClassKey + L"\\VersionIndependentProgID"), kVersionIndependentProgId);
  EXPECT_EQ(Value(kClassKey + L"\\TypeLib"), libid);
  EXPECT_EQ(Value(kClassKey + L"\\InprocServer32", L"ThreadingModel"), L"Free");
  std::optional<std::wstring> server = Value(kClassKey + L"\\InprocServer32");
  ASSERT_TRUE(server.has_value());
  EXPECT_TRUE(SameFile(*server, g_dllPath)) << Narrow(server->c_str());
  EXPECT_EQ(FullPath(*server), *server) << "not a full path";
  // Exactly these subkeys; Programmable empty; no stale value.
  EXPECT_EQ(Contents(kClassKey), std::make_pair(DWORD(5), DWORD(1)));
  EXPECT_EQ(Contents(kClassKey + L"\\Programmable"), std::make_pair(DWORD(0), DWORD(0)));
  EXPECT_FALSE(KeyExists(kClassKey + L"\\Stale"));

  // The type library, under its own locale and locale-neutral, and the
  // interfaces it describes, marshaled by the type-library marshaler.
  EXPECT_EQ(Value(kTypeLibKey + L"\\1.0"), L"MirlParserUbrof 1.0 Type Library");
  for (const wchar_t* locale : {L"\\1.0\\409\\win64", L"\\1.0\\0\\win64"}) {
    std::optional<std::wstring> tlb = Value(kTypeLibKey + locale);
    ASSERT_TRUE(tlb.has_value()) << Narrow(locale);
    EXPECT_TRUE(SameFile(*tlb, g_dllPath));
  }
  for (REFIID iid : {IID_IMirlParser, IID_IMirlParserMem, IID_IMirlParser3}) {
    std::wstring key = L"Interface\\" + GuidText(iid);
    EXPECT_EQ(Value(key + L"\\ProxyStubClsid32"), L"{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(Value(key + L"\\TypeLib"), libid);
  }
}

TEST(Registration, RegisterTwiceIsHarmless) {
  ASSERT_EQ(Regsvr32(L"/s"), 0u);
  EXPECT_EQ(Value(kClassKey + L"\\InprocServer32", L"ThreadingModel"), L"Free");
  EXPECT_TRUE(KeyExists(kTypeLibKey + L"\\1.0\\0\\win64"));
}

TEST(Registration, UnregisterRemovesItsEntriesButNotClsid) {
  ASSERT_EQ(Regsvr32(L"/u /s"), 0u);
  EXPECT_FALSE(KeyExists(kProgId));
  EXPECT_FALSE(KeyExists(kVersionIndependentProgId));
  EXPECT_FALSE(KeyExists(kClassKey));
  EXPECT_TRUE(KeyExists(L"CLSID"));
  EXPECT_FALSE(KeyExists(kTypeLibKey));
  EXPECT_FALSE(KeyExists(L"Interface\\" + GuidText(IID_IMirlParser)));
  CLSID clsid = {};
  EXPECT_TRUE(FAILED(CLSIDFromProgID(kProgId, &clsid)));
  IUnknown* p = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_MirlParserUbrof, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&p)),
            REGDB_E_CLASSNOTREG);
  // Unregistering what is not registered succeeds as well.
  EXPECT_EQ(Regsvr32(L"/u /s"), 0u);
  EXPECT_TRUE(KeyExists(L"CLSID"));
}

// ===========================================================================
// Clients (the server is registered)
// ===========================================================================
TEST(Client, ProgIdsNameTheClass) {
  for (const wchar_t* progId : {kProgId, kVersionIndependentProgId}) {
    CLSID clsid = {};
    ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK) << Narrow(progId);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_MirlParserUbrof));
  }
  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(CLSID_MirlParserUbrof, &progId), S_OK);
  EXPECT_EQ(std::wstring(progId), kProgId);
  CoTaskMemFree(progId);
}

TEST(Client, ParsesThroughTheVtableByEitherProgId) {
  const std::string path = WriteProgram();
  for (const wchar_t* progId : {kProgId, kVersionIndependentProgId}) {
    SCOPED_TRACE(Narrow(progId));
    Ref<IMirlParser> p;
    ASSERT_EQ(CreateParser(progId, IID_IMirlParser, reinterpret_cast<void**>(&p)), S_OK);
    Bstr file(path);
    EXPECT_EQ(p->ValidateObjectFile(&file), S_OK);
    EXPECT_EQ(p->ParseObjectFile(&file, 0), PARSER_E_NOT_INITIALIZED);
    ASSERT_EQ(p->Init(0), S_OK);
    ASSERT_EQ(p->ParseObjectFile(&file, 0), S_OK);
    EXPECT_EQ(file.str(), path);
    EXPECT_EQ(p->ParseObjectFile(&file, 0), PARSER_E_ALREADY_PARSED);

    DATE built = 0;
    ASSERT_EQ(p->GetTimeOfBuild(&built), S_OK);
    EXPECT_NEAR(built, kProgramBuilt, 1.0 / 86400);

    Bstr info;
    ASSERT_EQ(p->GetGeneralInfoString(&info), S_OK);
    std::string text = info.str();
    EXPECT_EQ(text.rfind(MIRL_DESCRIPTION, 0), 0u) << text;
    Bstr dateText;
    ASSERT_EQ(VarBstrFromDate(built, LOCALE_USER_DEFAULT, VAR_FOURDIGITYEARS, &dateText), S_OK);
    EXPECT_NE(text.find("\r\n\r\nCurrently loaded object file is: \"" + path +
                        "\", UBROF version 8.0 rev. 2, built on " + dateText.str()),
              std::string::npos)
        << text;
    // The method runs on the caller's thread when the caller is in the
    // multi-threaded apartment; a single-threaded caller reaches the
    // free-threaded object through a proxy, so another thread runs it.
    const std::string mine = ": " + std::to_string(GetCurrentThreadId());
    const size_t at = text.rfind("\r\n\r\nThe module is running in thread ID: ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(text.substr(text.size() - mine.size()) == mine, !g_sta) << text;

    Bstr device("old");
    ULONG core = 7, model = 7;
    EXPECT_EQ(p->GetTargetInfo(&device, &core, &model), E_NOTIMPL);
    if (!g_sta) {  // a proxy does not return out-parameters of a failed call
      EXPECT_EQ(device.b, nullptr);
      EXPECT_EQ(core, 0u);
      EXPECT_EQ(model, 0u);
    }
  }
}

TEST(Client, ParsesTheShippedExample) {
  if (g_examplePath.empty()) GTEST_SKIP() << "no --example given";
  Ref<IMirlParser> p;
  ASSERT_EQ(CreateParser(kVersionIndependentProgId, IID_IMirlParser, reinterpret_cast<void**>(&p)),
            S_OK);
  Bstr file(g_examplePath);
  ASSERT_EQ(p->Init(0), S_OK);
  ASSERT_EQ(p->ParseObjectFile(&file, 0), S_OK);
  DATE built = 0;
  EXPECT_EQ(p->GetTimeOfBuild(&built), S_OK);
  EXPECT_GT(built, 0.0);
}

TEST(Client, InterfacesAreViewsOfOneObjectWithoutIMirlParser2) {
  Ref<IUnknown> unk;
  ASSERT_EQ(CreateParser(kProgId, IID_IUnknown, reinterpret_cast<void**>(&unk)), S_OK);
  Ref<IMirlParser> parser;
  Ref<IMirlParserMem> mem;
  Ref<IMirlParser3> three;
  Ref<IDispatch> disp;
  ASSERT_EQ(unk->QueryInterface(IID_IMirlParser, reinterpret_cast<void**>(&parser)), S_OK);
  ASSERT_EQ(parser->QueryInterface(IID_IMirlParserMem, reinterpret_cast<void**>(&mem)), S_OK);
  ASSERT_EQ(mem->QueryInterface(IID_IMirlParser3, reinterpret_cast<void**>(&three)), S_OK);
  ASSERT_EQ(three->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)), S_OK);
  // COM identity: every interface leads back to the same unknown.
  for (IUnknown* itf : std::initializer_list<IUnknown*>{parser.p, mem.p, three.p, disp.p}) {
    Ref<IUnknown> back;
    ASSERT_EQ(itf->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK);
    EXPECT_EQ(back.p, unk.p);
  }
  // IDispatch is the IMirlParser dual's dispatch part.
  EXPECT_EQ(IdOf(disp.p, L"Init"), 1);
  EXPECT_EQ(IdOf(disp.p, L"GetProgramExit"), DISPID_UNKNOWN);
  if (!g_sta) {
    EXPECT_EQ(static_cast<void*>(disp.p), static_cast<void*>(parser.p));
  }
  // IMirlParser2 is declared but not implemented.
  void* q = reinterpret_cast<void*>(1);
  for (REFIID iid : {IID_IMirlParser2, IID_IClassFactory, IID_IPersist})
    EXPECT_EQ(unk->QueryInterface(iid, &q), E_NOINTERFACE);
  EXPECT_EQ(q, nullptr);
  EXPECT_EQ(
      CoCreateInstance(CLSID_MirlParserUbrof, nullptr, CLSCTX_INPROC_SERVER, IID_IMirlParser2, &q),
      E_NOINTERFACE);
}

// ---------------------------------------------------------------------------
// Late binding: names and dispatch ids through each interface's IDispatch
// ---------------------------------------------------------------------------
TEST(Client, EveryMethodNameResolvesToItsDispatchId) {
  Ref<IMirlParser> parser;
  ASSERT_EQ(CreateParser(kProgId, IID_IMirlParser, reinterpret_cast<void**>(&parser)), S_OK);
  Ref<IMirlParserMem> mem;
  Ref<IMirlParser3> three;
  ASSERT_EQ(parser->QueryInterface(IID_IMirlParserMem, reinterpret_cast<void**>(&mem)), S_OK);
  ASSERT_EQ(parser->QueryInterface(IID_IMirlParser3, reinterpret_cast<void**>(&three)), S_OK);
  for (const itable::Method& m : itable::kMethods) {
    std::string itf = m.pszInterface;
    IDispatch* d = itf == "IMirlParser"      ? AsDispatch(parser.p)
                   : itf == "IMirlParserMem" ? AsDispatch(mem.p)
                   : itf == "IMirlParser3"   ? AsDispatch(three.p)
                                             : nullptr;
    if (!d) continue;  // IMirlParser2 has no implementation to ask
    EXPECT_EQ(IdOf(d, Wide(m.pszName).c_str()), m.lDispId) << itf << "::" << m.pszName;
  }
  UINT count = 0;
  EXPECT_EQ(AsDispatch(three.p)->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
}

// A freshly created object, initialised and parsed, with all its interfaces.
class ParsedObject : public ::testing::Test {
 protected:
  void SetUp() override {
    m_path = WriteProgram();
    ASSERT_EQ(CreateParser(kProgId, IID_IMirlParser, reinterpret_cast<void**>(&parser)), S_OK);
    ASSERT_EQ(parser->QueryInterface(IID_IMirlParserMem, reinterpret_cast<void**>(&mem)), S_OK);
    ASSERT_EQ(parser->QueryInterface(IID_IMirlParser3, reinterpret_cast<void**>(&three)), S_OK);
    ASSERT_EQ(Invoke(AsDispatch(parser.p), IdOf(AsDispatch(parser.p), L"Init"), {Ui1(0)}), S_OK);
    Bstr file(m_path);
    ASSERT_EQ(Invoke(AsDispatch(parser.p), 4, {ByRef(VT_BSTR, &file.b), Ui4(0)}), S_OK);
  }
  Ref<IMirlParser> parser;
  Ref<IMirlParserMem> mem;
  Ref<IMirlParser3> three;
  std::string m_path;
};

TEST_F(ParsedObject, ParserQueriesAgreeThroughDispatch) {
  IDispatch* d = AsDispatch(parser.p);
  // A failing status arrives as the method's own status.
  EXPECT_EQ(Invoke(d, 1, {Ui1(1)}), E_FAIL);
  EXPECT_EQ(Invoke(d, 2, {Ui1(0x40), Ui1(0)}), PARSER_E_BAD_MEMORY_TYPE);

  DATE viaVtable = 0, viaDispatch = 0;
  ASSERT_EQ(parser->GetTimeOfBuild(&viaVtable), S_OK);
  ASSERT_EQ(Invoke(d, 5, {ByRef(VT_DATE, &viaDispatch)}), S_OK);
  EXPECT_EQ(viaDispatch, viaVtable);

  Bstr info;
  ASSERT_EQ(Invoke(d, IdOf(d, L"GetGeneralInfoString"), {ByRef(VT_BSTR, &info.b)}), S_OK);
  EXPECT_NE(info.str().find(m_path), std::string::npos);

  Bstr file(m_path);
  EXPECT_EQ(Invoke(d, 3, {ByRef(VT_BSTR, &file.b)}), S_OK);
  EXPECT_EQ(Invoke(d, 4, {ByRef(VT_BSTR, &file.b), Ui4(0)}), PARSER_E_ALREADY_PARSED);

  // LookupLabel: vtable slot after GetScopeFromName, dispatch id 0x21.
  Bstr labelV, labelD;
  HRESULT hr = parser->LookupLabel(0, &labelV);
  EXPECT_EQ(Invoke(d, 0x21, {Ui4(0), ByRef(VT_BSTR, &labelD.b)}), hr);
  if (SUCCEEDED(hr)) {
    EXPECT_EQ(labelD.str(), labelV.str());
  }

  ULONG lo[2] = {}, hi[2] = {}, blocks[2] = {};
  hr = parser->GetMemoryInfo(1, &lo[0], &hi[0], &blocks[0]);
  EXPECT_EQ(
      Invoke(d, 8,
             {Ui1(1), ByRef(VT_UI4, &lo[1]), ByRef(VT_UI4, &hi[1]), ByRef(VT_UI4, &blocks[1])}),
      hr);
  if (SUCCEEDED(hr)) {
    EXPECT_EQ(hi[1], hi[0]);
  }

  EXPECT_EQ(Invoke(d, 0x13, {}), DISP_E_MEMBERNOTFOUND);  // not assigned
}

TEST_F(ParsedObject, MemoryAndEntryQueriesAgreeThroughDispatch) {
  ULONG exitV = 0, exitD = 0;
  HRESULT hr = mem->GetProgramExit(&exitV);
  EXPECT_EQ(Invoke(AsDispatch(mem.p), 2, {ByRef(VT_UI4, &exitD)}), hr);
  if (SUCCEEDED(hr)) {
    EXPECT_EQ(exitD, exitV);
  }

  SAFEARRAY* psa = nullptr;
  hr = mem->ReadMemSA(1, 0, 4, &psa);
  if (psa) SafeArrayDestroy(psa);
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(Invoke(AsDispatch(mem.p), 1, {Ui1(1), Ui4(0), Ui4(4)}, &result), hr);  // [out,retval]
  if (SUCCEEDED(hr)) {
    EXPECT_EQ(result.vt, VT_ARRAY | VT_UI1);
  }
  VariantClear(&result);

  LONG tagV = -1, childV = -1;
  hr = three->GetTag(0, &tagV);
  EXPECT_EQ(Invoke(AsDispatch(three.p), 5, {I4(0)}, &result), hr);
  if (SUCCEEDED(hr)) {
    EXPECT_EQ(result.lVal, tagV);
  }
  VariantClear(&result);
  hr = three->GetDie(0, 0, &childV);
  EXPECT_EQ(Invoke(AsDispatch(three.p), 1, {I4(0), I4(0)}, &result), hr);
  if (SUCCEEDED(hr)) {
    EXPECT_EQ(result.lVal, childV);
  }
  VariantClear(&result);
}

// ---------------------------------------------------------------------------
// Class factory, aggregation, unloading, the module (in-process only: a
// single-threaded apartment sees the factory through a proxy)
// ---------------------------------------------------------------------------
namespace {

// A controlling object that aggregates the parser.
class Outer : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown)) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return m_pInner ? m_pInner->QueryInterface(riid, ppv) : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&m_cRef)); }
  ULONG STDMETHODCALLTYPE Release() override { return ULONG(InterlockedDecrement(&m_cRef)); }
  LONG m_cRef = 1;  // lives on the stack of the test
  IUnknown* m_pInner = nullptr;
};

}  // namespace

TEST(InProcess, AggregationHandsOutOnlyTheInnerUnknown) {
  if (g_sta) GTEST_SKIP() << "aggregation needs the object in the caller's apartment";
  Outer outer;
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(
      CoCreateInstance(CLSID_MirlParserUbrof, &outer, CLSCTX_INPROC_SERVER, IID_IMirlParser, &p),
      CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(CoCreateInstance(CLSID_MirlParserUbrof, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&outer.m_pInner)),
            S_OK);
  EXPECT_EQ(outer.m_cRef, 1);  // the inner object holds no reference to us
  IMirlParser* parser = nullptr;
  ASSERT_EQ(outer.m_pInner->QueryInterface(IID_IMirlParser, reinterpret_cast<void**>(&parser)),
            S_OK);
  // The parser's unknown and references belong to the controlling object.
  EXPECT_EQ(outer.m_cRef, 2);
  IUnknown* back = nullptr;
  ASSERT_EQ(parser->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK);
  EXPECT_EQ(back, static_cast<IUnknown*>(&outer));
  back->Release();
  IMirlParser3* three = nullptr;  // through the outer object's QueryInterface
  ASSERT_EQ(parser->QueryInterface(IID_IMirlParser3, reinterpret_cast<void**>(&three)), S_OK);
  three->Release();
  EXPECT_EQ(parser->Init(0), S_OK);
  EXPECT_EQ(IdOf(AsDispatch(parser), L"LookupLabel"), 0x21);
  parser->Release();
  EXPECT_EQ(outer.m_cRef, 1);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  outer.m_pInner->Release();
  outer.m_pInner = nullptr;
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST(InProcess, FactoryLocksAndObjectsKeepTheDllLoaded) {
  if (g_sta) GTEST_SKIP() << "the factory is reached through a proxy";
  Ref<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_MirlParserUbrof, CLSCTX_INPROC_SERVER, nullptr,
                             IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  ASSERT_NE(LoadedDll(), nullptr);
  EXPECT_EQ(CanUnloadNow(), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_OK);
  {
    Ref<IMirlParser3> p;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IMirlParser3, reinterpret_cast<void**>(&p)),
              S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(CanUnloadNow(), S_OK);
  // The entry point itself knows only its own class.
  auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void*>(GetProcAddress(LoadedDll(), "DllGetClassObject")));
  ASSERT_NE(getClassObject, nullptr);
  void* p = nullptr;
  EXPECT_EQ(getClassObject(IID_IMirlParser, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
}

TEST(InProcess, ModuleExportsImportsAndResources) {
  if (!LoadedDll()) {
    Ref<IUnknown> keep;
    ASSERT_EQ(CreateParser(kProgId, IID_IUnknown, reinterpret_cast<void**>(&keep)), S_OK);
  }
  HMODULE dll = LoadedDll();
  ASSERT_NE(dll, nullptr);
  for (const char* name :
       {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"})
    EXPECT_NE(GetProcAddress(dll, name), nullptr) << name;
  EXPECT_EQ(GetProcAddress(dll, "DllMain"), nullptr);
  // No MinGW runtime DLL (libgcc, libstdc++, libwinpthread) at run time.
  ForEachImport(
      dll, [](const char* d, const char*, void**) { EXPECT_NE(_strnicmp(d, "lib", 3), 0) << d; });
  wchar_t text[512] = {};
  ASSERT_GT(LoadStringW(dll, MIRL_IDS_PROJNAME, text, 512), 0);
  EXPECT_EQ(Narrow(text), MIRL_PROJECT_NAME);
  ASSERT_GT(LoadStringW(dll, MIRL_IDS_DESCRIPTION, text, 512), 0);
  EXPECT_EQ(Narrow(text), MIRL_DESCRIPTION);

  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(g_dllPath.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(g_dllPath.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x0000001Cu);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x0000001Cu);
  const std::pair<const wchar_t*, const wchar_t*> strings[] = {
      {L"FileDescription", L"MirlParserUbrof Module"},
      {L"ProductName", L"MirlParserUbrof Module"},
      {L"InternalName", L"MirlParserUbrof"},
      {L"OriginalFilename", L"MirlParserUbrof.DLL"},
      {L"FileVersion", L"1, 0, 0, 28"},
      {L"ProductVersion", L"1, 0, 0, 28"},
      {L"OLESelfRegister", L""},
  };
  for (const auto& s : strings) {
    wchar_t* value = nullptr;
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + s.first;
    ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &len))
        << Narrow(s.first);
    EXPECT_EQ(std::wstring(value), s.second) << Narrow(s.first);
  }
}

TEST(InProcess, UnusedDllUnloadsAndLoadsAgain) {
  if (g_sta) GTEST_SKIP() << "the objects live in another apartment";
  {
    // Late binding loads the type library into the DLL's cache, which the
    // DLL must release when it is unloaded.
    Ref<IMirlParser> p;
    ASSERT_EQ(CreateParser(kProgId, IID_IMirlParser, reinterpret_cast<void**>(&p)), S_OK);
    EXPECT_EQ(Invoke(AsDispatch(p.p), 1, {Ui1(0)}), S_OK);
  }
  ASSERT_NE(LoadedDll(), nullptr);
  ASSERT_EQ(CanUnloadNow(), S_OK);
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_EQ(LoadedDll(), nullptr);
  Ref<IMirlParser> again;
  ASSERT_EQ(CreateParser(kProgId, IID_IMirlParser, reinterpret_cast<void**>(&again)), S_OK);
  EXPECT_EQ(Invoke(AsDispatch(again.p), 1, {Ui1(0)}), S_OK);
  EXPECT_EQ(IdOf(AsDispatch(again.p), L"LookupLabel"), 0x21);
}

// ---------------------------------------------------------------------------
// The version message: a file newer than UBROF8 shows one message and fails.
// Headless, MessageBoxA returns at once; a hook on the DLL's import of it
// observes the call without a window.
// ---------------------------------------------------------------------------
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
  std::string path = TempFile("ubrof9");
  EXPECT_TRUE(w.Save(path));
  Ref<IMirlParser> p;
  HRESULT hr = CreateParser(kProgId, IID_IMirlParser, reinterpret_cast<void**>(&p));
  if (FAILED(hr)) return hr;
  p->Init(0);
  Bstr file(path);
  hr = p->ParseObjectFile(&file, 0);
  DeleteFileA(path.c_str());
  return hr;
}
}  // namespace

TEST(VersionMessage, NewerFileShowsOneMessageAndFailsWithoutBlocking) {
  // Without a hook: a headless run must not block on the window.
  EXPECT_EQ(ParseNewerFile(), PARSER_E_INVALID_FILE);
  HMODULE dll = LoadedDll();
  ASSERT_NE(dll, nullptr);
  ImportHook hook(dll, "user32.dll", "MessageBoxA", reinterpret_cast<void*>(&CountingMessageBoxA));
  ASSERT_TRUE(hook.installed());
  g_cMessages = 0;
  EXPECT_EQ(ParseNewerFile(), PARSER_E_INVALID_FILE);
  EXPECT_EQ(g_cMessages, 1);
  EXPECT_NE(g_szCaption[0], '\0');
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--dll=", 0) == 0) g_dllPath = Wide(arg.substr(6));
    if (arg.rfind("--example=", 0) == 0) g_examplePath = arg.substr(10);
    if (arg == "--apartment=sta") g_sta = true;
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
