#include "gate/text/time_stamp.h"

namespace orvane {
namespace {

// Appends the number zero-padded to at least the given width.
void AppendPadded(std::string& text, int number, std::size_t width) {
  std::string digits = std::to_string(number < 0 ? 0 : number);
  if (digits.size() < width) text.append(width - digits.size(), '0');
  text += digits;
}

std::string DateText(const platform::LocalDateTime& time) {
  std::string text;
  AppendPadded(text, time.year, 4);
  AppendPadded(text, time.month, 2);
  AppendPadded(text, time.day, 2);
  return text;
}

}  // namespace

std::string FormatRequestStamp(const platform::LocalDateTime& time) {
  std::string text = DateText(time);
  text += '-';
  AppendPadded(text, time.hour, 2);
  AppendPadded(text, time.minute, 2);
  AppendPadded(text, time.second, 2);
  text += '-';
  AppendPadded(text, time.millisecond, 3);
  return text;
}

std::string FormatRequestDay(const platform::LocalDateTime& time) { return DateText(time); }

std::string FormatLogTime(const platform::LocalDateTime& time) {
  std::string text = DateText(time);
  text += '-';
  AppendPadded(text, time.hour, 2);
  text += ':';
  AppendPadded(text, time.minute, 2);
  text += ':';
  AppendPadded(text, time.second, 2);
  return text;
}

}  // namespace orvane
