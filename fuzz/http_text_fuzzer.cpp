// The HTTP text utilities: date parsing and formatting, the request-variable integer,
// form encoding and the name=value line helpers, over any text.
#include <cmath>
#include <cstring>
#include <string>

#include "fuzz/fuzz_input.h"
#include "host/cgi_request.h"
#include "host/field_line.h"
#include "host/http_date.h"
#include "host/http_text.h"
#include "platform/exception.h"

namespace {

using orvane::fuzz::Check;

// A date that was read formats to a text that reads back as the same day and second.
void CheckDateText(std::string_view text) {
  double value = 0;
  try {
    value = orvane::ParseHttpDate(text);
  } catch (const orvane::EConvertError&) {
    return;
  }
  Check(std::isfinite(value), "a read date is finite");
  std::string formatted;
  try {
    formatted = orvane::HttpDateText(value);
  } catch (const orvane::EConvertError&) {
    return;  // a year outside 1 to 9999 has no text
  }
  // "Sun, 06 Nov 0019 ...": a year below 100 reads back with 1900 added, as the day-first
  // layout says, so only later years must come back unchanged.
  if (formatted.compare(12, 4, "0100") < 0) return;
  const double again = orvane::ParseHttpDate(formatted);
  Check(std::fabs(again - value) * 86400.0 < 1.0, "a formatted date reads back");
  Check(orvane::HttpDateText(again) == formatted, "a formatted date formats the same");
}

// Any double, NaN and infinities included, formats or raises EConvertError.
void CheckDateValue(std::string_view bytes) {
  if (bytes.size() < sizeof(double)) return;
  double value;
  std::memcpy(&value, bytes.data(), sizeof value);
  try {
    const std::string text = orvane::HttpDateText(value);
    Check(!text.empty(), "a date text is never empty");
    orvane::EnglishDayName(value);
    orvane::EnglishMonthName(value);
  } catch (const orvane::EConvertError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(orvane::fuzz::AsView(data, size));
  CheckDateText(input);
  CheckDateValue(input);

  const std::int32_t number = orvane::RequestVariableInteger(input);
  if (number >= 0 && input.find_first_not_of("0123456789") == std::string::npos) {
    Check(std::to_string(number) == input.substr(input.find_first_not_of('0') == std::string::npos
                                                     ? input.size() - 1
                                                     : input.find_first_not_of('0')),
          "a plain decimal reads as itself");
  }

  const std::string encoded = orvane::FormEncode(input);
  Check(encoded.find_first_of(" \r\n&=") == std::string::npos, "form encoding leaves no separator");
  Check(orvane::BackslashesToSlashes(input).size() == input.size(), "slashes keep the size");
  orvane::ReasonPhrase(static_cast<int>(size) - 1);

  const std::string_view name = orvane::FieldLineName(input);
  const std::string_view value = orvane::FieldLineValue(input);
  if (input.find('=') != std::string::npos) {
    Check(name.size() + 1 + value.size() == input.size(), "name, '=' and value make the line");
    Check(orvane::IsFieldLineNamed(input, name), "a line is named by its own name");
  }
  return 0;
}
