// Linux versions of the automation runtime and OS services the component
// uses. They follow the Windows behaviour the component relies on: a BSTR is
// a 4-byte byte-length prefix, UTF-16 code units and a 16-bit terminator;
// safe arrays and their data come from the task allocator; the ANSI code
// page is UTF-8.
#include <sys/syscall.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "ModuleStrings.h"
#include "Platform.h"
#include "Unicode.h"

// ---------------------------------------------------------------------------
// Automation strings
// ---------------------------------------------------------------------------
STDAPI_(BSTR) SysAllocStringLen(const OLECHAR* pch, UINT cch) {
  // Length prefix (bytes, without terminator) + characters + terminator.
  if (cch > (0x7FFFFFFFu - 8) / sizeof(OLECHAR)) return nullptr;
  size_t bytes = sizeof(uint32_t) + (size_t(cch) + 1) * sizeof(OLECHAR);
  auto* raw = static_cast<unsigned char*>(std::malloc(bytes));
  if (!raw) return nullptr;
  uint32_t len = uint32_t(cch * sizeof(OLECHAR));
  std::memcpy(raw, &len, sizeof len);
  BSTR str = reinterpret_cast<BSTR>(raw + sizeof(uint32_t));
  if (pch)
    std::memcpy(str, pch, cch * sizeof(OLECHAR));
  else
    std::memset(str, 0, cch * sizeof(OLECHAR));
  str[cch] = 0;
  return str;
}

STDAPI_(BSTR) SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  UINT n = 0;
  while (psz[n]) ++n;
  return SysAllocStringLen(psz, n);
}

STDAPI_(UINT) SysStringLen(BSTR bstr) {
  if (!bstr) return 0;
  uint32_t len;
  std::memcpy(&len, reinterpret_cast<unsigned char*>(bstr) - sizeof(uint32_t), sizeof len);
  return len / sizeof(OLECHAR);
}

STDAPI_(void) SysFreeString(BSTR bstr) {
  if (bstr) std::free(reinterpret_cast<unsigned char*>(bstr) - sizeof(uint32_t));
}

// ---------------------------------------------------------------------------
// Task allocator
// ---------------------------------------------------------------------------
STDAPI_(LPVOID) CoTaskMemAlloc(size_t cb) { return std::malloc(cb ? cb : 1); }

STDAPI_(LPVOID) CoTaskMemRealloc(LPVOID pv, size_t cb) { return std::realloc(pv, cb ? cb : 1); }

STDAPI_(void) CoTaskMemFree(LPVOID pv) { std::free(pv); }

// ---------------------------------------------------------------------------
// Safe arrays (one dimension is all the interfaces use; more are refused)
// ---------------------------------------------------------------------------
static ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_UI1:
      return 1;
    case VT_I2:
      return 2;
    case VT_I4:
    case VT_UI4:
      return 4;
    case VT_R8:
    case VT_DATE:
      return 8;
    case VT_BSTR:
      return sizeof(BSTR);
    default:
      return 0;
  }
}

STDAPI SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY** ppsaOut) {
  if (!ppsaOut) return E_POINTER;
  if (cDims != 1) return E_INVALIDARG;
  auto* psa = static_cast<SAFEARRAY*>(CoTaskMemAlloc(sizeof(SAFEARRAY)));
  if (!psa) return E_OUTOFMEMORY;
  std::memset(psa, 0, sizeof *psa);
  psa->cDims = 1;
  *ppsaOut = psa;
  return S_OK;
}

STDAPI_(SAFEARRAY*) SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  ULONG cb = ElementSize(vt);
  if (cDims != 1 || !rgsabound || cb == 0) return nullptr;
  SAFEARRAY* psa = nullptr;
  if (FAILED(SafeArrayAllocDescriptor(1, &psa))) return nullptr;
  psa->cbElements = cb;
  psa->rgsabound[0] = rgsabound[0];
  size_t bytes = size_t(rgsabound[0].cElements) * cb;
  psa->pvData = CoTaskMemAlloc(bytes);
  if (!psa->pvData) {
    CoTaskMemFree(psa);
    return nullptr;
  }
  std::memset(psa->pvData, 0, bytes);
  return psa;
}

STDAPI SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (!psa || !plLbound) return E_INVALIDARG;
  if (nDim != 1 || psa->cDims != 1) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[0].lLbound;
  return S_OK;
}

STDAPI SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (!psa || !plUbound) return E_INVALIDARG;
  if (nDim != 1 || psa->cDims != 1) return DISP_E_BADINDEX;
  *plUbound = LONG(int64_t(psa->rgsabound[0].lLbound) + int64_t(psa->rgsabound[0].cElements) - 1);
  return S_OK;
}

STDAPI SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (!psa || !ppvData) return E_INVALIDARG;
  ++psa->cLocks;
  *ppvData = psa->pvData;
  return S_OK;
}

STDAPI SafeArrayUnaccessData(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

STDAPI SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa) return S_OK;
  if (psa->cLocks) return ((HRESULT)0x8002000D);  // DISP_E_ARRAYISLOCKED
  CoTaskMemFree(psa->pvData);
  CoTaskMemFree(psa);
  return S_OK;
}

// ---------------------------------------------------------------------------
// Variants
// ---------------------------------------------------------------------------
STDAPI_(void) VariantInit(VARIANT* pvarg) {
  if (!pvarg) return;
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
}

STDAPI VariantClear(VARIANT* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  if (!(pvarg->vt & VT_BYREF)) {
    if (pvarg->vt == VT_BSTR)
      SysFreeString(pvarg->bstrVal);
    else if (pvarg->vt & VT_ARRAY)
      SafeArrayDestroy(pvarg->parray);
  }
  pvarg->vt = VT_EMPTY;
  return S_OK;
}

namespace platform {

// ---------------------------------------------------------------------------
// The "ANSI code page" is UTF-8 (see Unicode.h for malformed text).
// ---------------------------------------------------------------------------
std::string BstrToAnsi(const OLECHAR* bstr, bool* pbOk) {
  if (pbOk) *pbOk = bstr != nullptr;
  if (!bstr) return std::string();
  size_t n = 0;
  while (bstr[n]) ++n;
  return Utf8FromUtf16(bstr, n);
}

BSTR AnsiToBstr(const char* psz) {
  const char* s = psz ? psz : "";
  size_t n = std::strlen(s);
  // ASCII, the usual case, goes straight into the new string.
  size_t ascii = 0;
  while (ascii < n && static_cast<unsigned char>(s[ascii]) < 0x80) ++ascii;
  if (ascii == n && n <= 0x3FFFFFF0u) {
    BSTR str = SysAllocStringLen(nullptr, UINT(n));
    if (str)
      for (size_t k = 0; k < n; ++k) str[k] = OLECHAR(s[k]);
    return str;
  }
  std::u16string w = Utf16FromUtf8(s, n);
  return SysAllocStringLen(w.data(), UINT(w.size()));
}

BSTR AnsiToBstr(const std::string& str) { return AnsiToBstr(str.c_str()); }

// ---------------------------------------------------------------------------
// Dates: the en-US form that VarBstrFromDate gives ("12/24/1999 12:30:00 PM");
// the time is left out at midnight and the date on day 0, as there.
// ---------------------------------------------------------------------------
std::string DateToText(DATE date) {
  if (!std::isfinite(date)) return std::string();
  double whole = std::trunc(date);
  double frac = std::fabs(date - whole);
  long seconds = std::lround(frac * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    whole += date < 0 ? -1 : 1;
  }
  // Days since 1899-12-30 to a civil date (proleptic Gregorian).
  long long z = (long long)whole - 25569 + 719468;  // days since 0000-03-01
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = yoe + era * 400;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  long long d = doy - (153 * mp + 2) / 5 + 1;
  long long m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;

  char buf[64];
  std::string out;
  if (whole != 0 || seconds == 0) {
    std::snprintf(buf, sizeof buf, "%lld/%lld/%04lld", m, d, y);
    out = buf;
  }
  if (seconds != 0) {
    long h = seconds / 3600, mi = (seconds / 60) % 60, s = seconds % 60;
    long h12 = h % 12 == 0 ? 12 : h % 12;
    std::snprintf(buf, sizeof buf, "%s%ld:%02ld:%02ld %s", out.empty() ? "" : " ", h12, mi, s,
                  h < 12 ? "AM" : "PM");
    out += buf;
  }
  return out;
}

unsigned long CurrentThreadId() { return (unsigned long)syscall(SYS_gettid); }

std::string LoadStringResource(unsigned id) {
  switch (id) {
    case MIRL_IDS_PROJNAME:
      return MIRL_PROJECT_NAME;
    case MIRL_IDS_DESCRIPTION:
      return MIRL_DESCRIPTION;
    default:
      return std::string();
  }
}

// ---------------------------------------------------------------------------
// Message window: Linux has no modal window for a library; the message is
// written once to stderr and the call returns at once.
// ---------------------------------------------------------------------------
static MessageBoxHook g_MessageBoxHook = nullptr;

void SetMessageBoxHook(MessageBoxHook hook) { g_MessageBoxHook = hook; }

void ShowMessageBox(const char* pszText, const char* pszCaption) {
  if (MessageBoxHook hook = g_MessageBoxHook) {
    hook(pszText, pszCaption);
    return;
  }
  std::fprintf(stderr, "%s: %s\n", pszCaption, pszText);
}

// ---------------------------------------------------------------------------
// Mutex
// ---------------------------------------------------------------------------
Mutex::Mutex() : m_pHandle(new std::mutex) {}
Mutex::~Mutex() { delete static_cast<std::mutex*>(m_pHandle); }
void Mutex::Lock() { static_cast<std::mutex*>(m_pHandle)->lock(); }
void Mutex::Unlock() { static_cast<std::mutex*>(m_pHandle)->unlock(); }

// ---------------------------------------------------------------------------
// Dispatch: no type library on Linux.
// ---------------------------------------------------------------------------
HRESULT GetInterfaceTypeInfo(REFIID, ITypeInfo** ppTInfo) {
  if (ppTInfo) *ppTInfo = nullptr;
  return E_NOTIMPL;
}

HRESULT DispatchGetIDsOfNames(REFIID, LPOLESTR*, UINT, DISPID*) { return E_NOTIMPL; }

HRESULT DispatchInvoke(void*, REFIID, DISPID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return E_NOTIMPL;
}

}  // namespace platform
