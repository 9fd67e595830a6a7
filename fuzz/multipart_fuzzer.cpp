// The multipart decoder over any body, and its delimiter searcher against a plain
// substring search.
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "gate/form/delimiter_searcher.h"
#include "gate/web_module1.h"

namespace {

using orvane::fuzz::Check;

// Every occurrence, from every start the decoder would use, as std::string_view::find
// gives it; the pattern is the body's first line, as the decoder takes it.
void CompareSearcher(std::string_view pattern, std::string_view text) {
  const orvane::TDelimiterSearcher searcher(pattern);
  if (pattern.empty()) {
    Check(searcher.Find(text) == std::string_view::npos, "an empty pattern is never found");
    return;
  }
  std::size_t from = 0;
  for (int hits = 0; hits < 1000 && from <= text.size(); ++hits) {
    const std::size_t expected = text.find(pattern, from);
    Check(searcher.Find(text, from) == expected, "searcher agrees with find");
    if (expected == std::string_view::npos) break;
    // Also from just after the start of the hit, where an overlapping one may begin.
    Check(searcher.Find(text, expected + 1) == text.find(pattern, expected + 1),
          "searcher agrees with find inside a hit");
    from = expected + pattern.size();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string body(orvane::fuzz::AsView(data, size));  // exact size: no slack to read
  const std::size_t line_end = body.find("\r\n");
  CompareSearcher(std::string_view(body).substr(0, line_end == std::string::npos ? 0 : line_end),
                  body);

  orvane::TWebModule1 module;
  module.ParseMultipartBody(body);
  // The upload is a view into the body, never a copy of something else.
  if (!module.UploadData.empty()) {
    Check(module.UploadData.data() >= body.data() &&
              module.UploadData.data() + module.UploadData.size() <= body.data() + body.size(),
          "the upload lies inside the body");
    Check(!module.UploadFileName.empty(), "an upload has a file name");
  }
  Check(module.FormText.empty() || std::string_view(module.FormText).ends_with("\r\n"),
        "every form line ends with CR LF");
  return 0;
}
