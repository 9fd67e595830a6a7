#include "host/byte_buffer.h"

#include <new>
#include <string>

#include "platform/exception.h"

namespace orvane {

TByteBuffer TByteBuffer::Allocate(std::size_t capacity) {
  TByteBuffer buffer;
  if (capacity == 0) return buffer;
  char* data = nullptr;
  try {
    data = new (std::nothrow) char[capacity];
  } catch (const std::bad_alloc&) {
    data = nullptr;
  }
  if (data == nullptr) {
    throw EOutOfMemory("Out of memory: cannot reserve " + std::to_string(capacity) + " bytes");
  }
  buffer.data_.reset(data);
  buffer.capacity_ = capacity;
  return buffer;
}

}  // namespace orvane
