// The names in a directory.
#include <dirent.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_support.h"

namespace orvane::platform {

std::optional<std::vector<std::string>> ListDirectory(const std::string& directory) {
  if (!posix::IsUsablePath(directory)) return std::nullopt;
  std::unique_ptr<DIR, int (*)(DIR*)> handle(opendir(directory.c_str()), closedir);
  if (!handle) return std::nullopt;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(handle.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  return names;
}

}  // namespace orvane::platform
