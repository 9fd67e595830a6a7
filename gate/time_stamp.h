// Local date and time texts of a request: file names of dumps and posted files, and
// the time line of the error log.
#pragma once

#include <string>

#include "platform/platform.h"

namespace orvane {

std::string FormatRequestStamp(const platform::LocalDateTime& time);  // "yyyymmdd-hhmmss-zzz"
std::string FormatRequestDay(const platform::LocalDateTime& time);    // "yyyymmdd"
std::string FormatLogTime(const platform::LocalDateTime& time);       // "yyyymmdd-hh:mm:ss"

// The time of a request that reads its body: never the millisecond of this process's
// previous one. A persistent process answers requests faster than one a millisecond, and
// two requests of one stamp would share a dump name, the later replacing the earlier.
platform::LocalDateTime DistinctRequestTime();

}  // namespace orvane
