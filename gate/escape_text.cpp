// Replacement and escaping of text values.
#include <cstring>

#include "gate/cgi_text.h"
#include "host/ascii_case.h"
#include "platform/shift_jis.h"

namespace orvane {
namespace {

bool MatchesAt(std::string_view text, std::size_t at, std::string_view pattern) {
  if (text.size() - at < pattern.size()) return false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (UpperAscii(text[at + i]) != UpperAscii(pattern[i])) return false;
  }
  return true;
}

}  // namespace

std::string ReplaceAllText(std::string_view text, std::string_view pattern,
                           std::string_view replacement) {
  if (pattern.empty()) return std::string(text);
  std::string result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (MatchesAt(text, i, pattern)) {
      result.append(replacement);
      i += pattern.size();
    } else if (IsLeadByte(text[i]) && i + 1 < text.size()) {
      result.append(text.substr(i, 2));  // a match never starts on a second byte
      i += 2;
    } else {
      result.push_back(text[i]);
      ++i;
    }
  }
  return result;
}

// One pass gives what the six replacement steps give: none of the six patterns can be
// a second byte, and every replacement is plain ASCII, so the steps never interact.
std::string EscapeFieldText(std::string_view text) {
  std::string result;
  result.reserve(text.size() + text.size() / 8);
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    switch (c) {
      case '&': result.append("&amp;"); break;
      case ' ': result.append("&nbsp;"); break;
      case '<': result.append("&lt;"); break;
      case '>': result.append("&gt;"); break;
      case '"': result.append("&quot;"); break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') {
          result.append("<br>");
          ++i;
        } else {
          result.push_back(c);
        }
        break;
      default:
        if (IsLeadByte(c) && i + 1 < text.size()) {
          result.append(text.substr(i, 2));
          ++i;
        } else {
          result.push_back(c);
        }
    }
    ++i;
  }
  return result;
}

}  // namespace orvane
