// Double-byte character rules of the system code page, Shift_JIS (code page 932).
#pragma once

#include <cstddef>
#include <string_view>

namespace orvane {

// A lead byte forms one character with the byte that follows it.
constexpr bool IsLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
constexpr bool IsLeadByte(char byte) { return IsLeadByte(static_cast<unsigned char>(byte)); }

// Bytes of the character at the position: two from a lead byte that has a byte after
// it, else one.
constexpr std::size_t CharacterLength(std::string_view text, std::size_t position) {
  return IsLeadByte(text[position]) && position + 1 < text.size() ? 2 : 1;
}

}  // namespace orvane
