// Large buffers as anonymous mappings aligned for the system's large pages.
#include <sys/mman.h>

#include <cstdint>

#include "platform/platform.h"

namespace orvane::platform {
namespace {

// The large page size of x86-64 and of most 64-bit ARM systems. Where the system has
// other sizes or none, the advice is ignored and the buffer keeps its small pages.
constexpr std::size_t kLargePage = std::size_t{2} << 20;

std::size_t RoundUp(std::size_t bytes, std::size_t unit) {
  return (bytes + unit - 1) / unit * unit;
}

}  // namespace

// Maps one large page more than needed and gives back the pieces before the first
// aligned address and after the end, so that the buffer starts on a large page and
// every whole large page inside it can be backed by one.
char* ReserveLargeBuffer(std::size_t bytes) {
  if (bytes == 0 || bytes > SIZE_MAX - 2 * kLargePage) return nullptr;
  const std::size_t length = RoundUp(bytes, kLargePage);
  const std::size_t mapped = length + kLargePage;
  void* area = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(area);
  const std::uintptr_t aligned = RoundUp(start, kLargePage);
  if (aligned > start) ::munmap(area, aligned - start);
  const std::uintptr_t end = start + mapped;
  if (end > aligned + length)
    ::munmap(reinterpret_cast<void*>(aligned + length), end - aligned - length);
  // Only advice: a system without large pages keeps the buffer as it is.
  ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
  return reinterpret_cast<char*>(aligned);
}

void ReleaseLargeBuffer(char* data, std::size_t bytes) {
  if (data != nullptr) ::munmap(data, RoundUp(bytes, kLargePage));
}

}  // namespace orvane::platform
