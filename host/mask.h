// A compiled wildcard pattern ("*", "?", sets and ranges; Shift_JIS aware).
#pragma once

#include <bitset>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"

namespace orvane {

ORVANE_DECLARE_EXCEPTION(EMaskException, Exception);

class TMask {
 public:
  // Compiles the pattern; throws EMaskException when it is invalid.
  explicit TMask(const std::string& pattern);
  bool IsMatch(const std::string& text) const;

  // Most elements that may carry a skip mark ("*").
  static constexpr int kMaxSkips = 30;

 private:
  enum class Kind { Literal, AnyByte, Set, DoubleByte, EndOfText };
  struct Element {
    bool skip = false;
    int skip_index = 0;  // ordinal among the skip-marked elements
    Kind kind = Kind::Literal;
    unsigned char byte = 0;    // Literal: upper-cased; DoubleByte: the lead byte
    unsigned char second = 0;  // DoubleByte: the second byte
    bool negated = false;      // Set
    std::bitset<256> set;      // Set: upper-cased byte values
  };

  void Compile(std::string_view pattern);
  std::size_t CompileSet(std::string_view pattern, std::size_t open);
  void AddElement(Element element, std::size_t position);
  [[noreturn]] void Invalid(std::size_t position) const;
  bool Test(const Element& element, std::string_view text, std::size_t position) const;
  struct RetryPoints;
  bool Attempt(std::string_view text, std::size_t position, std::size_t first,
               RetryPoints& retries) const;

  std::string pattern_;
  std::vector<Element> elements_;
  bool skip_pending_ = false;
  int skip_count_ = 0;
};

}  // namespace orvane
