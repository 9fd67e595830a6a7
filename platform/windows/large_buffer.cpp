// Large buffers on Windows: plain heap memory. Large pages there need a privilege that
// a web server's account rarely has, so the buffer keeps the ordinary page size.
#include <new>

#include "platform/platform.h"

namespace orvane::platform {

char* ReserveLargeBuffer(std::size_t bytes) {
  if (bytes == 0) return nullptr;
  return new (std::nothrow) char[bytes];
}

void ReleaseLargeBuffer(char* data, std::size_t /*bytes*/) { delete[] data; }

}  // namespace orvane::platform
