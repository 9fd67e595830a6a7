// The local clock, sleeping and a seed for random numbers.
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/platform.h"

namespace orvane::platform {
LocalDateTime LocalNow() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local {};
  localtime_r(&now.tv_sec, &local);
  return LocalDateTime{local.tm_year + 1900,
                       local.tm_mon + 1,
                       local.tm_mday,
                       local.tm_hour,
                       local.tm_min,
                       local.tm_sec,
                       static_cast<int>(now.tv_nsec / 1000000)};
}

void SleepMilliseconds(int milliseconds) {
  if (milliseconds <= 0) return;
  struct timespec wait {
    milliseconds / 1000, (milliseconds % 1000) * 1000000L
  };
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

std::int64_t WallClockSeconds() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec);
}

std::int64_t MonotonicMilliseconds() {
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::uint64_t ClockSeed() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000ULL ^
         static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(getpid()) << 32);
}

}  // namespace orvane::platform
