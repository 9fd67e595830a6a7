// Comparison of byte texts that ignores the case of ASCII letters only.
#pragma once

#include <string_view>

namespace orvane {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace orvane
