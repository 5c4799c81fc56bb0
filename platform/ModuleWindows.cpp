// The DLL's entry point and the module handle that resources, the type
// library and registration are read from.
#include <vector>

#include "WindowsModule.h"

static HMODULE g_hModule = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved) {
  if (dwReason == DLL_PROCESS_ATTACH) {
    g_hModule = hInstance;
    DisableThreadLibraryCalls(hInstance);
  } else if (dwReason == DLL_PROCESS_DETACH && lpReserved == nullptr) {
    // FreeLibrary, not process exit: oleaut32 is still loaded (we import it),
    // so the cached type information can be released safely.
    platform::ReleaseTypeInfoCache();
  }
  return TRUE;
}

namespace platform {

HMODULE ModuleHandle() {
  if (g_hModule) return g_hModule;
  // Linked into an executable (the unit tests): DllMain never ran, so take
  // the module that contains this very function.
  HMODULE h = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&ModuleHandle), &h))
    return nullptr;
  return h;
}

std::wstring ModulePath() {
  HMODULE h = ModuleHandle();
  if (!h) return std::wstring();
  // Long paths are allowed: grow the buffer until the name fits.
  for (DWORD size = MAX_PATH; size <= 32768 * 2; size *= 2) {
    std::vector<wchar_t> buf(size);
    DWORD n = GetModuleFileNameW(h, buf.data(), size);
    if (n == 0) return std::wstring();
    if (n < size) return std::wstring(buf.data(), n);
  }
  return std::wstring();
}

}  // namespace platform
