// Windows path primitives: thin wrappers over the Win32 calls.
// Links with shlwapi (PathIsRelativeA) and mpr (WNetGetConnectionA).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <shlwapi.h>
#include <windows.h>
#include <winnetwk.h>

#include <atomic>
#include <vector>

#include "Paths.h"

namespace platform {

namespace {

std::atomic<DriveRemoteNameHook> g_RemoteNameHook{nullptr};

// The calls that fill a path buffer are tried with MAX_PATH (260) characters
// first. When the answer does not fit they return the size they need,
// terminator included; the call is then repeated once with that size.
// Success returns the length without the terminator, always below the size.
template <class Call>
bool CallWithPathBuffer(Call call, std::string* pOut) {
  std::vector<char> buf(MAX_PATH);
  DWORD n = call(buf.data(), DWORD(buf.size()));
  if (n == 0) return false;
  if (n >= buf.size()) {
    buf.assign(size_t(n), 0);
    n = call(buf.data(), DWORD(buf.size()));
    if (n == 0 || n >= buf.size()) return false;
  }
  pOut->assign(buf.data(), n);
  return true;
}

}  // namespace

char NativeSeparator() { return '\\'; }

// Every Windows version the component runs on exports GetLongPathNameA from
// KERNEL32, so it is called directly rather than looked up at run time.
bool LongPathName(const std::string& path, std::string* pOut) {
  if (path.empty()) return false;
  return CallWithPathBuffer(
      [&](char* buf, DWORD size) { return GetLongPathNameA(path.c_str(), buf, size); }, pOut);
}

bool ShortPathName(const std::string& path, std::string* pOut) {
  if (path.empty()) return false;
  return CallWithPathBuffer(
      [&](char* buf, DWORD size) { return GetShortPathNameA(path.c_str(), buf, size); }, pOut);
}

bool FullPathName(const std::string& path, std::string* pOut) {
  if (path.empty()) return false;
  return CallWithPathBuffer(
      [&](char* buf, DWORD size) { return GetFullPathNameA(path.c_str(), size, buf, nullptr); },
      pOut);
}

bool PathAttributes(const std::string& path, bool* pbDirectory) {
  if (path.empty()) return false;
  DWORD attr = GetFileAttributesA(path.c_str());
  if (attr == INVALID_FILE_ATTRIBUTES) return false;
  *pbDirectory = (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

bool CurrentDirectory(std::string* pOut) {
  return CallWithPathBuffer([](char* buf, DWORD size) { return GetCurrentDirectoryA(size, buf); },
                            pOut);
}

bool IsRelativePath(const std::string& path) { return PathIsRelativeA(path.c_str()) != FALSE; }

bool DriveRemoteName(const std::string& drive, std::string* pOut) {
  if (DriveRemoteNameHook hook = g_RemoteNameHook.load()) return hook(drive, pOut);
  char remote[MAX_PATH];
  DWORD size = MAX_PATH;
  if (WNetGetConnectionA(drive.c_str(), remote, &size) != NO_ERROR) return false;
  *pOut = remote;
  return true;
}

void SetDriveRemoteNameHook(DriveRemoteNameHook hook) { g_RemoteNameHook.store(hook); }

bool MakeDirectory(const std::string& path) {
  return !path.empty() && CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

}  // namespace platform
