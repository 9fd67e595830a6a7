// Placeholder implementation: replaced by the dispatcher work.
#include "host/mask.h"

namespace orvane {
TMask::TMask(const std::string& pattern) : pattern_(pattern) {}
bool TMask::IsMatch(const std::string& text) const { return text == pattern_; }
}  // namespace orvane
