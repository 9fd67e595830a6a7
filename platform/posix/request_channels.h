// The channels of the request being answered, where they are not the process's own.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvane::platform::posix {

// A persistent responder installs one for the time of a request; the environment and
// standard channel functions then read and write it instead of the process's.
class RequestChannels {
 public:
  virtual ~RequestChannels() = default;
  virtual std::optional<std::string> Parameter(const std::string& name) const = 0;
  virtual long Read(char* buffer, std::size_t count) = 0;
  virtual long Write(const char* data, std::size_t count) = 0;
  virtual void WriteError(std::string_view text) = 0;
};

// The channels of the request under way; nullptr when the process's own are the request's.
RequestChannels* ActiveRequestChannels();
void SetActiveRequestChannels(RequestChannels* channels);

}  // namespace orvane::platform::posix
