// One name=value line: the name is the text before its first "=", the value all
// after it; a line without "=" has no name. Field lists and extra header lines share it.
#pragma once

#include <string_view>

namespace orvane {

// The name, or the empty text for a line without "=".
std::string_view FieldLineName(std::string_view line);
// Everything after the first "=", or the empty text for a line without one.
std::string_view FieldLineValue(std::string_view line);
// True when the line holds "=" and its name equals the given one ignoring ASCII case.
bool IsFieldLineNamed(std::string_view line, std::string_view name);

}  // namespace orvane
