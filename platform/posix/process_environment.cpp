// The process: its environment, its executable and its current directory.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/posix/request_channels.h"

namespace orvane::platform {
char PathDelimiter() { return '/'; }

std::optional<std::string> GetEnvironment(const std::string& name) {
  if (const posix::RequestChannels* request = posix::ActiveRequestChannels()) {
    return request->Parameter(name);
  }
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

namespace {

std::string ReadExecutablePath() {
  std::string path(4096, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return std::string();
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

std::string ExecutablePath() {
  static const std::string path = ReadExecutablePath();
  return path;
}

std::string FullPath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char* cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) return path;
  std::string full(cwd);
  std::free(cwd);
  if (full.empty() || full.back() != '/') full += '/';
  return full + path;
}

}  // namespace orvane::platform
