// Replacement and escaping of text values.
#include <cstdint>

#include "gate/text/cgi_text.h"
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

namespace {

// Whether an "&" at the position begins a decimal character reference that a browser
// sends for a character its Shift_JIS form cannot hold: "&#" digits ";" for a code
// point from 128 to 0x10FFFF that is not a surrogate, written without leading zeros.
// References to ASCII characters are never sent that way, so they stay escaped.
bool IsBrowserCharacterReference(std::string_view text, std::size_t position) {
  constexpr std::size_t kMostDigits = 7;  // 1114111
  std::size_t i = position + 1;
  if (i >= text.size() || text[i] != '#') return false;
  const std::size_t first_digit = ++i;
  std::uint32_t code_point = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - first_digit < kMostDigits) {
    code_point = code_point * 10 + static_cast<std::uint32_t>(text[i] - '0');
    ++i;
  }
  if (i == first_digit || text[first_digit] == '0') return false;
  if (i >= text.size() || text[i] != ';') return false;
  return code_point >= 128 && code_point <= 0x10FFFF &&
         (code_point < 0xD800 || code_point > 0xDFFF);
}

// One pass gives what the six replacement steps give: every pattern is a byte below
// 0x40, which is never the second byte of a double-byte character, and every
// replacement is plain ASCII, so the steps never interact and bytes need no pairing.
// The escaped text goes to emit in pieces, a run of unchanged bytes as one piece.
template <typename Emit>
void EmitEscapedFieldText(std::string_view text, Emit&& emit) {
  std::size_t run = 0;  // start of the unchanged bytes not yet emitted
  const auto replace = [&](std::size_t i, std::size_t length, std::string_view replacement) {
    if (i > run) emit(text.substr(run, i - run));
    emit(replacement);
    run = i + length;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    switch (text[i]) {
      case '&':
        if (!IsBrowserCharacterReference(text, i)) replace(i, 1, "&amp;");
        break;
      case ' ':
        replace(i, 1, "&nbsp;");
        break;
      case '<':
        replace(i, 1, "&lt;");
        break;
      case '>':
        replace(i, 1, "&gt;");
        break;
      case '"':
        replace(i, 1, "&quot;");
        break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') {
          replace(i, 2, "<br>");
          ++i;
        }
        break;
      default:
        break;
    }
  }
  if (text.size() > run) emit(text.substr(run));
}

}  // namespace

void AppendEscapedFieldText(std::string& result, std::string_view text) {
  EmitEscapedFieldText(text, [&result](std::string_view piece) { result.append(piece); });
}

std::size_t EscapedFieldTextSize(std::string_view text) {
  std::size_t size = 0;
  EmitEscapedFieldText(text, [&size](std::string_view piece) { size += piece.size(); });
  return size;
}

std::string EscapeFieldText(std::string_view text) {
  std::string result;
  result.reserve(text.size() + text.size() / 8);
  AppendEscapedFieldText(result, text);
  return result;
}

}  // namespace orvane
