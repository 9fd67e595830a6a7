// The names in a directory.
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/windows/windows_support.h"

namespace orvane::platform {

std::optional<std::vector<std::string>> ListDirectory(const std::string& directory) {
  if (!windows::IsUsablePath(directory) || !DirectoryExists(directory)) return std::nullopt;
  const std::string pattern = windows::WithTrailingSeparator(directory) + '*';
  WIN32_FIND_DATAA entry{};
  HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
  std::vector<std::string> names;
  if (search == INVALID_HANDLE_VALUE) {
    // An empty directory has no entry at all on some volumes; anything else failed.
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return names;
    return std::nullopt;
  }
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &entry));
  const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(search);
  if (!complete) return std::nullopt;
  return names;
}

}  // namespace orvane::platform
