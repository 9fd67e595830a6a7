// The local clock, sleeping and a seed for random numbers.

#include <cstdint>

#include "platform/platform.h"
#include "platform/windows/windows_support.h"

namespace orvane::platform {

LocalDateTime LocalNow() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return LocalDateTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                       now.wMinute, now.wSecond, now.wMilliseconds};
}

void SleepMilliseconds(int milliseconds) {
  if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
}

// FILETIME counts 100 ns steps from 1601-01-01; 1970-01-01 is this many of them later.
constexpr std::uint64_t kUnixEpochInFileTime = 116444736000000000ULL;

std::int64_t WallClockSeconds() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t wall =
      (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<std::int64_t>((wall - kUnixEpochInFileTime) / 10000000ULL);
}

std::uint64_t ClockSeed() {
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t wall =
      (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return wall ^ static_cast<std::uint64_t>(counter.QuadPart) ^
         (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32);
}

}  // namespace orvane::platform
