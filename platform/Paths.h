// File-system and network primitives for source-path resolution and for
// extracting embedded sources. Each returns false when the operating system
// reports a failure; the callers decide what a failure means.
//
// Windows (PathsWindows.cpp) calls the Win32 functions named below. Linux
// (PathsLinux.cpp) has no drive letters, no 8.3 names and no mapped network
// drives; there '/' and '\' both separate path components, so that paths
// written on the compiling Windows machine and paths of this machine can be
// compared, and a path that begins with a drive letter and ':' counts as
// absolute but names nothing on this machine.
#ifndef MIRL_PLATFORM_PATHS_H
#define MIRL_PLATFORM_PATHS_H

#include <string>

namespace platform {

// The separator used when the component composes a path of a file it creates
// itself: '\' on Windows, '/' on Linux.
char NativeSeparator();

// The long form of an existing path.
//   Windows: GetLongPathNameA (fails when the path does not exist).
//   Linux:   a file has one name only; the long form is the path itself.
bool LongPathName(const std::string& path, std::string* pOut);

// The short (8.3) form of an existing path.
//   Windows: GetShortPathNameA (fails when the path does not exist).
//   Linux:   no short names; the short form is the path itself.
bool ShortPathName(const std::string& path, std::string* pOut);

// The absolute form of a path; does not require the path to exist.
//   Windows: GetFullPathNameA (resolved against the current directory and the
//            drive's own current directory; '/' becomes '\').
//   Linux:   a relative path is resolved against the current directory; "."
//            and ".." components are folded; the result uses '\' between
//            components, as on Windows, so that two spellings of one path
//            give the same text. A trailing separator is kept.
bool FullPathName(const std::string& path, std::string* pOut);

// Whether a path names an existing file or directory, and which.
//   Windows: GetFileAttributesA.
//   Linux:   stat(); a path with a drive letter names nothing.
bool PathAttributes(const std::string& path, bool* pbDirectory);

// The process's current directory.
//   Windows: GetCurrentDirectoryA.  Linux: getcwd().
bool CurrentDirectory(std::string* pOut);

// Whether a path is relative.
//   Windows: PathIsRelativeA.
//   Linux:   relative unless it begins with '/' or '\', or with a drive
//            letter and ':'.
bool IsRelativePath(const std::string& path);

// The remote name (\\server\share) of a drive ("X:") mapped to a network share.
//   Windows: WNetGetConnectionA.  Linux: there are no mapped drives; only a
//   test hook can answer.
bool DriveRemoteName(const std::string& drive, std::string* pOut);

// Creates one directory (its parent must exist). Fails when it exists.
//   Windows: CreateDirectoryA.  Linux: mkdir() with mode 0777 (less umask);
//   the path is taken literally, as the file streams that write into the
//   directory take it.
bool MakeDirectory(const std::string& path);

// Tests only: answers DriveRemoteName in place of the operating system
// (nullptr restores it), so that the drive-letter rule can be tested on
// machines without network drives.
typedef bool (*DriveRemoteNameHook)(const std::string& drive, std::string* pOut);
void SetDriveRemoteNameHook(DriveRemoteNameHook hook);

}  // namespace platform

#endif  // MIRL_PLATFORM_PATHS_H
