// Self-registration of the in-process server: the program ids, the class key
// and the type library, written by code under the classes root.
#include <olectl.h>

#include <string>

#include "WindowsModule.h"

namespace {

const wchar_t kDescription[] = L"IAR UBROF";
const wchar_t kProgId[] = L"MirlParserUbrof.MirlParserUbrof.1";
const wchar_t kVersionIndependentProgId[] = L"MirlParserUbrof.MirlParserUbrof";
const wchar_t kThreadingModel[] = L"Free";
const WORD kTypeLibMajor = 1, kTypeLibMinor = 0;
const LCID kTypeLibLcid = 0x409;

std::wstring GuidText(REFGUID guid) {
  wchar_t buf[40] = {};
  StringFromGUID2(guid, buf, 40);
  return buf;
}

// Writes a string value (name null: the key's default value).
LONG SetString(HKEY hKey, const wchar_t* pszName, const std::wstring& value) {
  return RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        DWORD((value.size() + 1) * sizeof(wchar_t)));
}

// Creates (or opens) parent\subkey and sets its default value when one is given.
LONG CreateKey(HKEY hParent, const std::wstring& subkey, const wchar_t* pszDefault,
               HKEY* phKey = nullptr) {
  HKEY hKey = nullptr;
  LONG rc = RegCreateKeyExW(hParent, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                            nullptr, &hKey, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  if (pszDefault) rc = SetString(hKey, nullptr, pszDefault);
  if (phKey && rc == ERROR_SUCCESS)
    *phKey = hKey;
  else
    RegCloseKey(hKey);
  return rc;
}

// Deletes a key with everything below it; a key that is not there is fine.
LONG DeleteTree(HKEY hParent, const std::wstring& subkey) {
  LONG rc = RegDeleteTreeW(hParent, subkey.c_str());
  if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) {
    rc = RegDeleteKeyW(hParent, subkey.c_str());
    if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
  }
  return rc;
}

// Runs the writes in order and keeps the first failure.
struct Steps {
  LONG rc = ERROR_SUCCESS;
  void operator()(LONG r) {
    if (rc == ERROR_SUCCESS) rc = r;
  }
};

LONG RegisterProgIds(const std::wstring& clsid) {
  Steps s;
  HKEY hKey = nullptr;
  s(CreateKey(HKEY_CLASSES_ROOT, kProgId, kDescription, &hKey));
  if (hKey) {
    s(CreateKey(hKey, L"CLSID", clsid.c_str()));
    RegCloseKey(hKey);
    hKey = nullptr;
  }
  s(CreateKey(HKEY_CLASSES_ROOT, kVersionIndependentProgId, kDescription, &hKey));
  if (hKey) {
    s(CreateKey(hKey, L"CLSID", clsid.c_str()));
    s(CreateKey(hKey, L"CurVer", kProgId));
    RegCloseKey(hKey);
  }
  return s.rc;
}

LONG RegisterClassKey(const std::wstring& clsid, const std::wstring& libid,
                      const std::wstring& modulePath) {
  const std::wstring classKey = L"CLSID\\" + clsid;
  Steps s;
  // Forced removal: whatever an earlier registration left below the class
  // key goes, so the key holds exactly what is written here.
  s(DeleteTree(HKEY_CLASSES_ROOT, classKey));
  HKEY hClass = nullptr;
  s(CreateKey(HKEY_CLASSES_ROOT, classKey, kDescription, &hClass));
  if (!hClass) return s.rc;
  s(CreateKey(hClass, L"ProgID", kProgId));
  s(CreateKey(hClass, L"VersionIndependentProgID", kVersionIndependentProgId));
  s(DeleteTree(hClass, L"Programmable"));
  s(CreateKey(hClass, L"Programmable", nullptr));
  HKEY hServer = nullptr;
  s(CreateKey(hClass, L"InprocServer32", modulePath.c_str(), &hServer));
  if (hServer) {
    s(SetString(hServer, L"ThreadingModel", kThreadingModel));
    RegCloseKey(hServer);
  }
  s(CreateKey(hClass, L"TypeLib", libid.c_str()));
  RegCloseKey(hClass);
  return s.rc;
}

// The locale-neutral entry of the type library. RegisterTypeLib writes the
// library under its own locale (409); the type-library marshaler of some
// COM runtimes (Wine's among them) looks only under locale 0, and without it
// a single-threaded-apartment client cannot reach the free-threaded object.
std::wstring NeutralTypeLibKey(const std::wstring& libid) {
  return L"TypeLib\\" + libid + L"\\1.0\\0";
}

HRESULT RegisterTypeLibrary(const std::wstring& libid, const std::wstring& modulePath) {
  ITypeLib* pLib = nullptr;
  HRESULT hr = LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, &pLib);
  if (FAILED(hr)) return hr;
  hr = RegisterTypeLib(pLib, const_cast<LPOLESTR>(modulePath.c_str()), nullptr);
  pLib->Release();
  if (FAILED(hr)) return hr;
  if (CreateKey(HKEY_CLASSES_ROOT, NeutralTypeLibKey(libid) + L"\\win64", modulePath.c_str()) !=
      ERROR_SUCCESS)
    return SELFREG_E_TYPELIB;
  return S_OK;
}

HRESULT UnregisterTypeLibrary(const std::wstring& libid) {
  // The neutral key first, so that UnRegisterTypeLib finds the version key
  // empty after its own locale and removes it as well.
  DeleteTree(HKEY_CLASSES_ROOT, NeutralTypeLibKey(libid));
  // Not registered (any more) is what unregistration wants; runtimes differ
  // in the status UnRegisterTypeLib gives for that, so look first.
  HKEY hKey = nullptr;
  const std::wstring localeKey = L"TypeLib\\" + libid + L"\\1.0\\409";
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, localeKey.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
    return S_OK;
  RegCloseKey(hKey);
  return UnRegisterTypeLib(LIBID_MIRLPARSERUBROFLib, kTypeLibMajor, kTypeLibMinor, kTypeLibLcid,
                           SYS_WIN64);
}

}  // namespace

STDAPI DllRegisterServer(void) {
  std::wstring modulePath = platform::ModulePath();
  if (modulePath.empty()) return SELFREG_E_CLASS;
  const std::wstring clsid = GuidText(CLSID_MirlParserUbrof);
  const std::wstring libid = GuidText(LIBID_MIRLPARSERUBROFLib);
  if (RegisterProgIds(clsid) != ERROR_SUCCESS) return SELFREG_E_CLASS;
  if (RegisterClassKey(clsid, libid, modulePath) != ERROR_SUCCESS) return SELFREG_E_CLASS;
  if (FAILED(RegisterTypeLibrary(libid, modulePath))) return SELFREG_E_TYPELIB;
  return S_OK;
}

STDAPI DllUnregisterServer(void) {
  const std::wstring clsid = GuidText(CLSID_MirlParserUbrof);
  const std::wstring libid = GuidText(LIBID_MIRLPARSERUBROFLib);
  HRESULT hrLib = UnregisterTypeLibrary(libid);
  Steps s;
  s(DeleteTree(HKEY_CLASSES_ROOT, kProgId));
  s(DeleteTree(HKEY_CLASSES_ROOT, kVersionIndependentProgId));
  // Only the class's own key: CLSID itself is never removed.
  s(DeleteTree(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid));
  if (s.rc != ERROR_SUCCESS) return SELFREG_E_CLASS;
  return FAILED(hrLib) ? SELFREG_E_TYPELIB : S_OK;
}
