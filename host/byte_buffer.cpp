#include "host/byte_buffer.h"

#include <new>
#include <string>

#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane {

void ThrowOutOfMemory(std::size_t bytes) {
  throw EOutOfMemory("Out of memory: cannot reserve " + std::to_string(bytes) + " bytes");
}

TByteBuffer TByteBuffer::Allocate(std::size_t capacity) {
  TByteBuffer buffer;
  if (capacity == 0) return buffer;
  const bool large = capacity >= kLargeBufferSize;
  char* data = large ? platform::ReserveLargeBuffer(capacity) : new (std::nothrow) char[capacity];
  if (data == nullptr) ThrowOutOfMemory(capacity);
  buffer.data_ = std::unique_ptr<char[], Release>(data, Release{capacity});
  buffer.capacity_ = capacity;
  return buffer;
}

void TByteBuffer::Release::operator()(char* data) const {
  if (capacity >= kLargeBufferSize) {
    platform::ReleaseLargeBuffer(data, capacity);
  } else {
    delete[] data;
  }
}

}  // namespace orvane
