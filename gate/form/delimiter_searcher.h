// Search for one fixed byte pattern, in time linear in the text whatever the pattern:
// a client chooses the multipart delimiter, so a skip search alone could be made
// quadratic by a delimiter such as "b" followed by many "a" over a body of "a".
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace orvane {

// Two-way string matching with a last-byte skip table. Holds a view of the pattern,
// which must outlive the searcher.
class TDelimiterSearcher {
 public:
  explicit TDelimiterSearcher(std::string_view pattern);

  // The position of the first occurrence at or after `from`; npos when there is none.
  // An empty pattern is never found.
  std::size_t Find(std::string_view text, std::size_t from = 0) const;

 private:
  std::string_view pattern_;
  std::size_t split_ = 0;   // length of the left half of the critical factorization
  std::size_t period_ = 1;  // shift after the right half matched and the left did not
  std::size_t memory_ = 0;  // pattern bytes known to match after that shift (periodic case)
  std::array<std::size_t, 256> end_of_last_ = {};  // 1 + last index of each byte, 0 if absent
};

}  // namespace orvane
