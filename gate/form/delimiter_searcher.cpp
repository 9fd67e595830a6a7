#include "gate/form/delimiter_searcher.h"

#include <algorithm>
#include <cstring>

namespace orvane {
namespace {

unsigned char Byte(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

struct Factorization {
  std::size_t split;
  std::size_t period;
};

// The start and period of the maximal suffix of the pattern under the byte order, or
// under its reverse.
Factorization MaximalSuffix(std::string_view x, bool reversed) {
  const std::ptrdiff_t length = static_cast<std::ptrdiff_t>(x.size());
  std::ptrdiff_t ip = -1, jp = 0, k = 1, p = 1;
  while (jp + k < length) {
    const unsigned char a = Byte(x, static_cast<std::size_t>(ip + k));
    const unsigned char b = Byte(x, static_cast<std::size_t>(jp + k));
    if (a == b) {
      if (k == p) {
        jp += p;
        k = 1;
      } else {
        ++k;
      }
    } else if (reversed ? a < b : a > b) {
      jp += k;
      k = 1;
      p = jp - ip;
    } else {
      ip = jp++;
      k = p = 1;
    }
  }
  return {static_cast<std::size_t>(ip + 1), static_cast<std::size_t>(p)};
}

}  // namespace

TDelimiterSearcher::TDelimiterSearcher(std::string_view pattern) : pattern_(pattern) {
  const std::size_t length = pattern.size();
  if (length == 0) return;
  for (std::size_t i = 0; i < length; ++i) end_of_last_[Byte(pattern, i)] = i + 1;

  const Factorization forward = MaximalSuffix(pattern, false);
  const Factorization backward = MaximalSuffix(pattern, true);
  const Factorization critical = backward.split > forward.split ? backward : forward;
  split_ = critical.split;
  if (std::memcmp(pattern.data(), pattern.data() + critical.period, split_) == 0) {
    period_ = critical.period;
    memory_ = length - critical.period;
  } else {
    // No period to exploit: any shift beyond the longer half is safe.
    period_ = std::max(split_ == 0 ? 0 : split_ - 1, length - split_) + 1;
    memory_ = 0;
  }
}

std::size_t TDelimiterSearcher::Find(std::string_view text, std::size_t from) const {
  const std::size_t length = pattern_.size();
  if (length == 0) return std::string_view::npos;
  if (from > text.size() || text.size() - from < length) return std::string_view::npos;
  const std::size_t last = text.size() - length;
  std::size_t at = from;
  std::size_t memory = 0;
  while (at <= last) {
    // A byte absent from the pattern moves it past that byte. The next load does not
    // wait for this one, so this loop runs at the speed of memory.
    while (end_of_last_[Byte(text, at + length - 1)] == 0) {
      at += length;
      memory = 0;
      if (at > last) return std::string_view::npos;
    }
    const std::size_t skip = length - end_of_last_[Byte(text, at + length - 1)];
    if (skip != 0) {
      at += std::max(skip, memory);
      memory = 0;
      continue;
    }
    std::size_t i = std::max(split_, memory);
    while (i < length && pattern_[i] == text[at + i]) ++i;
    if (i < length) {
      at += i - split_ + 1;
      memory = 0;
      continue;
    }
    i = split_;
    while (i > memory && pattern_[i - 1] == text[at + i - 1]) --i;
    if (i <= memory) return at;
    at += period_;
    memory = memory_;
  }
  return std::string_view::npos;
}

}  // namespace orvane
