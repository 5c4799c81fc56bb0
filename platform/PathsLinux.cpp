// Linux path primitives. Paths in object files come from Windows machines,
// so '\' separates components here as well as '/', and a leading drive
// letter makes a path absolute without naming anything on this machine.
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

#include "Paths.h"

namespace platform {

namespace {

bool IsSep(char c) { return c == '/' || c == '\\'; }

bool HasDrive(const std::string& p) {
  return p.size() >= 2 && p[1] == ':' &&
         ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

bool IsUnc(const std::string& p) { return p.size() >= 2 && IsSep(p[0]) && IsSep(p[1]); }

std::atomic<DriveRemoteNameHook> g_RemoteNameHook{nullptr};

}  // namespace

char NativeSeparator() { return '/'; }

bool LongPathName(const std::string& path, std::string* pOut) {
  if (path.empty()) return false;
  *pOut = path;
  return true;
}

bool ShortPathName(const std::string& path, std::string* pOut) {
  if (path.empty()) return false;
  *pOut = path;
  return true;
}

bool CurrentDirectory(std::string* pOut) {
  std::vector<char> buf(260);
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (getcwd(buf.data(), buf.size())) {
      *pOut = buf.data();
      return true;
    }
    if (errno != ERANGE) return false;
    buf.resize(buf.size() * 4);
  }
  return false;
}

bool FullPathName(const std::string& path, std::string* pOut) {
  if (path.empty()) return false;
  std::string root;
  std::string rest;
  size_t keep = 0;  // components ".." cannot remove (server and share)
  if (IsUnc(path)) {
    root = "\\\\";
    rest = path.substr(2);
    keep = 2;
  } else if (HasDrive(path)) {
    root = path.substr(0, 2) + "\\";
    rest = path.substr(2);
  } else if (IsSep(path[0])) {
    root = "\\";
    rest = path;
  } else {
    std::string cwd;
    if (!CurrentDirectory(&cwd)) return false;
    root = "\\";
    rest = cwd + "/" + path;
  }
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= rest.size()) {
    size_t j = i;
    while (j < rest.size() && !IsSep(rest[j])) ++j;
    std::string part = rest.substr(i, j - i);
    if (part == "..") {
      if (parts.size() > keep) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out = root;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k) out += '\\';
    out += parts[k];
  }
  // As on Windows, a trailing separator stays (it marks a directory).
  if (IsSep(path.back()) && !parts.empty()) out += '\\';
  *pOut = out;
  return true;
}

bool PathAttributes(const std::string& path, bool* pbDirectory) {
  if (path.empty() || HasDrive(path) || IsUnc(path)) return false;
  std::string native = path;
  for (char& c : native)
    if (c == '\\') c = '/';
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return false;
  *pbDirectory = S_ISDIR(st.st_mode);
  return true;
}

bool IsRelativePath(const std::string& path) {
  if (path.empty()) return true;
  return !IsSep(path[0]) && !HasDrive(path);
}

bool DriveRemoteName(const std::string& drive, std::string* pOut) {
  if (DriveRemoteNameHook hook = g_RemoteNameHook.load()) return hook(drive, pOut);
  return false;
}

void SetDriveRemoteNameHook(DriveRemoteNameHook hook) { g_RemoteNameHook.store(hook); }

bool MakeDirectory(const std::string& path) {
  return !path.empty() && mkdir(path.c_str(), 0777) == 0;
}

}  // namespace platform
