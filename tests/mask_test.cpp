#include "host/mask.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_web.h"

namespace orvane {
namespace {

using testing::FromHex;

struct MatchCase {
  const char* label;
  std::string pattern;
  std::string text;
  bool matches;
};

TEST(MaskMatching, TableOfPatternsAndTexts) {
  const std::string a_katakana = FromHex("83 41");   // ア
  const std::string so_katakana = FromHex("83 5c");  // ソ: second byte is a backslash
  const std::vector<MatchCase> cases = {
      {"empty pattern, empty text", "", "", true},
      {"empty pattern, path", "", "/x", false},
      {"star, empty text", "*", "", true},
      {"star, path", "*", "/abc/def", true},
      {"slash star, slash", "/*", "/", true},
      {"slash star, path", "/*", "/abc", true},
      {"slash star, empty", "/*", "", false},
      {"letters ignore case (lower)", "/Foo", "/foo", true},
      {"letters ignore case (upper)", "/Foo", "/FOO", true},
      {"longer text", "/Foo", "/Foox", false},
      {"non-ASCII exact", "/\xb1", "/\xb1", true},
      {"non-ASCII not folded", "/\xc1", "/\xe1", false},
      {"question needs a byte", "/a?", "/a", false},
      {"question takes one byte", "/a?", "/ab", true},
      {"star question is star", "/a*?", "/a", true},
      {"star question, more", "/a*?", "/abc", true},
      {"negated set, other", "[!a]", "b", true},
      {"negated set, same", "[!a]", "a", false},
      {"negated set, upper", "[!a]", "A", false},
      {"negated set, empty text", "[!a]", "", false},
      {"range folds case", "[a-c]", "B", true},
      {"range excludes", "[a-c]", "d", false},
      {"backward range, c", "[c-a]", "c", true},
      {"backward range, C", "[c-a]", "C", true},
      {"backward range adds nothing", "[c-a]", "b", false},
      {"set skips double-byte", "[" + a_katakana + "x]", "x", true},
      {"set skips double-byte, lead", "[" + a_katakana + "x]", "\x83", false},
      {"backtracking star", "*ab", "aab", true},
      {"two stars", "*a*b", "xaxxb", true},
      {"two stars, no b", "*a*b", "xaxx", false},
      {"double-byte literal", "/" + so_katakana + "*", "/" + so_katakana + "abc", true},
      {"double-byte literal differs", "/" + so_katakana, "/\x83\x5d", false},
      {"double-byte cut short in text", "/" + so_katakana, "/\x83", false},
      {"skip by characters", "*" + a_katakana, "\x83" + a_katakana, false},
      {"skip by characters, whole", "*" + a_katakana, "x" + a_katakana, true},
      {"skip by characters, retry", "*" + a_katakana, a_katakana + a_katakana, true},
      {"text with NUL is not ended", "a", std::string("a\0", 2), false},
      {"star covers NUL", "a*", std::string("a\0b", 3), true},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(TMask(c.pattern).IsMatch(c.text), c.matches);
  }
}

struct InvalidCase {
  const char* label;
  std::string pattern;
  int position;
};

TEST(MaskCompiling, InvalidPatternsReportTheirPosition) {
  const std::vector<InvalidCase> cases = {
      {"unclosed set", "[abc", 5},
      {"empty set", "[]", 2},
      {"negated empty set", "[!]", 3},
      {"hyphen first", "[-a]", 2},
      {"hyphen after negation", "[!-a]", 3},
      {"hyphen at the end", "[a-", 4},
      {"range to the closing bracket", "[a-]", 5},
      {"lead byte at the end", "ab\x82", 3},
      {"lead byte at the end of a set", "[\x82", 3},
      {"only double-byte in set", "[\x83\x41]", 4},
  };
  for (const InvalidCase& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string pattern(c.pattern);
    try {
      TMask mask(pattern);
      ADD_FAILURE() << "compiled";
    } catch (const EMaskException& e) {
      // "%1:d 番目の文字（'%0:s'）は正しくないマスク文字です"
      EXPECT_EQ(e.Message(), std::to_string(c.position) +
                                 FromHex("20 94 d4 96 da 82 cc 95 b6 8e 9a 81 69 27") + c.pattern +
                                 FromHex("27 81 6a 82 cd 90 b3 82 b5 82 ad 82 c8 82 a2 83 7d 83 58 "
                                         "83 4e 95 b6 8e 9a 82 c5 82 b7"));
      EXPECT_STREQ(e.ClassName(), "EMaskException");
    }
  }
}

std::string StarGroups(int count) {
  std::string pattern;
  for (int i = 0; i < count; ++i) pattern += "*a";
  return pattern;
}

TEST(MaskCompiling, ThirtySkipsAreAcceptedThirtyOneAreNot) {
  EXPECT_TRUE(TMask(StarGroups(30)).IsMatch(std::string(30, 'a')));
  EXPECT_FALSE(TMask(StarGroups(30)).IsMatch(std::string(29, 'a')));
  EXPECT_THROW(TMask{StarGroups(31)}, EMaskException);
  // A trailing star marks the end-of-text element, which counts too.
  EXPECT_NO_THROW(TMask{StarGroups(29) + "*"});
  EXPECT_THROW(TMask{StarGroups(30) + "*"}, EMaskException);
  // "*?" adds no element, so the question marks do not count.
  EXPECT_NO_THROW(TMask{StarGroups(30) + "?"});
}

TEST(MaskMatching, FailingMatchWithManyStarsStaysFast) {
  // Without pruning repeated retry points this backtracks exponentially.
  EXPECT_FALSE(TMask(StarGroups(30) + "b").IsMatch(std::string(2000, 'a')));
  EXPECT_TRUE(TMask(StarGroups(30) + "b").IsMatch(std::string(2000, 'a') + "b"));
}

TEST(MaskCompiling, SecondByteOfDoubleByteCharacterIsNotASetOrWildcard) {
  // 0x83 0x5B has a "[" as its second byte; 0x81 0x2A has a "*" as its second byte.
  EXPECT_TRUE(TMask("\x83\x5b").IsMatch("\x83\x5b"));
  EXPECT_FALSE(TMask("\x81\x2a").IsMatch("\x81xyz"));
  EXPECT_TRUE(TMask("[\x83]a]").IsMatch("a"));  // "]" as a second byte does not close the set
}

}  // namespace
}  // namespace orvane
