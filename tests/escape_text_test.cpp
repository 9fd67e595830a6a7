#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>

#include "exact_bytes.h"
#include "gate/cgi_text.h"

namespace orvane {
namespace {

using testing::ExactBytes;

struct ReplaceCase {
  const char* label;
  std::string text, pattern, replacement, expected;
};

TEST(ReplaceAllText, TableOfCases) {
  const ReplaceCase cases[] = {
      {"letters match ignoring case, outside keeps its case", "aXbxc", "x", "-", "a-b-c"},
      {"replacement keeps its own case", "Abc", "B", "zZ", "AzZc"},
      {"occurrences do not overlap", "aaaa", "aa", "b", "bb"},
      {"odd overlap leaves the rest", "aaa", "aa", "b", "ba"},
      {"replacement is not searched again", "a", "a", "aa", "aa"},
      {"empty pattern changes nothing", "abc", "", "x", "abc"},
      {"empty text", "", "a", "x", ""},
      {"pattern longer than text", "ab", "abc", "x", "ab"},
      {"second byte 0x5C is not a backslash", "\x95\x5c\\", "\\", "/", "\x95\x5c/"},
      {"second byte equal to a letter is skipped", "\x82\x61" "a", "a", "b", "\x82\x61" "b"},
      {"lead byte at the very end stays", "a\x81", "\x81", "x", "ax"},
      {"match may start right after a pair", "\x81\x81" "a", "A", "x", "\x81\x81x"},
      {"NUL bytes are ordinary", std::string("a\0b\0", 4), std::string("\0", 1), "0", "a0b0"},
  };
  for (const ReplaceCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ReplaceAllText(c.text, c.pattern, c.replacement), c.expected);
  }
}

TEST(EscapeFieldText, ExamplesOfTheEscapingChain) {
  EXPECT_EQ(EscapeFieldText("a & <b>"), "a&nbsp;&amp;&nbsp;&lt;b&gt;");
  EXPECT_EQ(EscapeFieldText("x\r\ny"), "x<br>y");
  EXPECT_EQ(EscapeFieldText("x\ny"), "x\ny");
  EXPECT_EQ(EscapeFieldText("x\ry"), "x\ry");
  EXPECT_EQ(EscapeFieldText("\"q\""), "&quot;q&quot;");
  EXPECT_EQ(EscapeFieldText("&amp;"), "&amp;amp;");
  EXPECT_EQ(EscapeFieldText("\r\r\n\n"), "\r<br>\n");
  EXPECT_EQ(EscapeFieldText(""), "");
  // A lead byte pairs with the next byte, whatever it is.
  EXPECT_EQ(EscapeFieldText("\x81&\x81\r\n"), "\x81&\x81\r\n");
}

std::string SixSteps(const std::string& text) {
  std::string result = ReplaceAllText(text, "&", "&amp;");
  result = ReplaceAllText(result, " ", "&nbsp;");
  result = ReplaceAllText(result, "<", "&lt;");
  result = ReplaceAllText(result, ">", "&gt;");
  result = ReplaceAllText(result, "\"", "&quot;");
  return ReplaceAllText(result, "\r\n", "<br>");
}

// Bytes that matter to the escaping, double-byte lead bytes (both ranges and their
// ends) and second bytes that look like ASCII; a few random bytes fill in.
std::string RandomText(std::mt19937& random) {
  static const char kBytes[] = {'&',    ' ',    '<',    '>',    '"',    '\r',   '\n',
                                'a',    'A',    '\\',   '\0',   '\x81', '\x9f', '\xe0',
                                '\xfc', '\x95', '\x5c', '\x40', '\x7e', '\xa0', '\xdf',
                                '\xfd', '\x80', '\x26', 'b',    ';'};
  std::uniform_int_distribution<int> length(0, 24);
  std::uniform_int_distribution<int> pick(0, sizeof kBytes);  // one past: a random byte
  std::uniform_int_distribution<int> any(0, 255);
  std::string text;
  for (int n = length(random); n > 0; --n) {
    const int i = pick(random);
    text.push_back(i == static_cast<int>(sizeof kBytes) ? static_cast<char>(any(random))
                                                         : kBytes[i]);
  }
  return text;
}

TEST(EscapeFieldText, OnePassEqualsTheSixReplacementSteps) {
  std::mt19937 random(20240607);
  for (int round = 0; round < 50000; ++round) {
    const std::string text = RandomText(random);
    const std::string expected = SixSteps(text);
    const ExactBytes exact(text);
    const std::string actual = EscapeFieldText(exact.View());
    if (actual != expected) {
      std::string hex;
      for (unsigned char c : text) {
        hex += "0123456789abcdef"[c >> 4];
        hex += "0123456789abcdef"[c & 15];
      }
      FAIL() << "input bytes " << hex;
    }
  }
}

}  // namespace
}  // namespace orvane
