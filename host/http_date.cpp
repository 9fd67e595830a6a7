#include "host/http_date.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/exception.h"

namespace orvane {
namespace {

constexpr std::int64_t kMillisecondsPerDay = 86400000;
constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days since 1 January 1970 of a proleptic Gregorian date.
constexpr std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

// Day numbers of the date-time values count from 30 December 1899, day 0.
constexpr std::int64_t kDayZero = DaysFromCivil(1899, 12, 30);
constexpr std::int64_t kFirstDay = DaysFromCivil(1, 1, 1) - kDayZero;
constexpr std::int64_t kLastDay = DaysFromCivil(9999, 12, 31) - kDayZero;

struct DateTimeParts {
  int year, month, day, day_of_week;  // day_of_week: 0 is Sunday
  int hour, minute, second;
};

DateTimeParts CivilFromDay(std::int64_t day_number) {
  const std::int64_t z = day_number + kDayZero + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t day_of_era = z - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t mp = (5 * day_of_year + 2) / 153;
  DateTimeParts parts{};
  parts.day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
  parts.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  parts.year = static_cast<int>(year_of_era + era * 400 + (parts.month <= 2 ? 1 : 0));
  // Day 0 was a Saturday.
  parts.day_of_week = static_cast<int>(((day_number + 6) % 7 + 7) % 7);
  return parts;
}

// The date is the whole part and the time the absolute fraction, also before day 0.
DateTimeParts Decode(double date_time) {
  const double whole = std::trunc(date_time);
  if (!std::isfinite(date_time) || whole < static_cast<double>(kFirstDay) ||
      whole > static_cast<double>(kLastDay)) {
    throw EConvertError("Invalid date-time value");
  }
  std::int64_t day_number = static_cast<std::int64_t>(whole);
  std::int64_t milliseconds =
      std::llround(std::fabs(date_time - whole) * static_cast<double>(kMillisecondsPerDay));
  if (milliseconds >= kMillisecondsPerDay) {
    milliseconds -= kMillisecondsPerDay;
    ++day_number;
  }
  DateTimeParts parts = CivilFromDay(day_number);
  const std::int64_t seconds = milliseconds / 1000;
  parts.hour = static_cast<int>(seconds / 3600);
  parts.minute = static_cast<int>(seconds / 60 % 60);
  parts.second = static_cast<int>(seconds % 60);
  return parts;
}

enum class TokenKind { Word, Number, Punctuation, End };

struct Token {
  TokenKind kind;
  std::string_view text;
};

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Words, numbers and single punctuation characters; blanks only separate them.
std::vector<Token> Tokenize(std::string_view text) {
  std::vector<Token> tokens;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == ' ' || c == '\t') {
      ++pos;
      continue;
    }
    std::size_t end = pos + 1;
    TokenKind kind = TokenKind::Punctuation;
    if (IsAsciiLetter(c)) {
      kind = TokenKind::Word;
      while (end < text.size() && IsAsciiLetter(text[end])) ++end;
    } else if (IsDigit(c)) {
      kind = TokenKind::Number;
      while (end < text.size() && IsDigit(text[end])) ++end;
    }
    tokens.push_back({kind, text.substr(pos, end - pos)});
    pos = end;
  }
  return tokens;
}

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
  }
  return true;
}

int MonthOfWord(std::string_view word) {
  for (int i = 0; i < 12; ++i) {
    if (SameWord(word, kMonthNames[i])) return i + 1;
  }
  return 0;
}

std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted.append(1, '\'').append(text).append(1, '\'');
  return quoted;
}

// Reads tokens in order; every Take consumes one.
class TokenCursor {
 public:
  explicit TokenCursor(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  const Token& Peek() const { return next_ < tokens_.size() ? tokens_[next_] : kEnd; }
  bool AtEnd() const { return next_ >= tokens_.size(); }
  void Skip() { ++next_; }
  void SkipPunctuation(char c) {
    if (Peek().kind == TokenKind::Punctuation && Peek().text[0] == c) Skip();
  }

  int TakeNumber() {
    const Token& token = Peek();
    if (token.kind != TokenKind::Number || token.text.size() > 9) {
      throw EConvertError(Quoted(token.text) + " is not a valid integer value");
    }
    int value = 0;
    for (const char c : token.text) value = value * 10 + (c - '0');
    Skip();
    return value;
  }

  int TakeMonth() {
    const Token& token = Peek();
    const int month = token.kind == TokenKind::Word ? MonthOfWord(token.text) : 0;
    if (month == 0) throw EConvertError(Quoted(token.text) + " is not a valid month name");
    Skip();
    return month;
  }

 private:
  static constexpr Token kEnd{TokenKind::End, {}};
  std::vector<Token> tokens_;
  std::size_t next_ = 0;
};

struct TimeOfDay {
  int hour, minute, second;
};

TimeOfDay TakeTime(TokenCursor& cursor) {
  TimeOfDay time{};
  time.hour = cursor.TakeNumber();
  cursor.SkipPunctuation(':');
  time.minute = cursor.TakeNumber();
  cursor.SkipPunctuation(':');
  time.second = cursor.TakeNumber();
  return time;
}

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

std::string EnglishDayName(double date_time) { return kDayNames[Decode(date_time).day_of_week]; }

std::string EnglishMonthName(double date_time) { return kMonthNames[Decode(date_time).month - 1]; }

std::string HttpDateText(double date_time) {
  const DateTimeParts p = Decode(date_time);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDayNames[p.day_of_week],
                p.day, kMonthNames[p.month - 1], p.year, p.hour, p.minute, p.second);
  return text;
}

double ParseHttpDate(std::string_view text) {
  TokenCursor cursor(Tokenize(text));
  // A leading day-of-week name (short or long) says nothing the date does not.
  if (cursor.Peek().kind == TokenKind::Word && MonthOfWord(cursor.Peek().text) == 0) {
    cursor.Skip();
    cursor.SkipPunctuation(',');
  }
  int year = 0, month = 0, day = 0;
  TimeOfDay time{};
  if (cursor.Peek().kind == TokenKind::Word) {
    // asctime layout: month, day, time, year.
    month = cursor.TakeMonth();
    day = cursor.TakeNumber();
    time = TakeTime(cursor);
    year = cursor.TakeNumber();
  } else {
    // RFC 1123 "06 Nov 1994" and RFC 850 "06-Nov-94" layouts.
    day = cursor.TakeNumber();
    cursor.SkipPunctuation('-');
    month = cursor.TakeMonth();
    cursor.SkipPunctuation('-');
    year = cursor.TakeNumber();
    if (year < 100) year += 1900;
    time = TakeTime(cursor);
  }
  if (cursor.Peek().kind == TokenKind::Word &&
      (SameWord(cursor.Peek().text, "GMT") || SameWord(cursor.Peek().text, "UTC"))) {
    cursor.Skip();
  }
  if (!cursor.AtEnd()) {
    throw EConvertError(Quoted(text) + " is not a valid date and time");
  }
  if (year < 1 || year > 9999 || day < 1 || day > DaysInMonth(year, month) || time.hour > 23 ||
      time.minute > 59 || time.second > 59) {
    throw EConvertError(Quoted(text) + " is not a valid date and time");
  }
  const double day_number = static_cast<double>(DaysFromCivil(year, month, day) - kDayZero);
  const double fraction = (time.hour * 3600 + time.minute * 60 + time.second) / 86400.0;
  return day_number < 0 ? day_number - fraction : day_number + fraction;
}

}  // namespace orvane
