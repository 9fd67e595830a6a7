// Text utilities of the gate: environment reads, URL decoding, query splitting and
// the escaping that submitted text values go through.
#pragma once

#include <string>
#include <string_view>

#include "gate/text/field_list.h"

namespace orvane {

// The variable's whole value; the empty text when it is unset or empty.
std::string GetEnv(const std::string& name);

// "+" gives a space, "%XX" the byte XX; a malformed escape gives a zero byte.
std::string UrlDecode(std::string_view encoded);
// The same, appended to decoded.
void AppendUrlDecoded(std::string& decoded, std::string_view encoded);

// Clears the list and fills it with the URL-decoded items of the query; no list, no work.
void SplitQueryString(std::string_view query, TFieldList* items);
// The same, each item also escaped with EscapeFieldText.
void SplitQueryStringEscaped(std::string_view query, TFieldList* items);
// Appends the decoded, escaped items of the query to text, each followed by CR LF: the
// joined text of SplitQueryStringEscaped's list, without holding the list.
void AppendQueryItemsEscaped(std::string_view query, std::string& text);
// The size of what AppendQueryItemsEscaped appends.
std::size_t QueryItemsEscapedSize(std::string_view query);
// The value of the first decoded item of that name (ASCII case ignored).
std::string GetQueryValue(std::string_view query, std::string_view name);

// The text without its trailing bytes of value 32 or below (spaces and controls).
std::string_view TrimTrailingControls(std::string_view text);

// Every occurrence of the pattern (ASCII case ignored, never starting on the second
// byte of a double-byte character) replaced; the replacement is not searched again.
std::string ReplaceAllText(std::string_view text, std::string_view pattern,
                           std::string_view replacement);

// "&" "&amp;", space "&nbsp;", "<" "&lt;", ">" "&gt;", '"' "&quot;", CR LF "<br>", in
// this order, as six ReplaceAllText steps would give; except that the "&" of a decimal
// character reference for a non-ASCII code point ("&#233;", as browsers send characters
// outside Shift_JIS) is kept, so the character shows as itself.
std::string EscapeFieldText(std::string_view text);
// The same, appended to result.
void AppendEscapedFieldText(std::string& result, std::string_view text);
// The size of the escaped text, counted without building it.
std::size_t EscapedFieldTextSize(std::string_view text);

}  // namespace orvane
