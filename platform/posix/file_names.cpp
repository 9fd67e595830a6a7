// File names are bytes here: every name is stored as it is spelled.
#include "platform/platform.h"

namespace orvane::platform {

bool NameRoundTrips(std::string_view) { return true; }

std::optional<int> SystemCodePage() { return std::nullopt; }

std::vector<std::string> UnspellableNames(const std::string&) { return {}; }

}  // namespace orvane::platform
