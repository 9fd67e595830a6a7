// Files and directories by name.

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/shift_jis.h"
#include "platform/windows/windows_support.h"

namespace orvane::platform {

using windows::InjectedError;
using windows::IsUsablePath;

namespace {

DWORD Attributes(const std::string& path) {
  return IsUsablePath(path) ? GetFileAttributesA(path.c_str()) : INVALID_FILE_ATTRIBUTES;
}

bool IsSeparator(char byte) { return byte == '\\' || byte == '/'; }

// Position of the last separator that is not the second byte of a double-byte
// character; npos when there is none.
std::string::size_type LastSeparator(const std::string& path) {
  std::string::size_type last = std::string::npos;
  for (std::size_t i = 0; i < path.size(); i += CharacterLength(path, i)) {
    if (IsSeparator(path[i])) last = i;
  }
  return last;
}

// The path without separators at its end (second bytes of double-byte characters kept).
std::string WithoutTrailingSeparators(std::string path) {
  while (!path.empty()) {
    const std::string::size_type last = LastSeparator(path);
    if (last == std::string::npos || last + 1 != path.size()) break;
    path.pop_back();
  }
  return path;
}

}  // namespace

bool FileExists(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDirectories(const std::string& path) {
  if (!IsUsablePath(path)) return false;
  if (DirectoryExists(path)) return true;
  const std::string trimmed = WithoutTrailingSeparators(path);
  // A drive ("C:") or the root itself: nothing to create.
  if (trimmed.empty() || trimmed.back() == ':') return DirectoryExists(path);
  const std::string::size_type separator = LastSeparator(trimmed);
  if (separator != std::string::npos && separator > 0) {
    CreateDirectories(trimmed.substr(0, separator));
  }
  if (InjectedError(FileOperation::MakeDirectory, trimmed) != 0) return false;
  if (CreateDirectoryA(trimmed.c_str(), nullptr)) return true;
  return DirectoryExists(trimmed);  // another process may have made it meanwhile
}

// Windows replaces no file that is open, however it is shared. Readers hold a file only
// while they read it, so the replacement first waits a moment for them to let go. An
// open file that shares deletion (every open of File::Open does) may be renamed, so a
// target held longer is moved aside under a name of its own, the new file takes its name
// (leaving a moment without it), and the old one is deleted, which completes when its
// last holder closes it.
int RenameFile(const std::string& from, const std::string& to) {
  if (!IsUsablePath(from) || !IsUsablePath(to)) return ERROR_INVALID_NAME;
  if (const DWORD injected = InjectedError(FileOperation::Rename, to)) {
    return static_cast<int>(injected);
  }
  constexpr int kReaderWaitMilliseconds = 2000;
  constexpr int kReaderPollMilliseconds = 2;
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  DWORD code = 0;
  for (int waited = 0;; waited += kReaderPollMilliseconds) {
    if (MoveFileExA(from.c_str(), to.c_str(), flags)) return 0;
    code = GetLastError();
    if (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) {
      return static_cast<int>(code);
    }
    if (waited >= kReaderWaitMilliseconds) break;
    Sleep(kReaderPollMilliseconds);
  }
  char unique[32];
  std::snprintf(unique, sizeof unique, ".%016llx.old", static_cast<unsigned long long>(ClockSeed()));
  const std::string aside = to + unique;
  if (!MoveFileExA(to.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) return static_cast<int>(code);
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
    const DWORD failure = GetLastError();
    MoveFileExA(aside.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
    return static_cast<int>(failure);
  }
  DeleteFileA(aside.c_str());
  return 0;
}

bool CanReplaceOpenFiles() { return false; }

// A name looked up again finds the file that replaced the one a handle was opened on;
// a local volume has no stale handles, but a name that vanished for a moment is the same.
bool IsStaleFileError(int error_code) {
  return error_code == ERROR_FILE_NOT_FOUND || error_code == ERROR_PATH_NOT_FOUND;
}

bool IsNameTooLongError(int error_code) { return error_code == ERROR_FILENAME_EXCED_RANGE; }

bool RemoveFile(const std::string& path) {
  if (!IsUsablePath(path) || InjectedError(FileOperation::Unlink, path) != 0) return false;
  return DeleteFileA(path.c_str());
}

// A deleted file that is still open keeps its name, which can neither be opened nor
// created anew until the last handle closes. Moved aside first, the file frees the name
// at once and is deleted under the other name, completing when its holder closes it. The
// aside names are few and fixed, so that one left by a process that ended between the two
// steps is found and cleared by the next holder of the path; a name still taken by an
// earlier removal in progress is passed over.
namespace {

constexpr int kAsideNames = 8;

std::string AsideName(const std::string& path, int n) {
  return path + ".gone" + std::to_string(n);
}

}  // namespace

bool RemoveHeldFile(const std::string& path) {
  if (!IsUsablePath(path) || InjectedError(FileOperation::Unlink, path) != 0) return false;
  for (int n = 0; n < kAsideNames; ++n) {
    const std::string aside = AsideName(path, n);
    if (MoveFileExA(path.c_str(), aside.c_str(), 0)) {
      DeleteFileA(aside.c_str());
      return true;
    }
    const DWORD code = GetLastError();
    if (code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS && code != ERROR_ACCESS_DENIED) {
      break;
    }
  }
  return DeleteFileA(path.c_str());
}

void ClearHeldFileRemovals(const std::string& path) {
  if (!IsUsablePath(path)) return;
  for (int n = 0; n < kAsideNames; ++n) DeleteFileA(AsideName(path, n).c_str());
}

// A volume without hard links (FAT) gets the file moved to the new name instead, which
// also fails when the name is taken; callers remove the first name afterwards anyway.
int CreateHardLink(const std::string& existing, const std::string& new_name) {
  if (!IsUsablePath(existing) || !IsUsablePath(new_name)) return ERROR_INVALID_NAME;
  // The ANSI calls take names shorter than MAX_PATH; a longer one is reported by some
  // systems as a file not found, which would hide why the name cannot be made.
  if (new_name.size() >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  if (const DWORD injected = InjectedError(FileOperation::Link, new_name)) {
    return static_cast<int>(injected);
  }
  if (CreateHardLinkA(new_name.c_str(), existing.c_str(), nullptr)) return 0;
  DWORD code = GetLastError();
  if (code == ERROR_INVALID_FUNCTION || code == ERROR_NOT_SUPPORTED) {
    if (MoveFileExA(existing.c_str(), new_name.c_str(), MOVEFILE_WRITE_THROUGH)) return 0;
    code = GetLastError();
  }
  return static_cast<int>(code == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : code);
}

}  // namespace orvane::platform
