#include "host/http_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "exact_bytes.h"
#include "platform/exception.h"

namespace orvane {
namespace {

using testing::ExactBytes;

TEST(ReasonPhrase, EveryCodeOfTheTableAndNothingElse) {
  const std::pair<int, const char*> table[] = {{100, "Continue"},
                                               {101, "Switching Protocols"},
                                               {200, "OK"},
                                               {201, "Created"},
                                               {202, "Accepted"},
                                               {203, "Non-Authoritative Information"},
                                               {204, "No Content"},
                                               {205, "Reset Content"},
                                               {206, "Partial Content"},
                                               {300, "Multiple Choices"},
                                               {301, "Moved Permanently"},
                                               {302, "Moved Temporarily"},
                                               {303, "See Other"},
                                               {304, "Not Modified"},
                                               {305, "Use Proxy"},
                                               {400, "Bad Request"},
                                               {401, "Unauthorized"},
                                               {402, "Payment Required"},
                                               {403, "Forbidden"},
                                               {404, "Not Found"},
                                               {405, "Method Not Allowed"},
                                               {406, "None Acceptable"},
                                               {407, "Proxy Authentication Required"},
                                               {408, "Request Timeout"},
                                               {409, "Conflict"},
                                               {410, "Gone"},
                                               {411, "Length Required"},
                                               {412, "Unless True"},
                                               {500, "Internal Server Error"},
                                               {501, "Not Implemented"},
                                               {502, "Bad Gateway"},
                                               {503, "Service Unavailable"},
                                               {504, "Gateway Timeout"}};
  int found = 0;
  for (int code = -1; code <= 1000; ++code) {
    if (!ReasonPhrase(code).empty()) ++found;
  }
  EXPECT_EQ(found, 33);
  for (const auto& [code, text] : table) {
    SCOPED_TRACE(code);
    EXPECT_EQ(ReasonPhrase(code), text);
  }
  for (const int code : {0, 99, 102, 207, 306, 413, 418, 499, 505, 600, -200}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(ReasonPhrase(code), "");
  }
}

TEST(FormEncode, SafeBytesStayBlankBecomesPlusOthersArePercentUpperHex) {
  const struct {
    const char* label;
    std::string input, expected;
  } cases[] = {
      {"blank", "a b", "a+b"},
      {"ampersand", "&", "%26"},
      {"tilde", "~", "%7E"},
      {"percent", "%", "%25"},
      {"plus", "+", "%2B"},
      {"kept punctuation", "'!*@$()-._", "'!*@$()-._"},
      {"high byte", "\xE3", "%E3"},
      {"byte 255 and DEL", "\xFF\x7F", "%FF%7F"},
      {"control bytes", "\r\n\x01", "%0D%0A%01"},
      {"Shift_JIS with 5C second byte", "\x95\x5C", "%95%5C"},
      {"printable outside the set", "\"#,/:;<=>?[\\]^`{|}",
       "%22%23%2C%2F%3A%3B%3C%3D%3E%3F%5B%5C%5D%5E%60%7B%7C%7D"},
      {"NUL ends the text", std::string("ab\0c d", 6), "ab"},
      {"NUL first", std::string("\0x", 2), ""},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const ExactBytes input(c.input);
    EXPECT_EQ(FormEncode(input.View()), c.expected);
  }
}

TEST(FormEncode, ExactlyTheSeventyTwoSafeBytesAreCopied) {
  int copied = 0;
  for (int byte = 1; byte < 256; ++byte) {
    const std::string input(1, static_cast<char>(byte));
    const std::string encoded = FormEncode(input);
    if (encoded == input) {
      ++copied;
    } else if (byte != ' ') {
      char expected[4];
      std::snprintf(expected, sizeof expected, "%%%02X", byte);
      EXPECT_EQ(encoded, expected) << byte;
    }
  }
  EXPECT_EQ(copied, 72);
  // The worst case fills the threefold buffer exactly.
  EXPECT_EQ(FormEncode(std::string(1000, '\x80')).size(), 3000u);
}

TEST(BackslashesToSlashes, OnlyBackslashesChange) {
  EXPECT_EQ(BackslashesToSlashes("\\a\\b\\"), "/a/b/");
  EXPECT_EQ(BackslashesToSlashes("/plain/path"), "/plain/path");
  EXPECT_EQ(BackslashesToSlashes(std::string("a\0\\", 3)), std::string("a\0/", 3));
}

TEST(EnglishNames, DayZeroIsSaturday30December1899) {
  EXPECT_EQ(EnglishDayName(0), "Sat");
  EXPECT_EQ(EnglishDayName(1), "Sun");
  EXPECT_EQ(EnglishDayName(0.99), "Sat");
  EXPECT_EQ(EnglishDayName(-1), "Fri");
  EXPECT_EQ(EnglishDayName(-8), "Fri");
  EXPECT_EQ(EnglishDayName(46362), "Sun");  // 6 Dec 2026
  EXPECT_EQ(EnglishMonthName(0), "Dec");
  EXPECT_EQ(EnglishMonthName(2), "Jan");
  EXPECT_EQ(EnglishMonthName(61), "Mar");     // 1900 has no 29 February
  EXPECT_EQ(EnglishMonthName(36585), "Feb");  // 29 Feb 2000
}

TEST(HttpDateText, LayoutAndCalendarEdges) {
  const struct {
    double value;
    const char* expected;
  } cases[] = {
      {0, "Sat, 30 Dec 1899 00:00:00 GMT"},
      {1, "Sun, 31 Dec 1899 00:00:00 GMT"},
      {46362 + 31858 / 86400.0, "Sun, 06 Dec 2026 08:50:58 GMT"},
      {36585 + 86399 / 86400.0, "Tue, 29 Feb 2000 23:59:59 GMT"},
      {61, "Thu, 01 Mar 1900 00:00:00 GMT"},
      {0.5, "Sat, 30 Dec 1899 12:00:00 GMT"},
      {-1.25, "Fri, 29 Dec 1899 06:00:00 GMT"},
      {-0.5, "Sat, 30 Dec 1899 12:00:00 GMT"},
      {0.9999999999, "Sun, 31 Dec 1899 00:00:00 GMT"},  // rounds up to the next midnight
      {2958465 + 86399 / 86400.0, "Fri, 31 Dec 9999 23:59:59 GMT"},
      {-693593, "Mon, 01 Jan 0001 00:00:00 GMT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(HttpDateText(c.value), c.expected);
  }
}

TEST(HttpDateText, ValuesOutsideTheCalendarRaiseConvertErrors) {
  for (const double value :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e300,
        -1e300, 2958466.0, -693594.0}) {
    SCOPED_TRACE(value);
    EXPECT_THROW(HttpDateText(value), EConvertError);
    EXPECT_THROW(EnglishDayName(value), EConvertError);
  }
}

TEST(ParseHttpDate, ThreeLayoutsReadTheSameInstant) {
  const double expected = 34644 + 31777 / 86400.0;  // Sun, 06 Nov 1994 08:49:37
  for (const char* text :
       {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
        "Sun Nov  6 08:49:37 1994", "sun, 6 NOV 1994 08:49:37", "06 nov 1994 08 49 37",
        "Sun, 06 Nov 1994 08:49:37 utc", "  06-Nov-1994 08:49:37  "}) {
    SCOPED_TRACE(text);
    const ExactBytes input(text);
    EXPECT_NEAR(ParseHttpDate(input.View()), expected, 1e-9);
  }
}

TEST(ParseHttpDate, RoundTripsTheDateText) {
  for (const double value :
       {0.0, 1.0, 46362 + 31858 / 86400.0, 36585 + 86399 / 86400.0, -1.25, -700.75, 2958465.5}) {
    SCOPED_TRACE(value);
    EXPECT_NEAR(ParseHttpDate(HttpDateText(value)), value, 1e-9);
  }
}

TEST(ParseHttpDate, UnreadableTextsRaiseConvertErrorsNamingThePart) {
  const struct {
    const char* text;
    const char* part;  // must appear in the message
  } cases[] = {
      {"Sun, xx Nov 1994 08:49:37 GMT", "'xx'"},
      {"Sun, 06 Nov 1994 08:4a:37 GMT", "'a'"},
      {"Sun, 06 Nov 1994 08:49 GMT", "'GMT'"},
      {"Sun, 06 Nov 1994", "''"},
      {"Sun, 06 Foo 1994 08:49:37 GMT", "'Foo'"},
      {"Sun, 06 Nov 99999999999 08:49:37 GMT", "'99999999999'"},
      {"Sun, 31 Feb 1994 08:49:37 GMT", "31 Feb"},
      {"Sun, 06 Nov 1994 24:00:00 GMT", "24:00"},
      {"Sun, 06 Nov 1994 08:49:37 GMT extra", "extra"},
      {"\x83\x41", "'\x83'"},
      {"", "''"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const ExactBytes input(c.text);
    try {
      ParseHttpDate(input.View());
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& error) {
      EXPECT_NE(error.Message().find(c.part), std::string::npos) << error.Message();
      EXPECT_STREQ(error.ClassName(), "EConvertError");
    }
  }
}

}  // namespace
}  // namespace orvane
