#include "gate/text/cgi_text.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <random>
#include <string>

#include "exact_bytes.h"

namespace orvane {
namespace {

using testing::ExactBytes;

std::string Bytes(std::initializer_list<int> values) {
  std::string text;
  for (int v : values) text.push_back(static_cast<char>(v));
  return text;
}

struct DecodeCase {
  const char* label;
  std::string encoded, decoded;
};

TEST(UrlDecode, TableOfCases) {
  const DecodeCase cases[] = {
      {"plus, escapes of both cases", "a+b%41%2b", "a bA+"},
      {"percent at the end gives a zero byte", "100%", std::string("100\0", 4)},
      {"one digit at the end gives its value", "%4", Bytes({4})},
      {"one hex letter at the end", "x%f", Bytes({'x', 15})},
      {"one non-digit at the end gives a zero byte", "%g", Bytes({0})},
      {"bad first digit consumes both bytes", "%g1x", Bytes({0, 'x'})},
      {"two bad digits", "%zz", Bytes({0})},
      {"bad second digit", "%4G", Bytes({0})},
      {"escape of a percent sign is not decoded again", "%2541", "%41"},
      {"escaped plus and ampersand stay", "%2B%26", "+&"},
      {"high byte and zero byte", "%ff%00", Bytes({255, 0})},
      {"percent swallows a following percent", "%%41", Bytes({0, '1'})},
      {"double-byte characters copied", "\x95\x5c%41",
       "\x95\x5c"
       "A"},
      {"raw NUL copied", std::string("a\0b", 3), std::string("a\0b", 3)},
      {"empty", "", ""},
      {"lone percent", "%", Bytes({0})},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.label);
    const ExactBytes input(c.encoded);
    EXPECT_EQ(UrlDecode(input.View()), c.decoded);
  }
}

TEST(UrlDecode, AnyByteSequenceDecodesWithoutOverrun) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> length(0, 12);
  const char kBytes[] = {'%', '+', '0', '9', 'a', 'F', 'g', '\0', '\x81', '&'};
  std::uniform_int_distribution<int> pick(0, sizeof kBytes - 1);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int n = length(random); n > 0; --n) text.push_back(kBytes[pick(random)]);
    const ExactBytes input(text);
    EXPECT_LE(UrlDecode(input.View()).size(), text.size());
  }
}

struct SplitCase {
  const char* label;
  std::string query;
  TFieldList items;
};

TEST(SplitQueryString, TableOfCases) {
  const SplitCase cases[] = {
      {"empty item kept, trailing & adds nothing", "a=1&&b=2&", {"a=1", "", "b=2"}},
      {"only spaces give no item", "  ", {}},
      {"empty query", "", {}},
      {"items are not trimmed", " a=1 ", {" a=1 "}},
      {"leading & gives an empty item", "&a", {"", "a"}},
      {"& followed by white space adds nothing", "a=1& \t\r\n", {"a=1"}},
      {"white space before the last item is kept", "a&  b", {"a", "  b"}},
      {"control bytes count as white space", std::string("a&\0\x1f", 4), {"a"}},
      {"NUL inside an item is kept", std::string("a\0b&c", 5), {std::string("a\0b", 3), "c"}},
      {"decoded & does not split", "a=%26&b", {"a=&", "b"}},
      {"high bytes are not white space", "a&\xa0", {"a", "\xa0"}},
      {"& after a lead byte splits: no second byte", "\x81&b=2&c", {"\x81", "b=2", "c"}},
      {"& after a lead byte at the end of the range", "\xFC&b", {"\xFC", "b"}},
      {"& after a double-byte character splits", "\x95\x5c&b", {"\x95\x5c", "b"}},
      {"items keep CR and LF", "a%0D%0Ab&c", {"a\r\nb", "c"}},
      {"lone &", "&", {""}},
      {"two &", "&&", {"", ""}},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.label);
    const ExactBytes input(c.query);
    TFieldList items{"stale"};
    SplitQueryString(input.View(), &items);
    EXPECT_EQ(items, c.items);
  }
}

TEST(SplitQueryString, NoListMeansNoWork) {
  SplitQueryString("a=1", nullptr);
  SplitQueryStringEscaped("a=1", nullptr);
}

TEST(SplitQueryStringEscaped, EveryItemIsDecodedThenEscaped) {
  TFieldList items;
  SplitQueryStringEscaped("t=%3Cb%3E+x&u=a%26b", &items);
  EXPECT_EQ(items, (TFieldList{"t=&lt;b&gt;&nbsp;x", "u=a&amp;b"}));
  SplitQueryStringEscaped("n%22=%0D%0A&&x", &items);
  EXPECT_EQ(items, (TFieldList{"n&quot;=<br>", "", "x"}));
}

TEST(AppendQueryItemsEscaped, AppendsTheJoinedEscapedListAndMeasuresIt) {
  const struct {
    const char* label;
    std::string query;
  } cases[] = {
      {"plain fields", "session=s1&id=a"},
      {"escapes and empty items", "t=%3Cb%3E+x&&u=a%26b&"},
      {"CR LF, lone LF and a short escape", "a=x%0D%0Ay&b=x%0Ay&c=100%"},
      {"only white space", "  \t "},
      {"double-byte characters", "n=\x81\x26\x95\\&m=%81%5C"},
      {"empty", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TFieldList items;
    SplitQueryStringEscaped(c.query, &items);
    std::string text = "kept\r\n";
    AppendQueryItemsEscaped(c.query, text);
    EXPECT_EQ(text, "kept\r\n" + JoinFieldList(items));
    EXPECT_EQ(QueryItemsEscapedSize(c.query), JoinFieldList(items).size());
  }
}

TEST(SplitQueryString, HundredThousandItemsStayLinear) {
  std::string query;
  for (int i = 0; i < 100000; ++i) query += "f=%41&";
  query += std::string(100000, '&');
  TFieldList items;
  SplitQueryStringEscaped(query, &items);
  ASSERT_EQ(items.size(), 200000u);
  EXPECT_EQ(items.front(), "f=A");
  EXPECT_EQ(items.back(), "");
}

TEST(GetQueryValue, FirstDecodedItemOfTheNameWins) {
  EXPECT_EQ(GetQueryValue("Session=x&session=y", "session"), "x");
  EXPECT_EQ(GetQueryValue("a%3Db=c", "a"), "b=c");
  EXPECT_EQ(GetQueryValue("showuser=%2541&session=s", "SHOWUSER"), "%41");
  EXPECT_EQ(GetQueryValue("a&a=2", "a"), "2");  // an item without "=" never matches
  EXPECT_EQ(GetQueryValue("a=1", "b"), "");
  EXPECT_EQ(GetQueryValue(" a=1", "a"), "");  // names are not trimmed
  EXPECT_EQ(GetQueryValue("a=1 ", "a"), "1 ");
  EXPECT_EQ(GetQueryValue("=v", ""), "v");
  EXPECT_EQ(GetQueryValue("a+b=1", "a b"), "1");
  EXPECT_EQ(GetQueryValue("x=%3Cb%3E", "x"), "<b>");  // not escaped
}

TEST(GetEnv, WholeValueOfAnyLengthOrEmpty) {
  const std::string long_value(10000, 'q');
  ASSERT_EQ(setenv("ORVANE_TEST_LONG", long_value.c_str(), 1), 0);
  EXPECT_EQ(GetEnv("ORVANE_TEST_LONG"), long_value);
  ASSERT_EQ(setenv("ORVANE_TEST_EMPTY", "", 1), 0);
  EXPECT_EQ(GetEnv("ORVANE_TEST_EMPTY"), "");
  unsetenv("ORVANE_TEST_UNSET");
  EXPECT_EQ(GetEnv("ORVANE_TEST_UNSET"), "");
  ASSERT_EQ(setenv("ORVANE_TEST_SJIS", "a=\x95\x5c&b", 1), 0);
  EXPECT_EQ(GetEnv("ORVANE_TEST_SJIS"), "a=\x95\x5c&b");
}

}  // namespace
}  // namespace orvane
