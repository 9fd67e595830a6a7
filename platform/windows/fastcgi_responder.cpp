// Windows answers CGI requests only: the FastCGI reader of platform/posix/ is not part of its build.
#include "platform/platform.h"

namespace orvane::platform {

bool StartedAsFastCgiResponder() { return false; }

bool CanServeFastCgi() { return false; }

int ServeFastCgi(const std::string&, long, long, const std::function<void()>&) {
  WriteStderr("orvanegate: this build answers CGI requests only\n");
  return 1;
}

}  // namespace orvane::platform
