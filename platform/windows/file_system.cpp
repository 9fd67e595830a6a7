// Files and directories by name.

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/shift_jis.h"
#include "platform/windows/windows_support.h"

namespace orvane::platform {

using windows::InjectedError;
using windows::IsUsablePath;
using windows::SystemPath;

namespace {

DWORD Attributes(const std::string& path) {
  const std::optional<std::wstring> wide = SystemPath(path);
  return wide ? GetFileAttributesW(wide->c_str()) : INVALID_FILE_ATTRIBUTES;
}

// Each call of the file functions below names its paths through SystemPath; a path that
// has no system form is refused before any of them is called.
bool Move(const std::wstring& from, const std::wstring& to, DWORD flags) {
  return MoveFileExW(from.c_str(), to.c_str(), flags);
}

bool Delete(const std::string& path) {
  const std::optional<std::wstring> wide = SystemPath(path);
  return wide && DeleteFileW(wide->c_str());
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

Outcome CreateDirectories(const std::string& path) {
  if (!IsUsablePath(path)) return {ERROR_INVALID_NAME};
  if (DirectoryExists(path)) return {};
  const std::string trimmed = WithoutTrailingSeparators(path);
  // A drive ("C:") or the root itself: nothing to create.
  if (trimmed.empty() || trimmed.back() == ':') {
    return {DirectoryExists(path) ? 0 : ERROR_PATH_NOT_FOUND};
  }
  const std::string::size_type separator = LastSeparator(trimmed);
  if (separator != std::string::npos && separator > 0) {
    CreateDirectories(trimmed.substr(0, separator));
  }
  if (const DWORD injected = InjectedError(FileOperation::MakeDirectory, trimmed)) {
    return {static_cast<int>(injected)};
  }
  const std::optional<std::wstring> wide = SystemPath(trimmed);
  if (!wide) return {static_cast<int>(windows::UnusablePathError(trimmed))};
  if (CreateDirectoryW(wide->c_str(), nullptr)) return {};
  const DWORD code = GetLastError();
  // Another process may have made it meanwhile.
  return {DirectoryExists(trimmed) ? 0 : static_cast<int>(code)};
}

// Windows replaces no file that is open, however it is shared. Readers hold a file only
// while they read it, so the replacement first waits a moment for them to let go. An
// open file that shares deletion (every open of File::Open does) may be renamed, so a
// target held longer is moved aside under a name of its own, the new file takes its name
// (leaving a moment without it), and the old one is deleted, which completes when its
// last holder closes it.
Outcome RenameFile(const std::string& from, const std::string& to) {
  const std::optional<std::wstring> wide_from = SystemPath(from), wide_to = SystemPath(to);
  if (!wide_from) return {static_cast<int>(windows::UnusablePathError(from))};
  if (!wide_to) return {static_cast<int>(windows::UnusablePathError(to))};
  if (const DWORD injected = InjectedError(FileOperation::Rename, to)) {
    return {static_cast<int>(injected)};
  }
  constexpr int kReaderWaitMilliseconds = 2000;
  constexpr int kReaderPollMilliseconds = 2;
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  DWORD code = 0;
  for (int waited = 0;; waited += kReaderPollMilliseconds) {
    if (Move(*wide_from, *wide_to, flags)) return {};
    code = GetLastError();
    if (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) {
      return {static_cast<int>(code)};
    }
    if (waited >= kReaderWaitMilliseconds) break;
    Sleep(kReaderPollMilliseconds);
  }
  char unique[32];
  std::snprintf(unique, sizeof unique, ".%016llx.old",
                static_cast<unsigned long long>(ClockSeed()));
  // The suffix is ASCII: the aside name converts whenever the target's does.
  const std::wstring aside = *wide_to + std::wstring(unique, unique + std::strlen(unique));
  if (!Move(*wide_to, aside, MOVEFILE_WRITE_THROUGH)) return {static_cast<int>(code)};
  if (!Move(*wide_from, *wide_to, MOVEFILE_WRITE_THROUGH)) {
    const DWORD failure = GetLastError();
    Move(aside, *wide_to, MOVEFILE_WRITE_THROUGH);
    return {static_cast<int>(failure)};
  }
  DeleteFileW(aside.c_str());
  return {};
}

bool CanReplaceOpenFiles() { return false; }

// A name looked up again finds the file that replaced the one a handle was opened on;
// a local volume has no stale handles, but a name that vanished for a moment is the same.
bool IsStaleFileError(int error_code) {
  return error_code == ERROR_FILE_NOT_FOUND || error_code == ERROR_PATH_NOT_FOUND;
}

bool IsNameTooLongError(int error_code) { return error_code == ERROR_FILENAME_EXCED_RANGE; }

Outcome RemoveFile(const std::string& path) {
  if (!IsUsablePath(path)) return {ERROR_INVALID_NAME};
  if (const DWORD injected = InjectedError(FileOperation::Unlink, path)) {
    return {static_cast<int>(injected)};
  }
  const std::optional<std::wstring> wide = SystemPath(path);
  if (!wide) return {static_cast<int>(windows::UnusablePathError(path))};
  return {DeleteFileW(wide->c_str()) ? 0 : static_cast<int>(GetLastError())};
}

// A deleted file that is still open keeps its name, which can neither be opened nor
// created anew until the last handle closes. Moved aside first, the file frees the name
// at once and is deleted under the other name, completing when its holder closes it. The
// aside names are few and fixed, so that one left by a process that ended between the two
// steps is found and cleared by the next holder of the path; a name still taken by an
// earlier removal in progress is passed over.
namespace {

constexpr int kAsideNames = 8;

std::string AsideName(const std::string& path, int n) { return path + ".gone" + std::to_string(n); }

}  // namespace

Outcome RemoveHeldFile(const std::string& path) {
  if (!IsUsablePath(path)) return {ERROR_INVALID_NAME};
  if (const DWORD injected = InjectedError(FileOperation::Unlink, path)) {
    return {static_cast<int>(injected)};
  }
  const std::optional<std::wstring> wide = SystemPath(path);
  if (!wide) return {static_cast<int>(windows::UnusablePathError(path))};
  for (int n = 0; n < kAsideNames; ++n) {
    const std::optional<std::wstring> aside = SystemPath(AsideName(path, n));
    if (aside && Move(*wide, *aside, 0)) {
      DeleteFileW(aside->c_str());
      return {};
    }
    const DWORD code = GetLastError();
    if (code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS && code != ERROR_ACCESS_DENIED) {
      break;
    }
  }
  return {DeleteFileW(wide->c_str()) ? 0 : static_cast<int>(GetLastError())};
}

void ClearHeldFileRemovals(const std::string& path) {
  if (!IsUsablePath(path)) return;
  for (int n = 0; n < kAsideNames; ++n) Delete(AsideName(path, n));
}

namespace {

// Every Windows file system stops a name at 255 UTF-16 units; some report a longer one
// as a file not found, which would hide why the name cannot be made.
bool LastNameIsTooLong(const std::wstring& path) {
  constexpr std::size_t kLongestName = 255;
  const std::size_t separator = path.find_last_of(L"\\/");
  return path.size() - (separator == std::wstring::npos ? 0 : separator + 1) > kLongestName;
}

}  // namespace

// A volume without hard links (FAT) gets the file moved to the new name instead, which
// also fails when the name is taken; callers remove the first name afterwards anyway.
Outcome CreateHardLink(const std::string& existing, const std::string& new_name) {
  const std::optional<std::wstring> wide_existing = SystemPath(existing);
  const std::optional<std::wstring> wide_new = SystemPath(new_name);
  if (!wide_existing) return {static_cast<int>(windows::UnusablePathError(existing))};
  if (!wide_new) return {static_cast<int>(windows::UnusablePathError(new_name))};
  if (LastNameIsTooLong(*wide_new)) return {ERROR_FILENAME_EXCED_RANGE};
  if (const DWORD injected = InjectedError(FileOperation::Link, new_name)) {
    return {static_cast<int>(injected)};
  }
  if (CreateHardLinkW(wide_new->c_str(), wide_existing->c_str(), nullptr)) return {};
  DWORD code = GetLastError();
  if (code == ERROR_INVALID_FUNCTION || code == ERROR_NOT_SUPPORTED) {
    if (Move(*wide_existing, *wide_new, MOVEFILE_WRITE_THROUGH)) return {};
    code = GetLastError();
  }
  return {static_cast<int>(code == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : code)};
}

}  // namespace orvane::platform
