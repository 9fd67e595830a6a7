#include "host/memory_stream.h"

#include <algorithm>
#include <cstring>

namespace orvane {

std::int32_t TMemoryStream::Read(char* buffer, std::int32_t count) {
  if (count <= 0 || position_ >= bytes_.size()) return 0;
  const std::size_t taken = std::min(static_cast<std::size_t>(count), bytes_.size() - position_);
  std::memcpy(buffer, bytes_.data() + position_, taken);
  position_ += taken;
  return static_cast<std::int32_t>(taken);
}

void TMemoryStream::Seek(std::int64_t position) {
  position_ = static_cast<std::size_t>(
      std::clamp<std::int64_t>(position, 0, static_cast<std::int64_t>(bytes_.size())));
}

}  // namespace orvane
