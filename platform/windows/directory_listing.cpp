// The names in a directory.
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/windows/windows_support.h"

namespace orvane::platform {
namespace {

// Calls the visitor with each name of the directory but "." and ".."; false when the
// directory cannot be listed whole.
template <typename Visitor>
bool VisitNames(const std::string& directory, Visitor visit) {
  if (!DirectoryExists(directory)) return false;
  const std::optional<std::wstring> path = windows::SystemPath(directory);
  if (!path) return false;
  std::wstring pattern = *path;
  if (pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW entry{};
  HANDLE search = FindFirstFileW(pattern.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) {
    // An empty directory has no entry at all on some volumes; anything else failed.
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  do {
    const std::wstring_view name = entry.cFileName;
    if (name != L"." && name != L"..") visit(name);
  } while (FindNextFileW(search, &entry));
  const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(search);
  return complete;
}

}  // namespace

std::optional<std::vector<std::string>> ListDirectory(const std::string& directory) {
  std::vector<std::string> names;
  const bool listed = VisitNames(directory, [&names](std::wstring_view name) {
    if (auto spelled = windows::ShiftJisFromWide(name)) names.push_back(std::move(*spelled));
  });
  if (!listed) return std::nullopt;
  return names;
}

std::vector<std::string> UnspellableNames(const std::string& directory) {
  std::vector<std::string> names;
  VisitNames(directory, [&names](std::wstring_view name) {
    if (!windows::ShiftJisFromWide(name)) names.push_back(windows::ShiftJisShown(name));
  });
  return names;
}

}  // namespace orvane::platform
