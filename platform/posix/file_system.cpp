// Files and directories by name.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_support.h"

namespace orvane::platform {

using posix::InjectedError;
using posix::IsUsablePath;

bool FileExists(const std::string& path) {
  struct stat info {};
  return IsUsablePath(path) && stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat info {};
  return IsUsablePath(path) && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

Outcome CreateDirectories(const std::string& path) {
  if (!IsUsablePath(path)) return {EINVAL};
  if (DirectoryExists(path)) return {};
  std::string::size_type end = path.find_last_not_of('/');
  if (end == std::string::npos) return {DirectoryExists("/") ? 0 : ENOENT};
  const std::string trimmed = path.substr(0, end + 1);
  const std::string::size_type slash = trimmed.find_last_of('/');
  if (slash != std::string::npos && slash > 0) CreateDirectories(trimmed.substr(0, slash));
  if (const int injected = InjectedError(FileOperation::MakeDirectory, trimmed)) return {injected};
  if (mkdir(trimmed.c_str(), 0777) == 0) return {};
  const int error = errno;
  return {DirectoryExists(trimmed) ? 0 : error};  // another process may have made it meanwhile
}

Outcome RenameFile(const std::string& from, const std::string& to) {
  if (!IsUsablePath(from) || !IsUsablePath(to)) return {EINVAL};
  if (const int injected = InjectedError(FileOperation::Rename, to)) return {injected};
  return {std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno};
}

bool CanReplaceOpenFiles() { return true; }

Outcome RemoveFile(const std::string& path) {
  if (!IsUsablePath(path)) return {EINVAL};
  if (const int injected = InjectedError(FileOperation::Unlink, path)) return {injected};
  return {::unlink(path.c_str()) == 0 ? 0 : errno};
}

// Unlinking frees the name at once, whoever holds the file.
Outcome RemoveHeldFile(const std::string& path) { return RemoveFile(path); }

// Unlinking leaves nothing beside the path.
void ClearHeldFileRemovals(const std::string&) {}

Outcome CreateHardLink(const std::string& existing, const std::string& new_name) {
  if (!IsUsablePath(existing) || !IsUsablePath(new_name)) return {EINVAL};
  if (const int injected = InjectedError(FileOperation::Link, new_name)) return {injected};
  return {::link(existing.c_str(), new_name.c_str()) == 0 ? 0 : errno};
}

int FileExistsErrorCode() { return EEXIST; }

bool IsStaleFileError(int error_code) { return error_code == ESTALE || error_code == ENOENT; }

bool IsNameTooLongError(int error_code) { return error_code == ENAMETOOLONG; }

}  // namespace orvane::platform
