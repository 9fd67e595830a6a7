// Small helpers shared by the fuzz targets: the input as a view, cut at its first line
// break, and a check that stops the run with a message when a comparison fails.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace orvane::fuzz {

inline std::string_view AsView(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The text before the first LF and the text after it; all of it and nothing without one.
inline std::pair<std::string_view, std::string_view> CutFirstLine(std::string_view input) {
  const std::size_t end = input.find('\n');
  if (end == std::string_view::npos) return {input, {}};
  return {input.substr(0, end), input.substr(end + 1)};
}

// A failed comparison is a finding: abort, so that libFuzzer keeps the input.
inline void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::abort();
}

}  // namespace orvane::fuzz
