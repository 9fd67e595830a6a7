#include "gate/field_list.h"

#include "gate/file_text.h"
#include "host/field_line.h"

namespace orvane {
TFieldLineReader::TFieldLineReader(std::string_view text)
    : text_(text.substr(0, text.find('\0'))) {}

bool TFieldLineReader::Next(std::string_view& line) {
  if (start_ >= text_.size()) return false;
  std::size_t end = start_;
  while (end < text_.size() && text_[end] != '\r' && text_[end] != '\n') ++end;
  line = text_.substr(start_, end - start_);
  const bool crlf = end + 1 < text_.size() && text_[end] == '\r' && text_[end + 1] == '\n';
  start_ = end + (crlf ? 2 : 1);
  return true;
}

TFieldList ParseFieldList(std::string_view text) {
  TFieldList list;
  TFieldLineReader reader(text);
  for (std::string_view line; reader.Next(line);) list.emplace_back(line);
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

std::string_view FieldName(std::string_view line) { return FieldLineName(line); }

std::optional<std::size_t> FindField(const TFieldList& list, std::string_view name) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (IsFieldLineNamed(list[i], name)) return i;
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
  TFieldLineReader reader(text);
  for (std::string_view line; reader.Next(line);) {
    if (IsFieldLineNamed(line, name)) return FieldLineValue(line);
  }
  return {};
}

TFieldList ReadFieldFile(const std::string& path) { return ParseFieldList(LoadFileToString(path)); }

void WriteFieldFile(const std::string& path, const TFieldList& list) {
  SaveStringToFile(JoinFieldList(list), path);
}

}  // namespace orvane
