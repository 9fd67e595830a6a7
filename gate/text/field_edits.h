// Changes to the text of a field list, kept beside the text instead of splitting it into
// lines: a record of many lines is held once, and only the changed lines are extra.
// Lookups and the lines given out are those of the same changes made with FieldValue and
// SetFieldValue to ParseFieldList of the text.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "gate/text/field_list.h"

namespace orvane {

class TFieldEdits {
 public:
  // The text is viewed, not copied: it must outlive the edits.
  explicit TFieldEdits(std::string_view text);

  // The value of the first line of that name; valid until the next Set.
  std::string_view Value(std::string_view name) const;
  // Replaces the first line of that name with name=value, or appends that line when there
  // is none; an empty value removes the first line of that name instead.
  void Set(std::string_view name, std::string_view value) { Replace(name, name, value); }
  // The same, but the line set is new_name=value, in the place of the first line named name.
  void Replace(std::string_view name, std::string_view new_name, std::string_view value);
  // Every line, edited, in order, without its line end.
  void ForEachLine(const std::function<void(std::string_view)>& visit) const;

 private:
  // A line of the text replaced (line holds its new text) or removed.
  struct Edit {
    std::size_t start;  // position of the line in the text
    bool removed;
    std::string line;
  };
  // The first line of the name: a line of the text (by its start) or an appended one.
  struct Place {
    std::size_t start = std::string_view::npos;
    std::size_t appended = std::string_view::npos;
  };

  // Calls visit(start, line) for every line of the text not removed, with its edited
  // text; stops when visit returns true.
  void Walk(const std::function<bool(std::size_t, std::string_view)>& visit) const;
  Place Find(std::string_view name) const;

  std::string_view text_;
  std::vector<Edit> edits_;  // ordered by start
  TFieldList appended_;
};

}  // namespace orvane
