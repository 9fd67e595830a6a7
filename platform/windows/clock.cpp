// The local clock, sleeping and a seed for random numbers.

#include <cstdint>

#include "platform/platform.h"
#include "platform/windows/windows_support.h"

namespace orvane::platform {

LocalDateTime LocalNow() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return LocalDateTime{now.wYear, now.wMonth,  now.wDay,         now.wHour,
                       now.wMinute, now.wSecond, now.wMilliseconds};
}

void SleepMilliseconds(int milliseconds) {
  if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
}

std::uint64_t ClockSeed() {
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t wall = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return wall ^ static_cast<std::uint64_t>(counter.QuadPart) ^
         (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32);
}

}  // namespace orvane::platform
