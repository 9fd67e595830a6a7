// Random bytes from the operating system's generator.
#include <windows.h>
// After windows.h: the declaration of RtlGenRandom, exported by advapi32.
#include <ntsecapi.h>

#include <algorithm>

#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane::platform {

void FillRandomBytes(unsigned char* buffer, std::size_t size) {
  constexpr std::size_t kMostPerCall = 1 << 20;
  for (std::size_t done = 0; done < size;) {
    const std::size_t part = std::min(kMostPerCall, size - done);
    if (!RtlGenRandom(buffer + done, static_cast<ULONG>(part))) {
      throw Exception("The system gave no random bytes (RtlGenRandom failed)");
    }
    done += part;
  }
}

}  // namespace orvane::platform
