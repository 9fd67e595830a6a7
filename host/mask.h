// A compiled wildcard pattern ("*", "?", sets and ranges; Shift_JIS aware).
#pragma once

#include <string>

#include "platform/exception.h"

namespace orvane {

ORVANE_DECLARE_EXCEPTION(EMaskException, Exception);

class TMask {
 public:
  // Compiles the pattern; throws EMaskException when it is invalid.
  explicit TMask(const std::string& pattern);
  bool IsMatch(const std::string& text) const;

 private:
  std::string pattern_;
};

}  // namespace orvane
