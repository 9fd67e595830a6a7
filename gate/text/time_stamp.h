// Local date and time texts of a request: file names of dumps and posted files, and
// the time line of the error log. Two requests of one millisecond (of one process or of
// several) share a stamp; the dump and the time-stamp leaf that find their name taken
// take the next free suffix (FirstFreeStampName), so no request waits for the clock.
#pragma once

#include <string>

#include "platform/platform.h"

namespace orvane {

std::string FormatRequestStamp(const platform::LocalDateTime& time);  // "yyyymmdd-hhmmss-zzz"
std::string FormatRequestDay(const platform::LocalDateTime& time);    // "yyyymmdd"
std::string FormatLogTime(const platform::LocalDateTime& time);       // "yyyymmdd-hh:mm:ss"

}  // namespace orvane
