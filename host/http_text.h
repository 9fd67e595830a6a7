// Stateless HTTP text operations shared by the request and the response.
#pragma once

#include <string>
#include <string_view>

#include "host/http_date.h"

namespace orvane {

// Reason text of a status code; empty for codes outside the table.
std::string ReasonPhrase(int code);
// Cookie-style form encoding: safe bytes kept, blank "+", others "%XX"; stops at NUL.
std::string FormEncode(std::string_view text);
std::string BackslashesToSlashes(std::string_view text);
// The value of a hexadecimal digit of either case, or -1 for any other byte.
int HexDigitValue(char c);

}  // namespace orvane
