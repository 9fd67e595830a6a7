#include "platform/shift_jis.h"

#include <gtest/gtest.h>

#include <string>

#include "exact_bytes.h"

namespace orvane {
namespace {

using testing::ExactBytes;

TEST(CharacterLength, LeadBytePairsOnlyWithASecondByte) {
  const struct {
    const char* label;
    std::string text;
    std::size_t length;
  } cases[] = {
      {"ASCII", "a", 1},
      {"lowest lead, lowest second", "\x81\x40", 2},
      {"highest lead of the first range, 0x7E", "\x9F\x7E", 2},
      {"lowest lead of the second range, 0x80", "\xE0\x80", 2},
      {"highest lead, highest second", "\xFC\xFC", 2},
      {"second byte 0x5C", "\x95\x5C", 2},
      {"lead byte as second byte", "\x81\x81", 2},
      {"second byte 0x3F", "\x81\x3F", 1},
      {"second byte <", "\x81<", 1},
      {"second byte double quote", "\xE0\"", 1},
      {"second byte space", "\x9F ", 1},
      {"second byte NUL", std::string("\x81\0", 2), 1},
      {"second byte 0x7F", "\x81\x7F", 1},
      {"second byte 0xFD", "\xFC\xFD", 1},
      {"second byte 0xFF", "\x81\xFF", 1},
      {"lead byte at the end", "\x81", 1},
      {"0x80 is no lead byte", "\x80\x40", 1},
      {"0xA0 is no lead byte", "\xA0\x40", 1},
      {"half-width kana 0xDF is no lead byte", "\xDF\x40", 1},
      {"0xFD is no lead byte", "\xFD\x40", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const ExactBytes exact(c.text);
    EXPECT_EQ(CharacterLength(exact.View(), 0), c.length);
  }
}

}  // namespace
}  // namespace orvane
