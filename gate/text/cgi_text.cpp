// Environment reads, URL decoding and query splitting.
#include "gate/text/cgi_text.h"

#include "host/http_text.h"
#include "platform/platform.h"
#include "platform/shift_jis.h"

namespace orvane {
namespace {

// Position of the first "&" at or after start that is not a second byte; npos if none.
std::size_t FindItemEnd(std::string_view query, std::size_t start) {
  std::size_t i = start;
  while (i < query.size()) {
    if (query[i] == '&') return i;
    i += CharacterLength(query, i);
  }
  return std::string_view::npos;
}

// Calls visit with each URL-decoded item of the query, in order. Every item is decoded
// into one buffer, so a query of many small items costs no more than its largest item.
template <typename Visit>
void ForEachQueryItem(std::string_view query, Visit&& visit) {
  // The remaining text counts as empty once only white space and controls are left.
  const std::size_t significant_end = TrimTrailingControls(query).size();
  std::string item;
  std::size_t start = 0;
  while (start < significant_end) {
    const std::size_t end = FindItemEnd(query, start);
    const std::size_t item_end = end == std::string_view::npos ? query.size() : end;
    item.clear();
    AppendUrlDecoded(item, query.substr(start, item_end - start));
    visit(std::string_view(item));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

void SplitQuery(std::string_view query, TFieldList* items, bool escape) {
  if (items == nullptr) return;
  items->clear();
  ForEachQueryItem(query, [items, escape](std::string_view item) {
    items->push_back(escape ? EscapeFieldText(item) : std::string(item));
  });
}

}  // namespace

std::string_view TrimTrailingControls(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return text.substr(0, end);
}

std::string GetEnv(const std::string& name) {
  return platform::GetEnvironment(name).value_or(std::string());
}

void AppendUrlDecoded(std::string& decoded, std::string_view encoded) {
  std::size_t i = 0;
  while (i < encoded.size()) {
    const char c = encoded[i];
    if (c == '+') {
      decoded.push_back(' ');
      ++i;
    } else if (c != '%') {
      // A run of plain bytes is copied at once.
      std::size_t run_end = encoded.find_first_of("+%", i);
      if (run_end == std::string_view::npos) run_end = encoded.size();
      decoded.append(encoded.substr(i, run_end - i));
      i = run_end;
    } else if (i + 2 < encoded.size()) {
      const int high = HexDigitValue(encoded[i + 1]);
      const int low = HexDigitValue(encoded[i + 2]);
      decoded.push_back(high < 0 || low < 0 ? '\0' : static_cast<char>(high * 16 + low));
      i += 3;
    } else {
      // A "%" with fewer than two bytes after it ends the input.
      const int digit = i + 1 < encoded.size() ? HexDigitValue(encoded[i + 1]) : -1;
      decoded.push_back(digit < 0 ? '\0' : static_cast<char>(digit));
      break;
    }
  }
}

std::string UrlDecode(std::string_view encoded) {
  std::string decoded;
  decoded.reserve(encoded.size());
  AppendUrlDecoded(decoded, encoded);
  return decoded;
}

void SplitQueryString(std::string_view query, TFieldList* items) {
  SplitQuery(query, items, false);
}

void SplitQueryStringEscaped(std::string_view query, TFieldList* items) {
  SplitQuery(query, items, true);
}

std::size_t QueryItemsEscapedSize(std::string_view query) {
  std::size_t size = 0;
  ForEachQueryItem(query,
                   [&size](std::string_view item) { size += EscapedFieldTextSize(item) + 2; });
  return size;
}

void AppendQueryItemsEscaped(std::string_view query, std::string& text) {
  ForEachQueryItem(query, [&text](std::string_view item) {
    AppendEscapedFieldText(text, item);
    text.append("\r\n");
  });
}

std::string GetQueryValue(std::string_view query, std::string_view name) {
  TFieldList items;
  SplitQueryString(query, &items);
  return FieldValue(items, name);
}

}  // namespace orvane
