#include "gate/field_list.h"

#include "gate/file_text.h"
#include "host/ascii_case.h"

namespace orvane {
namespace {

// The first "=" of a line separates name and value; a line without one has no name.
bool HasName(std::string_view line, std::string_view name) {
  const std::size_t equals = line.find('=');
  return equals != std::string_view::npos &&
         SameTextIgnoringAsciiCase(line.substr(0, equals), name);
}

}  // namespace

bool SameTextIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return EqualsIgnoringAsciiCase(a, b);
}

std::string LowerCaseAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return lower;
}

void ForEachFieldLine(std::string_view text, const std::function<void(std::string_view)>& visit) {
  const std::size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = start;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    visit(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') {
      start = end + 2;
    } else {
      start = end + 1;
    }
  }
}

TFieldList ParseFieldList(std::string_view text) {
  TFieldList list;
  ForEachFieldLine(text, [&list](std::string_view line) { list.emplace_back(line); });
  return list;
}

std::string JoinFieldList(const TFieldList& list) {
  std::size_t size = 0;
  for (const std::string& line : list) size += line.size() + 2;
  std::string text;
  text.reserve(size);
  for (const std::string& line : list) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::string_view FieldName(std::string_view line) {
  const std::size_t equals = line.find('=');
  return equals == std::string_view::npos ? std::string_view() : line.substr(0, equals);
}

std::optional<std::size_t> FindField(const TFieldList& list, std::string_view name) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (HasName(list[i], name)) return i;
  }
  return std::nullopt;
}

std::string FieldValue(const TFieldList& list, std::string_view name) {
  const std::optional<std::size_t> found = FindField(list, name);
  if (!found) return std::string();
  const std::string& line = list[*found];
  return line.substr(line.find('=') + 1);
}

void SetFieldValue(TFieldList& list, std::string_view name, std::string_view value) {
  const std::optional<std::size_t> found = FindField(list, name);
  if (value.empty()) {
    if (found) list.erase(list.begin() + static_cast<std::ptrdiff_t>(*found));
    return;
  }
  std::string line;
  line.reserve(name.size() + 1 + value.size());
  line.append(name).append("=").append(value);
  if (found) {
    list[*found] = std::move(line);
  } else {
    list.push_back(std::move(line));
  }
}

std::string_view FieldValueInText(std::string_view text, std::string_view name) {
  std::string_view value;
  bool found = false;
  ForEachFieldLine(text, [&](std::string_view line) {
    if (!found && HasName(line, name)) {
      value = line.substr(line.find('=') + 1);
      found = true;
    }
  });
  return value;
}

TFieldList ReadFieldFile(const std::string& path) { return ParseFieldList(LoadFileToString(path)); }

void WriteFieldFile(const std::string& path, const TFieldList& list) {
  SaveStringToFile(JoinFieldList(list), path);
}

}  // namespace orvane
