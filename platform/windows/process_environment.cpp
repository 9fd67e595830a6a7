// The process: its environment, its executable and its current directory.

#include <string>

#include "platform/platform.h"
#include "platform/windows/windows_support.h"

namespace orvane::platform {

char PathDelimiter() { return '\\'; }

// Variable names match ignoring letter case, the system's own rule.
std::optional<std::string> GetEnvironment(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return std::nullopt;
  std::string value(256, '\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableA(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    // Too small a buffer gives the size needed, terminating zero included.
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);
  }
}

std::string ExecutablePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::string();
    // A cut-off path fills the whole buffer.
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::string FullPath(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return path;
  std::string full(MAX_PATH, '\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return path;
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);
  }
}

}  // namespace orvane::platform
