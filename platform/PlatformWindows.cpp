// Windows versions of the platform services: the real automation runtime
// (oleaut32), the thread's ANSI code page, the module's resources, a
// user32 message box and a kernel mutex. Dispatch goes through the type
// library embedded in the module.
#include <atomic>
#include <cmath>

#include "WindowsModule.h"

namespace platform {

// ---------------------------------------------------------------------------
// Text: UTF-16 <-> the ANSI code page (CP_ACP). Characters the code page
// lacks become its default character, as a conversion without strict flags
// does; only a failing call counts as a failed conversion.
// ---------------------------------------------------------------------------
std::string BstrToAnsi(const OLECHAR* bstr, bool* pbOk) {
  if (pbOk) *pbOk = bstr != nullptr;
  if (!bstr || !bstr[0]) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, bstr, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) {
    if (pbOk) *pbOk = false;
    return std::string();
  }
  std::string out(size_t(n), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, bstr, -1, &out[0], n, nullptr, nullptr) != n) {
    if (pbOk) *pbOk = false;
    return std::string();
  }
  out.resize(size_t(n) - 1);  // drop the terminator the call counted
  return out;
}

BSTR AnsiToBstr(const char* psz) {
  if (!psz || !psz[0]) return SysAllocStringLen(nullptr, 0);
  int n = MultiByteToWideChar(CP_ACP, 0, psz, -1, nullptr, 0);
  if (n <= 0) return nullptr;
  BSTR b = SysAllocStringLen(nullptr, UINT(n - 1));
  if (!b) return nullptr;
  if (MultiByteToWideChar(CP_ACP, 0, psz, -1, b, n) != n) {
    SysFreeString(b);
    return nullptr;
  }
  return b;
}

BSTR AnsiToBstr(const std::string& str) { return AnsiToBstr(str.c_str()); }

// ---------------------------------------------------------------------------
// Dates
// ---------------------------------------------------------------------------
std::string DateToText(DATE date) {
  // Not every runtime refuses a NaN; no date gives no text on every platform.
  if (!std::isfinite(date)) return std::string();
  BSTR b = nullptr;
  if (FAILED(VarBstrFromDate(date, LOCALE_USER_DEFAULT, VAR_FOURDIGITYEARS, &b))) return {};
  std::string text = BstrToAnsi(b);
  SysFreeString(b);
  return text;
}

// ---------------------------------------------------------------------------
// Process and thread
// ---------------------------------------------------------------------------
unsigned long CurrentThreadId() { return GetCurrentThreadId(); }

std::string LoadStringResource(unsigned id) {
  // With a zero buffer size LoadStringW hands out a pointer into the
  // resource itself (not terminated) and the string's length.
  const wchar_t* p = nullptr;
  int n = LoadStringW(ModuleHandle(), id, reinterpret_cast<LPWSTR>(&p), 0);
  if (n <= 0 || !p) return std::string();
  int cb = WideCharToMultiByte(CP_ACP, 0, p, n, nullptr, 0, nullptr, nullptr);
  if (cb <= 0) return std::string();
  std::string out(size_t(cb), '\0');
  WideCharToMultiByte(CP_ACP, 0, p, n, &out[0], cb, nullptr, nullptr);
  return out;
}

// ---------------------------------------------------------------------------
// The message window
// ---------------------------------------------------------------------------
static std::atomic<MessageBoxHook> g_MessageBoxHook{nullptr};

void SetMessageBoxHook(MessageBoxHook hook) { g_MessageBoxHook = hook; }

void ShowMessageBox(const char* pszText, const char* pszCaption) {
  if (MessageBoxHook hook = g_MessageBoxHook) {
    hook(pszText, pszCaption);
    return;
  }
  // No owner window: the component has none. Without a desktop (a headless
  // service or Wine without a display) the call returns at once.
  MessageBoxA(nullptr, pszText, pszCaption, MB_OK);
}

// ---------------------------------------------------------------------------
// Mutex: an unnamed kernel mutex. Should CreateMutex fail, Lock and Unlock
// do nothing; the only user (the path cache) then runs unserialised rather
// than failing its lookups.
// ---------------------------------------------------------------------------
Mutex::Mutex() : m_pHandle(CreateMutexW(nullptr, FALSE, nullptr)) {}

Mutex::~Mutex() {
  if (m_pHandle) CloseHandle(static_cast<HANDLE>(m_pHandle));
}

void Mutex::Lock() {
  if (m_pHandle) WaitForSingleObject(static_cast<HANDLE>(m_pHandle), INFINITE);
}

void Mutex::Unlock() {
  if (m_pHandle) ReleaseMutex(static_cast<HANDLE>(m_pHandle));
}

// ---------------------------------------------------------------------------
// Type information. The type library is loaded once from this module's own
// resources rather than from the registry: it always describes the code it
// ships with, also in the unit tests where nothing is registered. For each
// dual interface two views are kept: the dispatch view that
// IDispatch::GetTypeInfo hands out, and the vtable view that names and
// invocations go through.
// ---------------------------------------------------------------------------
namespace {

struct TypeInfoEntry {
  IID iid;
  ITypeInfo* pDispatchView;
  ITypeInfo* pVtableView;
};

SRWLOCK g_TypeInfoLock = SRWLOCK_INIT;
ITypeLib* g_pTypeLib = nullptr;
TypeInfoEntry g_TypeInfos[8];  // the library holds five types
unsigned g_cTypeInfos = 0;

// Loads the module's type library; called with the lock held.
HRESULT LoadModuleTypeLib() {
  if (g_pTypeLib) return S_OK;
  std::wstring path = ModulePath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  return LoadTypeLibEx(path.c_str(), REGKIND_NONE, &g_pTypeLib);
}

// Finds or loads the entry of one interface; called with the lock held.
HRESULT FindTypeInfo(REFIID riid, TypeInfoEntry** ppEntry) {
  for (unsigned i = 0; i < g_cTypeInfos; ++i) {
    if (IsEqualGUID(g_TypeInfos[i].iid, riid)) {
      *ppEntry = &g_TypeInfos[i];
      return S_OK;
    }
  }
  if (g_cTypeInfos == sizeof g_TypeInfos / sizeof g_TypeInfos[0]) return E_UNEXPECTED;
  HRESULT hr = LoadModuleTypeLib();
  if (FAILED(hr)) return hr;
  ITypeInfo* pInfo = nullptr;
  hr = g_pTypeLib->GetTypeInfoOfGuid(riid, &pInfo);
  if (FAILED(hr)) return hr;
  // A dual interface is found as its dispatch view; its vtable view is the
  // interface that view refers to as implemented type -1.
  ITypeInfo* pVtable = pInfo;
  pVtable->AddRef();
  TYPEATTR* pAttr = nullptr;
  if (SUCCEEDED(pInfo->GetTypeAttr(&pAttr))) {
    bool dual = pAttr->typekind == TKIND_DISPATCH && (pAttr->wTypeFlags & TYPEFLAG_FDUAL);
    pInfo->ReleaseTypeAttr(pAttr);
    HREFTYPE ref = 0;
    ITypeInfo* pRef = nullptr;
    if (dual && SUCCEEDED(pInfo->GetRefTypeOfImplType(UINT(-1), &ref)) &&
        SUCCEEDED(pInfo->GetRefTypeInfo(ref, &pRef))) {
      pVtable->Release();
      pVtable = pRef;
    }
  }
  TypeInfoEntry& e = g_TypeInfos[g_cTypeInfos++];
  e.iid = riid;
  e.pDispatchView = pInfo;
  e.pVtableView = pVtable;
  *ppEntry = &e;
  return S_OK;
}

// Runs f(entry) under the lock, with the interface's entry loaded.
template <class F>
HRESULT WithTypeInfo(REFIID riid, F f) {
  AcquireSRWLockExclusive(&g_TypeInfoLock);
  TypeInfoEntry* pEntry = nullptr;
  HRESULT hr = FindTypeInfo(riid, &pEntry);
  // The type information objects stay alive while referenced, so the work
  // itself runs outside the lock with its own references.
  ITypeInfo* pDispatch = nullptr;
  ITypeInfo* pVtable = nullptr;
  if (SUCCEEDED(hr)) {
    pDispatch = pEntry->pDispatchView;
    pVtable = pEntry->pVtableView;
    pDispatch->AddRef();
    pVtable->AddRef();
  }
  ReleaseSRWLockExclusive(&g_TypeInfoLock);
  if (FAILED(hr)) return hr;
  hr = f(pDispatch, pVtable);
  pDispatch->Release();
  pVtable->Release();
  return hr;
}

}  // namespace

void ReleaseTypeInfoCache() {
  AcquireSRWLockExclusive(&g_TypeInfoLock);
  for (unsigned i = 0; i < g_cTypeInfos; ++i) {
    g_TypeInfos[i].pDispatchView->Release();
    g_TypeInfos[i].pVtableView->Release();
  }
  g_cTypeInfos = 0;
  if (g_pTypeLib) g_pTypeLib->Release();
  g_pTypeLib = nullptr;
  ReleaseSRWLockExclusive(&g_TypeInfoLock);
}

HRESULT GetInterfaceTypeInfo(REFIID riid, ITypeInfo** ppTInfo) {
  if (!ppTInfo) return E_POINTER;
  *ppTInfo = nullptr;
  return WithTypeInfo(riid, [&](ITypeInfo* pDispatch, ITypeInfo*) {
    pDispatch->AddRef();
    *ppTInfo = pDispatch;
    return S_OK;
  });
}

HRESULT DispatchGetIDsOfNames(REFIID riidItf, LPOLESTR* rgszNames, UINT cNames, DISPID* rgDispId) {
  if (!rgszNames || !rgDispId) return E_POINTER;
  return WithTypeInfo(riidItf, [&](ITypeInfo*, ITypeInfo* pVtable) {
    return DispGetIDsOfNames(pVtable, rgszNames, cNames, rgDispId);
  });
}

HRESULT DispatchInvoke(void* pThis, REFIID riidItf, DISPID dispIdMember, WORD wFlags,
                       DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                       UINT* puArgErr) {
  if (!pDispParams) return E_POINTER;
  return WithTypeInfo(riidItf, [&](ITypeInfo*, ITypeInfo* pVtable) {
    // Invoking through the vtable view calls the method on the interface's
    // own vtable; a failing status comes back as DISP_E_EXCEPTION with the
    // status in EXCEPINFO.scode.
    return pVtable->Invoke(pThis, dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo,
                           puArgErr);
  });
}

}  // namespace platform
