#include "gate/text/field_edits.h"

#include <algorithm>
#include <iterator>

#include "host/field_line.h"

namespace orvane {

TFieldEdits::TFieldEdits(std::string_view text) : text_(text) {}

void TFieldEdits::Walk(const std::function<bool(std::size_t, std::string_view)>& visit) const {
  TFieldLineReader reader(text_);
  auto edit = edits_.begin();  // the edits are met in the order of the lines
  for (std::string_view line; reader.Next(line);) {
    const auto start = static_cast<std::size_t>(line.data() - text_.data());
    if (edit != edits_.end() && edit->start == start) {
      const bool removed = edit->removed;
      const std::string_view edited = edit->line;
      ++edit;
      if (removed) continue;
      line = edited;
    }
    if (visit(start, line)) return;
  }
}

TFieldEdits::Place TFieldEdits::Find(std::string_view name) const {
  Place place;
  Walk([&](std::size_t start, std::string_view line) {
    if (!IsFieldLineNamed(line, name)) return false;
    place.start = start;
    return true;
  });
  if (place.start != std::string_view::npos) return place;
  const auto named = [name](const std::string& line) { return IsFieldLineNamed(line, name); };
  const auto found = std::find_if(appended_.begin(), appended_.end(), named);
  if (found != appended_.end()) {
    place.appended = static_cast<std::size_t>(std::distance(appended_.begin(), found));
  }
  return place;
}

std::string_view TFieldEdits::Value(std::string_view name) const {
  std::string_view value;
  bool found = false;
  Walk([&](std::size_t, std::string_view line) {
    found = IsFieldLineNamed(line, name);
    if (found) value = FieldLineValue(line);
    return found;
  });
  if (found) return value;
  for (const std::string& line : appended_) {
    if (IsFieldLineNamed(line, name)) return FieldLineValue(line);
  }
  return {};
}

void TFieldEdits::Replace(std::string_view name, std::string_view new_name,
                          std::string_view value) {
  const Place place = Find(name);
  std::string line;
  if (!value.empty()) {
    line.reserve(new_name.size() + 1 + value.size());
    line.append(new_name).append("=").append(value);
  }
  if (place.appended != std::string_view::npos) {
    const auto at = appended_.begin() + static_cast<std::ptrdiff_t>(place.appended);
    if (value.empty()) {
      appended_.erase(at);
    } else {
      *at = std::move(line);
    }
  } else if (place.start != std::string_view::npos) {
    const auto at =
        std::lower_bound(edits_.begin(), edits_.end(), place.start,
                         [](const Edit& edit, std::size_t start) { return edit.start < start; });
    Edit edit{place.start, value.empty(), std::move(line)};
    if (at != edits_.end() && at->start == place.start) {
      *at = std::move(edit);
    } else {
      edits_.insert(at, std::move(edit));
    }
  } else if (!value.empty()) {
    appended_.push_back(std::move(line));
  }
}

void TFieldEdits::ForEachLine(const std::function<void(std::string_view)>& visit) const {
  Walk([&visit](std::size_t, std::string_view line) {
    visit(line);
    return false;
  });
  for (const std::string& line : appended_) visit(line);
}

}  // namespace orvane
