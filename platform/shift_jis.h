// Double-byte character rules of the system code page, Shift_JIS (code page 932).
#pragma once

#include <cstddef>
#include <string_view>

namespace orvane {

// A lead byte forms one character with a valid second byte after it.
constexpr bool IsLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
constexpr bool IsLeadByte(char byte) { return IsLeadByte(static_cast<unsigned char>(byte)); }

// The bytes that may follow a lead byte inside one character. No markup or delimiter
// byte below 0x40 is among them.
constexpr bool IsSecondByte(unsigned char byte) {
  return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC);
}
constexpr bool IsSecondByte(char byte) { return IsSecondByte(static_cast<unsigned char>(byte)); }

// Bytes of the character at the position: two from a lead byte followed by a valid
// second byte, else one. A browser reads a lead byte before any other byte as a broken
// character of its own and the next byte as itself, so that byte must not be hidden.
constexpr std::size_t CharacterLength(std::string_view text, std::size_t position) {
  return IsLeadByte(text[position]) && position + 1 < text.size() &&
                 IsSecondByte(text[position + 1])
             ? 2
             : 1;
}

}  // namespace orvane
