#include "host/byte_buffer.h"

#include <new>
#include <string>

#include "platform/exception.h"

namespace orvane {

void ThrowOutOfMemory(std::size_t bytes) {
  throw EOutOfMemory("Out of memory: cannot reserve " + std::to_string(bytes) + " bytes");
}

TByteBuffer TByteBuffer::Allocate(std::size_t capacity) {
  TByteBuffer buffer;
  if (capacity == 0) return buffer;
  char* data = new (std::nothrow) char[capacity];
  if (data == nullptr) ThrowOutOfMemory(capacity);
  buffer.data_.reset(data);
  buffer.capacity_ = capacity;
  return buffer;
}

}  // namespace orvane
