// Waiting for a file that another process holds, with a deadline, on Windows: the open
// is tried again after short pauses that grow, since a share mode offers no wait.
#include <algorithm>

#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane::platform {

File File::OpenWaitingAtMost(const std::string& path, OpenMode mode, int milliseconds) {
  constexpr int kLongestPause = 16;
  int waited = 0;
  int pause = 1;
  for (;;) {
    try {
      return Open(path, mode, LockWait::Fail);
    } catch (const EOSFileError& error) {
      if (!error.IsSharingViolation() || waited >= milliseconds) throw;
    }
    const int step = std::min(pause, milliseconds - waited);
    SleepMilliseconds(step);
    waited += step;
    pause = std::min(pause * 2, kLongestPause);
  }
}

}  // namespace orvane::platform
