// MirlParserUbrof public header for hosts on Linux.
//
// Everything a host needs to create and drive the UBROF parser component
// through its automation interfaces: the automation types with their Windows
// layout, IUnknown/IDispatch/IClassFactory, the three parser interfaces (and
// IMirlParser2, which is declared only), the class and interface ids, the
// status codes and the automation functions that the shared library exports.
//
// On Windows the same declarations come from the header that widl generates
// from MirlParserUbrof.idl; this file mirrors it (a test compares the ids and
// the method order of both).
#ifndef MIRLPARSERUBROF_H
#define MIRLPARSERUBROF_H

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Automation base types (sizes and layouts as on 64-bit Windows).
// ---------------------------------------------------------------------------
#define STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT
#define STDAPI_(type) extern "C" type

typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint16_t USHORT;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t BOOL;
typedef unsigned int UINT;
typedef uint32_t LCID;
typedef LONG DISPID;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef double DATE;
typedef void* PVOID;
typedef void* LPVOID;

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }

// Status codes.
#define S_OK ((HRESULT)0x00000000)
#define S_FALSE ((HRESULT)0x00000001)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111)
#define DISP_E_EXCEPTION ((HRESULT)0x80020009)
#define DISP_E_BADINDEX ((HRESULT)0x8002000B)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

// Variant types used by the interfaces.
enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R8 = 5,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_UI1 = 17,
  VT_UI4 = 19,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000
};

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  PVOID pvData;
  SAFEARRAYBOUND rgsabound[1];
};

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONG lVal;
    BYTE bVal;
    ULONG ulVal;
    double dblVal;
    DATE date;
    BSTR bstrVal;
    SAFEARRAY* parray;
    void* byref;
    struct {
      PVOID pvRecord;
      PVOID pRecInfo;
    } brecVal;
  };
};
typedef VARIANT VARIANTARG;

struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  PVOID pvReserved;
  HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

struct ITypeInfo;  // type information is not available on Linux

// ---------------------------------------------------------------------------
// Base interfaces. No virtual destructors: the vtable is the COM vtable.
// ---------------------------------------------------------------------------
struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct IDispatch : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                  LCID lcid, DISPID* rgDispId) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid,
                                           WORD wFlags, DISPPARAMS* pDispParams,
                                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                           UINT* puArgErr) = 0;
};

struct IClassFactory : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                   void** ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};

// ---------------------------------------------------------------------------
// Identifiers.
// ---------------------------------------------------------------------------
// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000,
                                     {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {00020400-0000-0000-C000-000000000046}
inline constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000,
                                      {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {00000001-0000-0000-C000-000000000046}
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000,
                                          {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// {6B1E2A40-3C1D-4F7A-9E21-5A0C7D3B1F01}
inline constexpr GUID LIBID_MIRLPARSERUBROFLib = {
    0x6B1E2A40, 0x3C1D, 0x4F7A, {0x9E, 0x21, 0x5A, 0x0C, 0x7D, 0x3B, 0x1F, 0x01}};
// {6B1E2A41-3C1D-4F7A-9E21-5A0C7D3B1F01}
inline constexpr CLSID CLSID_MirlParserUbrof = {
    0x6B1E2A41, 0x3C1D, 0x4F7A, {0x9E, 0x21, 0x5A, 0x0C, 0x7D, 0x3B, 0x1F, 0x01}};
// {6B1E2A42-3C1D-4F7A-9E21-5A0C7D3B1F01}
inline constexpr IID IID_IMirlParser = {
    0x6B1E2A42, 0x3C1D, 0x4F7A, {0x9E, 0x21, 0x5A, 0x0C, 0x7D, 0x3B, 0x1F, 0x01}};
// {6B1E2A43-3C1D-4F7A-9E21-5A0C7D3B1F01}
inline constexpr IID IID_IMirlParser2 = {
    0x6B1E2A43, 0x3C1D, 0x4F7A, {0x9E, 0x21, 0x5A, 0x0C, 0x7D, 0x3B, 0x1F, 0x01}};
// {6B1E2A44-3C1D-4F7A-9E21-5A0C7D3B1F01}
inline constexpr IID IID_IMirlParser3 = {
    0x6B1E2A44, 0x3C1D, 0x4F7A, {0x9E, 0x21, 0x5A, 0x0C, 0x7D, 0x3B, 0x1F, 0x01}};
// {6B1E2A45-3C1D-4F7A-9E21-5A0C7D3B1F01}
inline constexpr IID IID_IMirlParserMem = {
    0x6B1E2A45, 0x3C1D, 0x4F7A, {0x9E, 0x21, 0x5A, 0x0C, 0x7D, 0x3B, 0x1F, 0x01}};

// ---------------------------------------------------------------------------
// The parser's own status codes.
// ---------------------------------------------------------------------------
#define PARSER_E_BAD_MEMORY_TYPE ((HRESULT)0x80040001)
#define PARSER_E_CANNOT_OPEN ((HRESULT)0x80040002)
#define PARSER_E_INVALID_FILE ((HRESULT)0x80040003)
#define PARSER_E_BAD_ID ((HRESULT)0x80040005)
#define PARSER_E_NOT_INITIALIZED ((HRESULT)0x80040100)
#define PARSER_E_ALREADY_PARSED ((HRESULT)0x80040101)
#define PARSER_E_NOT_PARSED ((HRESULT)0x80040102)

// ---------------------------------------------------------------------------
// The parser interfaces, methods in type-library order.
// ---------------------------------------------------------------------------
struct IMirlParser : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE Init(unsigned char ucUseEvents) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDefaultDataValue(unsigned char ucMemoryType,
                                                        unsigned char ucDefaultDataValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE ValidateObjectFile(BSTR* pbstrPath) = 0;
  virtual HRESULT STDMETHODCALLTYPE ParseObjectFile(BSTR* pbstrPath, ULONG ulParseFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTimeOfBuild(DATE* pdateTimeOfBuild) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTargetInfo(BSTR* pbstrDeviceName, ULONG* pulCoreId,
                                                  ULONG* pulMemModelId) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetGeneralInfoString(BSTR* pbstrGeneralInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMemoryInfo(unsigned char ucMemoryType,
                                                  ULONG* pulLowerBoundary,
                                                  ULONG* pulUpperBoundary, ULONG* pulBlocks) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReadMemory(unsigned char ucMemoryType, ULONG ulStartAddress,
                                               ULONG ulCount, unsigned char* pucReceiveBuffer) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSourceFileInfo(ULONG ulFileId, BSTR* pbstrPath,
                                                      DATE* pdateTimeStamp,
                                                      unsigned char* pucLanguage,
                                                      unsigned char* pucTemporary) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumHLStatements(ULONG ulStatementId, ULONG* pulAddress,
                                                     unsigned char* pucStatementType) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProgMemAddressFromSource(BSTR* pbstrPath, ULONG ulLine,
                                                                ULONG ulCol,
                                                                ULONG* pulAddress) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSourceFromProgMemAddress(ULONG ulAddress, BSTR* pbstrPath,
                                                                ULONG* pulLine, ULONG* pulCol,
                                                                ULONG* pulLineEnd,
                                                                ULONG* pulColEnd,
                                                                ULONG* pulStart) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemapSourceFile(BSTR* pbstrOldPath, BSTR* pbstrNewPath) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumSubScopes(ULONG ulScopeId, ULONG* pulCount,
                                                  ULONG** ppulIdsOut) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetScopeInfo(ULONG ulScopeId, BSTR* pbstrName,
                                                 BSTR* pbstrFullName, ULONG* pulType,
                                                 ULONG* pulStartAddress, ULONG* pulSize,
                                                 ULONG* pulFirstStat) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetScopeFromProgMemAddress(ULONG ulAddress,
                                                               unsigned char ucType,
                                                               ULONG* pulScopeId) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetScopeFromName(BSTR* pbstrName, ULONG* ulScopeId) = 0;
  virtual HRESULT STDMETHODCALLTYPE LookupLabel(ULONG ulAddress, BSTR* pbstrLabel) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumSymbolCategories(ULONG ulCategoryId, BSTR* pbstrName) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumSymbols(ULONG ulScopeId, ULONG ulCategoryId,
                                                ULONG* pulSymbolId) = 0;
  virtual HRESULT STDMETHODCALLTYPE LookupSymbolName(BSTR* pbstrName, ULONG ulScopeIdIn,
                                                     ULONG ulFlags, ULONG* pulSymbolId,
                                                     ULONG* pulScopeIdOut) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSymbolInfo(ULONG ulSymbolId, BSTR* pbstrName,
                                                  ULONG* pulScopeId, ULONG* pulTypeId) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSymbolLocation(ULONG ulSymbolId, ULONG ulProgAddr,
                                                      unsigned char* pucInfo, ULONG* pulAddress,
                                                      unsigned char* pucMemType) = 0;
  // Shares its name with IDispatch::GetTypeInfo; it occupies its own slot.
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(ULONG ulTypeId, BSTR* pbstrName, ULONG* pulSize,
                                                ULONG* pulSpec, ULONG* pulElements,
                                                unsigned char* pucMemType, ULONG* pulPtrSize) = 0;
  using IDispatch::GetTypeInfo;
  virtual HRESULT STDMETHODCALLTYPE GetRefferedType(ULONG ulTypeIdIn, ULONG* pulTypeIdOut,
                                                    ULONG* pulMemType) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStructuralMember(ULONG ulTypeIdIn, BSTR* pbstrName,
                                                        ULONG ulIndex, ULONG* pulTypeIdOut,
                                                        ULONG* pulOffset) = 0;
  virtual HRESULT STDMETHODCALLTYPE EvaluateByLocation(ULONG ulTypeId, ULONG ulAddress,
                                                       unsigned char ucMemType, BSTR* pbstrType,
                                                       BSTR* pbstrLocation, BSTR* pbstrValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE EvaluateByValue(ULONG ulTypeId, ULONG ulValue, double dValue,
                                                    BSTR* pbstrType, BSTR* pbstrLocation,
                                                    BSTR* pbstrValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetValue(ULONG ulTypeId, ULONG ulAddress,
                                             unsigned char ucMemType, ULONG* pulValue,
                                             double* pdValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetValue(ULONG ulTypeId, ULONG ulAddress,
                                             unsigned char ucMemType, ULONG ulValue,
                                             double dValue) = 0;
};

struct IMirlParser2 : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetStructuralMember2(ULONG ulTypeIdIn, BSTR* pbstrName,
                                                         ULONG ulIndex, ULONG* pulTypeIdOut,
                                                         ULONG* pulBitOffset,
                                                         ULONG* pulBitSize) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetEnumeratorText(ULONG ulTypeId, ULONG ulVal,
                                                      BSTR* pbstrText) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetEnumeratorValue(ULONG ulTypeId, BSTR* pbstrText,
                                                       ULONG* ulVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMacroText(ULONG ulScopeId, BSTR* pbstrName,
                                                 BSTR* pbstrText) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProgMemAddressesFromSource(BSTR* pbstrPath, ULONG ulLine,
                                                                  ULONG ulCol, ULONG* pulCount,
                                                                  ULONG** pulAddresses) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCallFrameInfo(ULONG ulScopeId, ULONG ulProgAddr,
                                                     ULONG* pulStreamLength,
                                                     unsigned char** ppByteStream) = 0;
};

struct IMirlParserMem : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE ReadMemSA(unsigned char ucMemoryType, ULONG ulStartAddress,
                                              ULONG ulCount, SAFEARRAY** pSafeArray) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProgramExit(ULONG* pulProgAddr) = 0;
};

struct IMirlParser3 : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetDie(LONG parentDie, LONG tag, LONG* childDie) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDies(LONG parentDie, LONG tag, VARIANT* childDies) = 0;
  virtual HRESULT STDMETHODCALLTYPE LookupDie(LONG parentDie, BSTR name, LONG tag,
                                              LONG* childDie) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAttr(LONG die, LONG attr, VARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTag(LONG die, LONG* tag) = 0;
};

// ---------------------------------------------------------------------------
// Functions exported by libMirlParserUbrof.so.
// ---------------------------------------------------------------------------
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
STDAPI DllCanUnloadNow(void);

STDAPI_(BSTR) SysAllocString(const OLECHAR* psz);
STDAPI_(BSTR) SysAllocStringLen(const OLECHAR* pch, UINT cch);
STDAPI_(UINT) SysStringLen(BSTR bstr);
STDAPI_(void) SysFreeString(BSTR bstr);

STDAPI_(LPVOID) CoTaskMemAlloc(size_t cb);
STDAPI_(LPVOID) CoTaskMemRealloc(LPVOID pv, size_t cb);
STDAPI_(void) CoTaskMemFree(LPVOID pv);

STDAPI_(SAFEARRAY*) SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
STDAPI SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY** ppsaOut);
STDAPI SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
STDAPI SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
STDAPI SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
STDAPI SafeArrayUnaccessData(SAFEARRAY* psa);
STDAPI SafeArrayDestroy(SAFEARRAY* psa);

STDAPI_(void) VariantInit(VARIANT* pvarg);
STDAPI VariantClear(VARIANT* pvarg);

#endif  // MIRLPARSERUBROF_H
