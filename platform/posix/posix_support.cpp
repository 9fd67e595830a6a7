// Shared pieces of the POSIX platform files.
#include "platform/posix/posix_support.h"

#include <cstring>

#include "platform/platform.h"

namespace orvane::platform::posix {

bool IsUsablePath(const std::string& path) {
  return !path.empty() && path.find('\0') == std::string::npos;
}

std::string SystemErrorText(int code) {
  if (code == kSharingViolation) {
    return "The file is in use by another process.";
  }
  char buffer[256];
  return strerror_r(code, buffer, sizeof buffer);
}

}  // namespace orvane::platform::posix
