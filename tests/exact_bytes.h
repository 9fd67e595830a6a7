// Test input in a heap buffer of exactly its size, so that a read one byte past its
// end fails under AddressSanitizer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string_view>

namespace orvane::testing {

class ExactBytes {
 public:
  explicit ExactBytes(std::string_view bytes) : size_(bytes.size()), data_(new char[bytes.size()]) {
    std::copy(bytes.begin(), bytes.end(), data_.get());
  }
  std::string_view View() const { return {data_.get(), size_}; }

 private:
  std::size_t size_;
  std::unique_ptr<char[]> data_;
};

}  // namespace orvane::testing
