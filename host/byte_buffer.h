// A byte buffer reserved at its full size without being zero-filled first, so that a
// request body of tens of MiB is written exactly once, by the read that fills it. A
// buffer of several MiB is placed where the system can back it with large pages, which
// spares most of the page faults of filling it.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace orvane {

// Raises EOutOfMemory for a reservation of that many bytes that could not be made.
[[noreturn]] void ThrowOutOfMemory(std::size_t bytes);

class TByteBuffer {
 public:
  TByteBuffer() = default;
  // Raises EOutOfMemory when room for capacity bytes cannot be reserved.
  static TByteBuffer Allocate(std::size_t capacity);

  // Buffers from this size on are reserved as large buffers (platform::ReserveLargeBuffer).
  static constexpr std::size_t kLargeBufferSize = std::size_t{4} << 20;

  char* Data() { return data_.get(); }
  std::size_t Capacity() const { return capacity_; }
  std::size_t Size() const { return size_; }
  // The count of bytes written so far at the start of the buffer; at most Capacity.
  void SetSize(std::size_t size) { size_ = size < capacity_ ? size : capacity_; }
  std::string_view View() const { return {data_.get(), size_}; }

 private:
  // Frees the memory the way it was reserved.
  struct Release {
    std::size_t capacity;
    void operator()(char* data) const;
  };

  std::unique_ptr<char[], Release> data_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
};

}  // namespace orvane
