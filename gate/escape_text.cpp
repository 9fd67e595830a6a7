// Replacement and escaping of text values.
#include "gate/cgi_text.h"
#include "host/ascii_case.h"
#include "platform/shift_jis.h"

namespace orvane {
std::string ReplaceAllText(std::string_view text, std::string_view pattern,
                           std::string_view replacement) {
  if (pattern.empty()) return std::string(text);
  std::string result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (EqualsIgnoringAsciiCase(text.substr(i, pattern.size()), pattern)) {
      result.append(replacement);
      i += pattern.size();
    } else {
      const std::size_t length = CharacterLength(text, i);  // no match on a second byte
      result.append(text.substr(i, length));
      i += length;
    }
  }
  return result;
}

// One pass gives what the six replacement steps give: none of the six patterns can be
// a second byte, and every replacement is plain ASCII, so the steps never interact.
void AppendEscapedFieldText(std::string& result, std::string_view text) {
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
}

std::string EscapeFieldText(std::string_view text) {
  std::string result;
  result.reserve(text.size() + text.size() / 8);
  AppendEscapedFieldText(result, text);
  return result;
}

}  // namespace orvane
