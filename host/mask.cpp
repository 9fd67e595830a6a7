#include "host/mask.h"

#include <utility>

#include "host/ascii_case.h"
#include "platform/shift_jis.h"

namespace orvane {
TMask::TMask(const std::string& pattern) : pattern_(pattern) { Compile(pattern_); }

void TMask::Invalid(std::size_t position) const {
  // "%1:d 番目の文字（'%0:s'）は正しくないマスク文字です" with the 1-based position and the
  // pattern.
  throw EMaskException(std::to_string(position) + " 番目の文字（'" + pattern_ +
                       "'）は正しくないマスク文字です");
}

void TMask::AddElement(Element element, std::size_t position) {
  element.skip = skip_pending_;
  skip_pending_ = false;
  if (element.skip) {
    if (++skip_count_ > kMaxSkips) Invalid(position);
    element.skip_index = skip_count_ - 1;
  }
  elements_.push_back(element);
}

void TMask::Compile(std::string_view pattern) {
  std::size_t i = 0;
  while (i < pattern.size()) {
    const auto byte = static_cast<unsigned char>(pattern[i]);
    Element element;
    if (byte == '*') {
      skip_pending_ = true;
      ++i;
      continue;
    }
    if (byte == '?') {
      // "*?" is the same as "*".
      if (!skip_pending_) {
        element.kind = Kind::AnyByte;
        AddElement(element, i + 1);
      }
      ++i;
      continue;
    }
    if (byte == '[') {
      i = CompileSet(pattern, i);
      continue;
    }
    if (IsLeadByte(byte)) {
      // A character cut short at the end of the pattern is invalid at its lead byte.
      if (i + 1 >= pattern.size()) Invalid(i + 1);
      element.kind = Kind::DoubleByte;
      element.byte = byte;
      element.second = static_cast<unsigned char>(pattern[i + 1]);
      AddElement(element, i + 1);
      i += 2;
      continue;
    }
    element.kind = Kind::Literal;
    element.byte = UpperAscii(byte);
    AddElement(element, i + 1);
    ++i;
  }
  Element end;
  end.kind = Kind::EndOfText;
  AddElement(end, pattern.size() + 1);
}

// Reads the set that opens at `open`; returns the position after its "]".
std::size_t TMask::CompileSet(std::string_view pattern, std::size_t open) {
  Element element;
  element.kind = Kind::Set;
  std::size_t i = open + 1;
  if (i < pattern.size() && pattern[i] == '!') {
    element.negated = true;
    ++i;
  }
  bool have_previous = false;
  unsigned char previous = 0;
  while (i < pattern.size() && pattern[i] != ']') {
    const auto byte = static_cast<unsigned char>(pattern[i]);
    if (IsLeadByte(byte)) {
      // Double-byte characters take no part in sets.
      i += 2;
      continue;
    }
    if (byte == '-') {
      if (!have_previous) Invalid(i + 1);
      if (i + 1 >= pattern.size()) {
        i = pattern.size();  // the pattern ends right after the hyphen: unclosed
        break;
      }
      const unsigned char last = UpperAscii(static_cast<unsigned char>(pattern[i + 1]));
      for (unsigned value = previous; value <= last; ++value) element.set.set(value);
      i += 2;
      continue;
    }
    previous = UpperAscii(byte);
    have_previous = true;
    element.set.set(previous);
    ++i;
  }
  if (i >= pattern.size()) Invalid(pattern.size() + 1);
  if (element.set.none()) Invalid(i + 1);
  AddElement(element, i + 1);
  return i + 1;
}

bool TMask::Test(const Element& element, std::string_view text, std::size_t position) const {
  const bool at_end = position >= text.size();
  switch (element.kind) {
    case Kind::EndOfText:
      return at_end;
    case Kind::AnyByte:
      return !at_end;
    case Kind::Literal:
      return !at_end && UpperAscii(static_cast<unsigned char>(text[position])) == element.byte;
    case Kind::Set:
      return !at_end && element.set.test(UpperAscii(static_cast<unsigned char>(text[position]))) !=
                            element.negated;
    case Kind::DoubleByte:
      return position + 1 < text.size() &&
             static_cast<unsigned char>(text[position]) == element.byte &&
             static_cast<unsigned char>(text[position + 1]) == element.second;
  }
  return false;
}

// The stack of retry points of one match. A point is pushed once only: a second attempt
// from the same point would explore the same states, and skipping it keeps a failing
// match polynomial instead of exponential in the number of stars.
struct TMask::RetryPoints {
  RetryPoints(std::size_t text_size, int skips) : stride(text_size + 2), seen(stride * skips) {}

  void Push(std::size_t position, const Element& element, std::size_t index) {
    const std::size_t key = static_cast<std::size_t>(element.skip_index) * stride + position;
    if (seen[key]) return;
    seen[key] = true;
    stack.emplace_back(position, index);
  }

  std::size_t stride;
  std::vector<bool> seen;
  std::vector<std::pair<std::size_t, std::size_t>> stack;  // (position, element)
};

bool TMask::Attempt(std::string_view text, std::size_t position, std::size_t first,
                    RetryPoints& retries) const {
  for (std::size_t k = first; k < elements_.size(); ++k) {
    const Element& element = elements_[k];
    if (element.skip) {
      while (position < text.size() && !Test(element, text, position)) {
        position += element.kind == Kind::DoubleByte ? CharacterLength(text, position) : 1;
      }
      if (position < text.size()) retries.Push(position + 1, element, k);
    }
    if (!Test(element, text, position)) return false;
    if (element.kind == Kind::EndOfText) return true;
    position += element.kind == Kind::DoubleByte ? 2 : 1;
  }
  return false;
}

bool TMask::IsMatch(const std::string& text) const {
  RetryPoints retries(text.size(), skip_count_);
  if (Attempt(text, 0, 0, retries)) return true;
  while (!retries.stack.empty()) {
    const auto [position, element] = retries.stack.back();
    retries.stack.pop_back();
    if (Attempt(text, position, element, retries)) return true;
  }
  return false;
}

}  // namespace orvane
