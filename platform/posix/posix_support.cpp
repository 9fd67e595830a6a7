// Shared pieces of the POSIX platform files.
#include "platform/posix/posix_support.h"

#include <cerrno>
#include <cstring>

#include "platform/file_errors.h"
#include "platform/platform.h"

namespace orvane::platform::posix {

bool IsUsablePath(const std::string& path) {
  return !path.empty() && path.find('\0') == std::string::npos;
}

int InjectedError(FileOperation operation, const std::string& path) {
  switch (CheckFault(operation, path)) {
    case InjectedFault::None:
      return 0;
    case InjectedFault::DiskFull:
      return ENOSPC;
    case InjectedFault::NotFound:
      return ENOENT;
    case InjectedFault::AccessDenied:
      return EACCES;
  }
  return 0;
}

}  // namespace orvane::platform::posix

namespace orvane::platform {

std::string ErrorCodeText(int code) {
  if (code == kHeldByAnotherProcess) {
    return "The file is in use by another process.";
  }
  char buffer[256];
  return strerror_r(code, buffer, sizeof buffer);
}

}  // namespace orvane::platform
