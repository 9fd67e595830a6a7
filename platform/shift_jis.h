// Double-byte character rules of the system code page, Shift_JIS (code page 932).
#pragma once

namespace orvane {

// A lead byte forms one character with the byte that follows it.
constexpr bool IsLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
constexpr bool IsLeadByte(char byte) { return IsLeadByte(static_cast<unsigned char>(byte)); }

}  // namespace orvane
