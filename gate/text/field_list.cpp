#include "gate/text/field_list.h"

#include <algorithm>
#include <cstring>

#include "gate/text/file_text.h"
#include "host/field_line.h"

namespace orvane {
TFieldLineReader::TFieldLineReader(std::string_view text)
    : text_(text.substr(0, text.find('\0'))) {}

// The next position of the byte at or after start_, found with memchr and kept until it is
// passed, so a text of many lone CRs before one LF is still scanned once for the LF.
std::size_t TFieldLineReader::NextOf(char byte, std::size_t& cached) {
  if (cached == kUnknown || (cached != std::string_view::npos && cached < start_)) {
    const void* hit = std::memchr(text_.data() + start_, byte, text_.size() - start_);
    cached = hit == nullptr
                 ? std::string_view::npos
                 : static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data());
  }
  return cached;
}

bool TFieldLineReader::Next(std::string_view& line) {
  if (start_ >= text_.size()) return false;
  const std::size_t end = std::min({NextOf('\r', next_cr_), NextOf('\n', next_lf_), text_.size()});
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
