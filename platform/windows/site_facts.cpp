// What the site check asks of the system, on Windows: account rights are kept in access
// control lists that this program does not evaluate, so they answer Unknown unless a
// file's attributes already tell.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/shift_jis.h"

namespace orvane::platform {
namespace {

DWORD Attributes(const std::string& path) {
  if (path.find('\0') != std::string::npos) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesA(path.c_str());
}

// True when the last character is a single-byte delimiter, not a double-byte character's
// second byte 0x5C.
bool EndsWithDelimiter(const std::string& path) {
  std::size_t last = 0;
  for (std::size_t i = 0; i < path.size(); i += CharacterLength(path, i)) last = i;
  return !path.empty() && last == path.size() - 1 && (path.back() == '\\' || path.back() == '/');
}

}  // namespace

Answer MayCreateFilesIn(const std::string& directory) {
  const DWORD attributes = Attributes(directory);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return Answer::No;
  }
  return Answer::Unknown;
}

Answer MayRead(const std::string& path) {
  return Attributes(path) == INVALID_FILE_ATTRIBUTES ? Answer::No : Answer::Unknown;
}

Answer MayWrite(const std::string& path) {
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY)) {
    return Answer::No;
  }
  return Answer::Unknown;
}

Answer OpenToOtherAccounts(const std::string&) { return Answer::Unknown; }

std::string AccountName() {
  char name[256 + 1];
  DWORD size = sizeof name;
  return GetUserNameA(name, &size) ? std::string(name) : std::string("unknown");
}

std::optional<std::vector<std::string>> ListDirectory(const std::string& directory) {
  if (directory.find('\0') != std::string::npos) return std::nullopt;
  std::string pattern = directory;
  if (!EndsWithDelimiter(pattern)) pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<std::string> names;
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return names;
}

}  // namespace orvane::platform
