// The Windows module that holds the component: the DLL a host loaded, or the
// test executable the component is linked into. Windows build only.
#ifndef MIRL_PLATFORM_WINDOWSMODULE_H
#define MIRL_PLATFORM_WINDOWSMODULE_H

#include <string>

#include "Platform.h"

namespace platform {

// The module's handle: captured by DllMain in the DLL, found from the code's
// own address when the component is linked into an executable.
HMODULE ModuleHandle();
// The module's full path (empty when it cannot be found).
std::wstring ModulePath();
// Drops the cached type library; called when the DLL is unloaded.
void ReleaseTypeInfoCache();

}  // namespace platform

#endif
