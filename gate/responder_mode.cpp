#include "gate/responder_mode.h"

namespace orvane {
namespace {

constexpr long kLargestMaxRequests = 1000000000;

// A count of decimal digits only, at most largest.
std::optional<long> ParseCount(const std::string& text, long largest) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > largest) return std::nullopt;
  return value;
}

ResponderMode Failed(std::string message) {
  ResponderMode mode;
  mode.error = std::move(message);
  return mode;
}

}  // namespace

bool IsResponderOption(const std::string& argument) {
  return argument == "--fastcgi" || argument == "--max-requests" || argument == "--idle-timeout";
}

ResponderMode ChooseResponderMode(const std::vector<std::string>& arguments,
                                  bool gateway_interface_set, bool standard_input_listens,
                                  const std::optional<std::string>& max_requests_variable,
                                  const std::optional<std::string>& idle_timeout_variable) {
  ResponderMode mode;
  // A CGI request's arguments stay ignored, as they always were.
  if (gateway_interface_set) return mode;
  std::optional<std::string> max_requests = max_requests_variable;
  std::optional<std::string> idle_timeout = idle_timeout_variable;
  for (std::size_t i = 0; i < arguments.size(); i += 2) {
    const std::string& option = arguments[i];
    if (!IsResponderOption(option)) return Failed("unknown argument " + option);
    if (i + 1 == arguments.size()) return Failed(option + " needs a value");
    if (option == "--fastcgi") {
      if (arguments[i + 1].empty()) return Failed("--fastcgi needs an address");
      mode.address = arguments[i + 1];
    } else if (option == "--idle-timeout") {
      idle_timeout = arguments[i + 1];
    } else {
      max_requests = arguments[i + 1];
    }
  }
  mode.fastcgi = standard_input_listens || !mode.address.empty();
  if (!mode.fastcgi) {
    if (arguments.empty()) return mode;
    return Failed(arguments.front() + " needs --fastcgi or a listening socket as standard input");
  }
  if (max_requests) {
    const std::optional<long> count = ParseCount(*max_requests, kLargestMaxRequests);
    if (!count) return Failed("the request bound is not a count: " + *max_requests);
    mode.max_requests = *count;
  }
  if (idle_timeout) {
    const std::optional<long> seconds = ParseCount(*idle_timeout, kLargestIdleSeconds);
    if (!seconds) return Failed("the idle timeout is not a count of seconds: " + *idle_timeout);
    mode.idle_seconds = *seconds;
  }
  return mode;
}

}  // namespace orvane
