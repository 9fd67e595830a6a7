// HTTP date texts for date-time values: days since 30 December 1899, the fraction
// being the time of day; -1 means no date.
#pragma once

#include <string>
#include <string_view>

namespace orvane {

// English abbreviations for a date-time value, independent of any locale.
std::string EnglishDayName(double date_time);
std::string EnglishMonthName(double date_time);
// "Sun, 06 Dec 2026 08:50:58 GMT" for a date-time value, no time-zone conversion.
// Raises EConvertError for a value outside the years 1 to 9999.
std::string HttpDateText(double date_time);
// Reads an HTTP date text (RFC 1123, RFC 850 or asctime layout); raises EConvertError
// carrying the part that could not be read.
double ParseHttpDate(std::string_view text);

}  // namespace orvane
