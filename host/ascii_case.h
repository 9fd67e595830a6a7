// Comparison of byte texts that ignores the case of ASCII letters only.
#pragma once

#include <string_view>

namespace orvane {

constexpr char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace orvane
