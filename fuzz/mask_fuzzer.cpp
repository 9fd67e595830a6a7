// Wildcard patterns: any pattern compiles or is rejected with EMaskException, and any
// text is matched in bounded time.
#include <string>

#include "fuzz/fuzz_input.h"
#include "host/ascii_case.h"
#include "host/mask.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto [pattern, text] = orvane::fuzz::CutFirstLine(orvane::fuzz::AsView(data, size));
  const std::string text_copy(text);
  try {
    const orvane::TMask mask{std::string(pattern)};
    const bool matched = mask.IsMatch(text_copy);
    // A pattern without wildcard or set bytes is a case-insensitive comparison.
    if (pattern.find_first_of("*?[") == std::string_view::npos) {
      bool ascii = true;
      for (char c : pattern) ascii = ascii && c != 0 && static_cast<unsigned char>(c) < 0x80;
      for (char c : text) ascii = ascii && c != 0 && static_cast<unsigned char>(c) < 0x80;
      if (ascii) {
        orvane::fuzz::Check(matched == orvane::EqualsIgnoringAsciiCase(pattern, text),
                            "a literal pattern matches its own text only");
      }
    }
  } catch (const orvane::EMaskException&) {
  }
  return 0;
}
