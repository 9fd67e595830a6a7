// Stateless HTTP text operations shared by the request and the response.
#pragma once

#include <string>
#include <string_view>

namespace orvane {

// Reason text of a status code; empty for codes outside the table.
std::string ReasonPhrase(int code);
// Cookie-style form encoding: safe bytes kept, blank "+", others "%XX"; stops at NUL.
std::string FormEncode(std::string_view text);
// English abbreviations for a date-time value (days since 30 December 1899).
std::string EnglishDayName(double date_time);
std::string EnglishMonthName(double date_time);
// "Sun, 06 Dec 2026 08:50:58 GMT" for a date-time value, no time-zone conversion.
std::string HttpDateText(double date_time);
// Reads an HTTP date text; raises EConvertError when a numeric part is not a number.
double ParseHttpDate(std::string_view text);
std::string BackslashesToSlashes(std::string_view text);

}  // namespace orvane
