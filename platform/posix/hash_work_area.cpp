// The work area of the password hash (Argon2id's 19 MiB), kept mapped for the life of the
// process. The sodium library maps a fresh area for every hash, and the kernel faults in
// and zeroes each of its pages (about 4,900, nearly half of a hash's time); a persistent
// responder that keeps one area pays that once. The library offers no allocator of its
// own, so the build renames the two calls of its Argon2 core, mmap and munmap, to these
// (CMakeLists.txt), and the area is the process's alone: one static, under a lock.
//
// One area of at most the gate's hash size is kept, the largest returned. A hash of a
// record with a smaller area reuses it; a larger one, or a second hash at once, maps and
// unmaps its own. A returned area is wiped before it is kept, as an unmapped one leaves
// nothing behind: its blocks would let whoever reads the process's memory test guesses
// cheaply. A process per request keeps its area until it exits.
#include <string.h>
#include <sys/mman.h>

#include <cstddef>
#include <mutex>

namespace {

// The gate's hash memory (kHashMemoryKiB of gate/password_store.h), which platform code
// does not see.
constexpr std::size_t kMostKeptBytes = std::size_t{19456} * 1024;

struct KeptArea {
  void* base = nullptr;
  std::size_t size = 0;
  bool lent = false;
};

struct KeptAreaUnderLock {
  std::mutex lock;
  KeptArea area;
};

KeptAreaUnderLock& Kept() {
  static KeptAreaUnderLock kept;
  return kept;
}

}  // namespace

extern "C" void* orvane_hash_area_map(void* address, std::size_t size, int protection, int flags,
                                      int fd, off_t offset) {
  KeptAreaUnderLock& kept = Kept();
  {
    const std::lock_guard<std::mutex> hold(kept.lock);
    KeptArea& area = kept.area;
    if (area.base != nullptr && !area.lent && size <= area.size) {
      area.lent = true;
      return area.base;
    }
  }
  return mmap(address, size, protection, flags, fd, offset);
}

extern "C" int orvane_hash_area_unmap(void* address, std::size_t size) {
  KeptAreaUnderLock& kept = Kept();
  {
    const std::lock_guard<std::mutex> hold(kept.lock);
    KeptArea& area = kept.area;
    if (address == area.base) {
      explicit_bzero(address, size);
      area.lent = false;
      return 0;
    }
    if (!area.lent && size > area.size && size <= kMostKeptBytes) {
      explicit_bzero(address, size);
      const KeptArea smaller = area;
      area = {address, size, false};
      if (smaller.base != nullptr) munmap(smaller.base, smaller.size);
      return 0;
    }
  }
  return munmap(address, size);
}
