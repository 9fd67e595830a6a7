// URL decoding, query splitting and escaping, each against a plain reference.
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "gate/text/cgi_text.h"
#include "gate/text/field_list.h"
#include "gate/web_module1.h"

namespace {

using orvane::fuzz::Check;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Byte by byte, as the decoding rule reads: "+", "%XX" (a bad digit gives a zero byte),
// a short "%" at the end.
std::string ReferenceUrlDecode(std::string_view in) {
  std::string out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '+') {
      out += ' ';
    } else if (in[i] != '%') {
      out += in[i];
    } else if (i + 2 < in.size()) {
      const int high = HexValue(in[i + 1]);
      const int low = HexValue(in[i + 2]);
      out += high < 0 || low < 0 ? '\0' : static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      const int digit = i + 1 < in.size() ? HexValue(in[i + 1]) : -1;
      out += digit < 0 ? '\0' : static_cast<char>(digit);
      break;
    }
  }
  return out;
}

// The six replacement steps, literally. Decimal character references ("&#") are left
// out of the comparison: their escaping is not a plain replacement.
std::string ReferenceEscape(std::string_view text) {
  std::string out = orvane::ReplaceAllText(text, "&", "&amp;");
  out = orvane::ReplaceAllText(out, " ", "&nbsp;");
  out = orvane::ReplaceAllText(out, "<", "&lt;");
  out = orvane::ReplaceAllText(out, ">", "&gt;");
  out = orvane::ReplaceAllText(out, "\"", "&quot;");
  return orvane::ReplaceAllText(out, "\r\n", "<br>");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(orvane::fuzz::AsView(data, size));

  Check(orvane::UrlDecode(input) == ReferenceUrlDecode(input), "UrlDecode matches the rule");
  if (input.find("&#") == std::string::npos) {
    Check(orvane::EscapeFieldText(input) == ReferenceEscape(input),
          "EscapeFieldText matches the six steps");
  }

  orvane::TFieldList plain;
  orvane::TFieldList escaped;
  orvane::SplitQueryString(input, &plain);
  orvane::SplitQueryStringEscaped(input, &escaped);
  Check(plain.size() == escaped.size(), "both splits give the same items");
  for (std::size_t i = 0; i < plain.size(); ++i) {
    Check(orvane::EscapeFieldText(plain[i]) == escaped[i], "an escaped item is its escaping");
  }
  std::string appended;
  orvane::AppendQueryItemsEscaped(input, appended);
  Check(appended == orvane::JoinFieldList(escaped), "appended items are the joined list");

  const auto [name, query] = orvane::fuzz::CutFirstLine(input);
  orvane::TFieldList items;
  orvane::SplitQueryString(query, &items);
  Check(orvane::GetQueryValue(query, name) == orvane::FieldValue(items, name),
        "GetQueryValue is the list lookup");

  orvane::TWebModule1 module;
  module.ParseUrlEncodedBody(input);
  Check(module.FormText == appended, "the decoder's form text is the joined escaped items");
  return 0;
}
