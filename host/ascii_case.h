// Comparison of byte texts that ignores the case of ASCII letters only.
#pragma once

#include <string>
#include <string_view>

namespace orvane {

constexpr char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

constexpr unsigned char UpperAscii(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
// The text with the ASCII letters A-Z lower-cased; every other byte unchanged.
std::string LowerCaseAscii(std::string_view text);

}  // namespace orvane
