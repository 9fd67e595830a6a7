// A clock for deadlines on Windows: milliseconds since the system started.
#include <windows.h>

#include <cstdint>

#include "platform/platform.h"

namespace orvane::platform {

std::int64_t MonotonicMilliseconds() { return static_cast<std::int64_t>(GetTickCount64()); }

}  // namespace orvane::platform
