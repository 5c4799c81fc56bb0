// Self-registration of the in-process server: the program ids, the class key
// and the type library, written by code under the classes root.
//
// The 32-bit and the 64-bit DLL may be registered on one machine at once,
// each for the hosts of its own bitness. On 64-bit Windows the class and
// interface keys exist once per registry view (a DLL writes its own view),
// while the program ids and the type library's key are shared, holding a
// win32 and a win64 entry side by side. Unregistering one DLL therefore
// keeps what the other still needs.
#include <olectl.h>

#include <string>

#include "WindowsModule.h"

namespace {

const wchar_t kDescription[] = L"IAR UBROF";
const wchar_t kProgId[] = L"MirlParserUbrof.MirlParserUbrof.1";
const wchar_t kVersionIndependentProgId[] = L"MirlParserUbrof.MirlParserUbrof";
const wchar_t kThreadingModel[] = L"Free";
#ifdef _WIN64
const wchar_t kPlatform[] = L"win64";
const REGSAM kOtherView = KEY_WOW64_32KEY;
#else
const wchar_t kPlatform[] = L"win32";
// Ignored on 32-bit Windows, where the one view is this DLL's own.
const REGSAM kOtherView = KEY_WOW64_64KEY;
#endif
// The interfaces the type library registers (with the type-library
// marshaler as their proxy).
const IID* const kInterfaces[] = {&IID_IMirlParser, &IID_IMirlParserMem, &IID_IMirlParser2,
                                  &IID_IMirlParser3};

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

// Deletes a key with everything below it, in this DLL's registry view or in
// the one given; a key that is not there is fine.
LONG DeleteTree(HKEY hParent, const std::wstring& subkey, REGSAM view = 0) {
  HKEY hKey = nullptr;
  LONG rc = RegOpenKeyExW(hParent, subkey.c_str(), 0, KEY_READ | KEY_WRITE | DELETE | view, &hKey);
  if (rc == ERROR_SUCCESS) {
    rc = RegDeleteTreeW(hKey, nullptr);
    RegCloseKey(hKey);
    if (rc == ERROR_SUCCESS) rc = RegDeleteKeyExW(hParent, subkey.c_str(), view, 0);
  }
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

bool KeyExists(const std::wstring& subkey, REGSAM view = 0) {
  HKEY hKey = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_READ | view, &hKey) != ERROR_SUCCESS)
    return false;
  RegCloseKey(hKey);
  return true;
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

// An entry of the type library: its locale and its platform (win32, win64).
std::wstring TypeLibKey(const std::wstring& libid, const wchar_t* locale, const wchar_t* platform) {
  return L"TypeLib\\" + libid + L"\\1.0\\" + locale + L"\\" + platform;
}

// RegisterTypeLib writes the library under its own locale (409); the
// type-library marshaler of some COM runtimes (Wine's among them) looks only
// under locale 0, and without that entry a single-threaded-apartment client
// cannot reach the free-threaded object, so it is written as well.
HRESULT RegisterTypeLibrary(const std::wstring& libid, const std::wstring& modulePath) {
  ITypeLib* pLib = nullptr;
  HRESULT hr = LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, &pLib);
  if (FAILED(hr)) return hr;
  hr = RegisterTypeLib(pLib, const_cast<LPOLESTR>(modulePath.c_str()), nullptr);
  pLib->Release();
  if (FAILED(hr)) return hr;
  if (CreateKey(HKEY_CLASSES_ROOT, TypeLibKey(libid, L"0", kPlatform), modulePath.c_str()) !=
      ERROR_SUCCESS)
    return SELFREG_E_TYPELIB;
  return S_OK;
}

// Removes this DLL's entries of the type library and of its interfaces;
// the library's key goes only when the DLL of the other bitness is not
// registered. (UnRegisterTypeLib is not used: some runtimes remove the
// interface keys of both views with it.)
LONG UnregisterTypeLibrary(const std::wstring& libid, bool otherRegistered) {
  Steps s;
  for (const IID* iid : kInterfaces) {
    const std::wstring key = L"Interface\\" + GuidText(*iid);
    s(DeleteTree(HKEY_CLASSES_ROOT, key));
    if (!otherRegistered) s(DeleteTree(HKEY_CLASSES_ROOT, key, kOtherView));
  }
  if (!otherRegistered) {
    s(DeleteTree(HKEY_CLASSES_ROOT, L"TypeLib\\" + libid));
  } else {
    for (const wchar_t* locale : {L"0", L"409"})
      s(DeleteTree(HKEY_CLASSES_ROOT, TypeLibKey(libid, locale, kPlatform)));
  }
  return s.rc;
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
  const std::wstring classKey = L"CLSID\\" + clsid;
  Steps s;
  // Only the class's own key: CLSID itself is never removed.
  s(DeleteTree(HKEY_CLASSES_ROOT, classKey));
  // The other bitness's class key, in the other view (on 32-bit Windows
  // that is this view, where the key is gone now).
  const bool otherRegistered = KeyExists(classKey, kOtherView);
  if (!otherRegistered) {
    s(DeleteTree(HKEY_CLASSES_ROOT, kProgId));
    s(DeleteTree(HKEY_CLASSES_ROOT, kVersionIndependentProgId));
  }
  if (s.rc != ERROR_SUCCESS) return SELFREG_E_CLASS;
  return UnregisterTypeLibrary(libid, otherRegistered) == ERROR_SUCCESS ? S_OK : SELFREG_E_TYPELIB;
}
