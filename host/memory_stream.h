// A stream over bytes held in memory.
#pragma once

#include <cstdint>
#include <string>

#include "host/web_response.h"

namespace orvane {

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}

  std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  std::int64_t Position() const override { return static_cast<std::int64_t>(position_); }
  std::int32_t Read(char* buffer, std::int32_t count) override;
  // Moves the position, kept within 0 and the size.
  void Seek(std::int64_t position);
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
  std::size_t position_ = 0;
};

}  // namespace orvane
