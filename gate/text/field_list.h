// Field lists: ordered name=value lines, joined with CR LF after every line and split
// at CR LF, lone CR or lone LF; a NUL byte ends the text. Names match ignoring ASCII
// letter case and the first match wins.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

using TFieldList = std::vector<std::string>;

// The lines of a text, by the splitting rule, one at a time as views into it.
class TFieldLineReader {
 public:
  explicit TFieldLineReader(std::string_view text);
  // The next line; false when the text has no more.
  bool Next(std::string_view& line);

 private:
  static constexpr std::size_t kUnknown = std::string_view::npos - 1;
  std::size_t NextOf(char byte, std::size_t& cached);

  std::string_view text_;
  std::size_t start_ = 0;
  std::size_t next_cr_ = kUnknown;  // the next CR at or after start_, npos when none
  std::size_t next_lf_ = kUnknown;
};

TFieldList ParseFieldList(std::string_view text);
std::string JoinFieldList(const TFieldList& list);
std::string_view FieldName(std::string_view line);
std::optional<std::size_t> FindField(const TFieldList& list, std::string_view name);
std::string FieldValue(const TFieldList& list, std::string_view name);
void SetFieldValue(TFieldList& list, std::string_view name, std::string_view value);

// The value of the first line of that name in a text, without splitting it into a list.
std::string_view FieldValueInText(std::string_view text, std::string_view name);

// Whole-file reads and writes of a field list (reading shares with readers only,
// writing shares with nobody); file errors are raised with the path and the reason.
TFieldList ReadFieldFile(const std::string& path);
void WriteFieldFile(const std::string& path, const TFieldList& list);

}  // namespace orvane
