// What one request may bring: its decoded fields as a whole, and the part of a member
// record or a leaf record that it writes. Both bound the memory of every command and
// the size of every page later built from a stored record.
#pragma once

#include <cstddef>
#include <string_view>

namespace orvane {

// The decoded, escaped fields of one request. Far above any form's needs (a record's
// part, its password twice and the hidden fields), yet a value of quotes six times its
// size once escaped is never built.
inline constexpr std::size_t kMostFormTextSize = std::size_t{1} << 20;

// A record's text as one request writes it: a new member record, a leaf record, or
// the lines a password or profile change brings to an existing record.
inline constexpr std::size_t kMostRecordSize = std::size_t{64} << 10;

inline constexpr char kEntryTooLong[] = "The entry is too long. 入力が長すぎます";

// The size of the record line name "=" value CR LF.
constexpr std::size_t FieldLineSize(std::string_view name, std::string_view value) {
  return name.size() + 1 + value.size() + 2;
}

}  // namespace orvane
