#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <random>
#include <regex>
#include <string>

#include "exact_bytes.h"
#include "gate/text/cgi_text.h"

namespace orvane {
namespace {

using testing::ExactBytes;

using namespace std::string_literals;

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
      {"second byte equal to a letter is skipped",
       "\x82\x61"
       "a",
       "a", "b",
       "\x82\x61"
       "b"},
      {"lead byte at the very end stays", "a\x81", "\x81", "x", "ax"},
      {"match may start right after a pair",
       "\x81\x81"
       "a",
       "A", "x", "\x81\x81x"},
      {"lead byte before a byte below 0x40 pairs with nothing", "\x81<", "<", "&lt;", "\x81&lt;"},
      {"lead byte before 0x7F pairs with nothing", "\xE0\x7F", "\x7F", "x", "\xE0x"},
      {"lead byte before 0xFD pairs with nothing", "\x9F\xFD", "\xFD", "x", "\x9Fx"},
      {"lead byte as second byte starts no match",
       "\x81\x81"
       "a",
       "\x81"
       "a",
       "x",
       "\x81\x81"
       "a"},
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
  // A lead byte pairs only with a second byte: none of the escaped bytes is one.
  EXPECT_EQ(EscapeFieldText("\x81&\x81\r\n"), "\x81&amp;\x81<br>");
}

// A browser reads a lead byte followed by anything but a second byte as one broken
// character and the next byte as itself, so markup after a lead byte must be escaped.
TEST(EscapeFieldText, MarkupAfterEveryKindOfLeadByteIsEscaped) {
  const struct {
    char byte;
    const char* entity;
  } markup[] = {{'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'&', "&amp;"}, {' ', "&nbsp;"}};
  for (const char lead : {'\x81', '\x9F', '\xE0', '\xEF', '\xFC'}) {
    for (const auto& m : markup) {
      SCOPED_TRACE(::testing::Message() << std::hex << (lead & 0xFF) << " " << m.byte);
      const std::string text{lead, m.byte, 'x'};
      const ExactBytes exact(text);
      EXPECT_EQ(EscapeFieldText(exact.View()), std::string(1, lead) + m.entity + "x");
      EXPECT_EQ(ReplaceAllText(text, std::string(1, m.byte), m.entity),
                std::string(1, lead) + m.entity + "x");
    }
  }
}

TEST(EscapeFieldText, ValidDoubleByteCharactersKeepEveryByte) {
  // The ends of both second-byte ranges, a 0x5C second byte and a lead byte as second byte.
  for (const std::string text : {"\x81\x40", "\x9F\x7E", "\xE0\x80", "\xFC\xFC", "\x95\x5C",
                                 "\x81\x81", "\x82\xA0\x8A\xBF\x8E\x9A"}) {
    SCOPED_TRACE(text);
    const ExactBytes exact(text);
    EXPECT_EQ(EscapeFieldText(exact.View()), text);
  }
}

// Browsers send a character that Shift_JIS cannot hold as a decimal reference; its "&"
// stays so that the character shows as itself. Every other "&" is escaped.
TEST(EscapeFieldText, CharacterReferencesOfNonAsciiCharactersKeepTheirAmpersand) {
  const struct {
    const char* label;
    std::string text, expected;
  } cases[] = {
      {"accented Latin letter", "Jos&#233;", "Jos&#233;"},
      {"n with tilde and u with umlaut", "Espa&#241;a M&#252;nchen",
       "Espa&#241;a&nbsp;M&#252;nchen"},
      {"emoji", "&#128512;", "&#128512;"},
      {"Hangul", "&#54620;&#44397;", "&#54620;&#44397;"},
      {"reference at the start", "&#233;x", "&#233;x"},
      {"reference at the end", "x&#233;", "x&#233;"},
      {"lowest kept code point", "&#128;", "&#128;"},
      {"highest kept code point", "&#1114111;", "&#1114111;"},
      {"last code point before the surrogates", "&#55295;", "&#55295;"},
      {"first code point after the surrogates", "&#57344;", "&#57344;"},
      {"after a double-byte character", "\x82\xA0&#233;", "\x82\xA0&#233;"},
      {"after a lone lead byte", "\x81&#233;", "\x81&#233;"},
      {"ASCII less-than", "&#60;script&#62;", "&amp;#60;script&amp;#62;"},
      {"highest ASCII", "&#127;", "&amp;#127;"},
      {"hexadecimal", "&#xE9;", "&amp;#xE9;"},
      {"named entity", "&eacute;", "&amp;eacute;"},
      {"no semicolon, text follows", "&#233 x", "&amp;#233&nbsp;x"},
      {"no digits", "&#;", "&amp;#;"},
      {"leading zero", "&#0233;", "&amp;#0233;"},
      {"surrogate", "&#55296;", "&amp;#55296;"},
      {"beyond the last code point", "&#1114112;", "&amp;#1114112;"},
      {"eight digits", "&#11141110;", "&amp;#11141110;"},
      {"many digits", "&#" + std::string(40, '9') + ";", "&amp;#" + std::string(40, '9') + ";"},
      {"sign", "&#+233;", "&amp;#+233;"},
      {"space inside", "&# 233;", "&amp;#&nbsp;233;"},
      {"ampersand alone at the end", "a&", "a&amp;"},
      {"escaped reference is not unescaped", "&amp;#233;", "&amp;amp;#233;"},
      {"two references in a row", "&#233;&#233;", "&#233;&#233;"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const ExactBytes exact(c.text);
    EXPECT_EQ(EscapeFieldText(exact.View()), c.expected);
  }
}

std::string SixSteps(const std::string& text) {
  std::string result = ReplaceAllText(text, "&", "&amp;");
  result = ReplaceAllText(result, " ", "&nbsp;");
  result = ReplaceAllText(result, "<", "&lt;");
  result = ReplaceAllText(result, ">", "&gt;");
  result = ReplaceAllText(result, "\"", "&quot;");
  return ReplaceAllText(result, "\r\n", "<br>");
}

// The six steps over the text between kept character references, which pass as they
// are; found here with a regular expression, independently of the escaping's own scan.
std::string SixStepsKeepingReferences(const std::string& text) {
  static const std::regex kReference("&#([1-9][0-9]{0,6});");
  std::string result;
  std::size_t done = 0;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), kReference);
       it != std::sregex_iterator(); ++it) {
    const long code_point = std::stol((*it)[1].str());
    if (code_point < 128 || code_point > 0x10FFFF ||
        (code_point >= 0xD800 && code_point <= 0xDFFF)) {
      continue;
    }
    const auto at = static_cast<std::size_t>(it->position());
    result += SixSteps(text.substr(done, at - done)) + it->str();
    done = at + it->length();
  }
  return result + SixSteps(text.substr(done));
}

// Bytes that matter to the escaping, double-byte lead bytes (both ranges and their
// ends), second bytes that look like ASCII, and pieces of character references, kept
// and escaped ones; a few random bytes fill in.
std::string RandomText(std::mt19937& random) {
  static const std::string kPieces[] = {
      "&",    " ",    "<",      ">",     "\"",      "\r",       "\n",         "a",         "A",
      "\\",   "\0"s,  "\x81",   "\x9f",  "\xe0",    "\xfc",     "\x95",       "\x5c",      "\x40",
      "\x7e", "\xa0", "\xdf",   "\xfd",  "\x80",    "b",        ";",          "#",         "1",
      "0",    "&#",   "&#233;", "&#60;", "&#0233;", "&#55296;", "&#1114111;", "&#1114112;"};
  std::uniform_int_distribution<int> length(0, 24);
  // One past the pieces: a random byte.
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kPieces));
  std::uniform_int_distribution<int> any(0, 255);
  std::string text;
  for (int n = length(random); n > 0; --n) {
    const std::size_t i = pick(random);
    if (i == std::size(kPieces)) {
      text.push_back(static_cast<char>(any(random)));
    } else {
      text += kPieces[i];
    }
  }
  return text;
}

TEST(EscapeFieldText, OnePassEqualsTheSixReplacementStepsBesideKeptReferences) {
  std::mt19937 random(20240607);
  for (int round = 0; round < 50000; ++round) {
    const std::string text = RandomText(random);
    const std::string expected = SixStepsKeepingReferences(text);
    const ExactBytes exact(text);
    const std::string actual = EscapeFieldText(exact.View());
    if (actual != expected || EscapedFieldTextSize(exact.View()) != expected.size()) {
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
