// Random bytes from the operating system's generator.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane::platform {

void FillRandomBytes(unsigned char* buffer, std::size_t size) {
  // getentropy gives at most 256 bytes a call and blocks only until the generator is seeded.
  constexpr std::size_t kMostPerCall = 256;
  for (std::size_t done = 0; done < size;) {
    const std::size_t part = std::min(kMostPerCall, size - done);
    if (getentropy(buffer + done, part) != 0) {
      throw Exception(std::string("The system gave no random bytes: ") + std::strerror(errno));
    }
    done += part;
  }
}

}  // namespace orvane::platform
