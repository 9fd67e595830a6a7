// The field operations of the web module on a field-list text.
#include <cstring>
#include <map>
#include <string>

#include "gate/text/field_list.h"
#include "gate/web_module1.h"
#include "host/ascii_case.h"
#include "host/field_line.h"

namespace orvane {

std::string TWebModule1::GetFieldValue(std::string_view text, std::string_view name) {
  return std::string(FieldValueInText(text, name));
}

// Rewritten in the text's own buffer, so a form text as large as the body is never
// held twice: the kept lines are first packed to the front, each ended by one LF (never
// longer than the line end it had), then every LF is widened to CR LF from the back.
void TWebModule1::RemoveField(std::string& text, std::string_view name_view) {
  const std::string name(name_view);  // the name may be a view into the text being rewritten
  const std::size_t nul = text.find('\0');
  if (nul == std::string::npos && !text.empty() && text.back() != '\r' && text.back() != '\n') {
    text.push_back('\n');  // room for the last line's LF; the lines stay the same
  }
  std::size_t packed = 0;
  std::size_t kept = 0;
  TFieldLineReader reader(text);
  for (std::string_view line; reader.Next(line);) {
    if (IsFieldLineNamed(line, name)) continue;
    // Only bytes before the line being read are written.
    std::memmove(text.data() + packed, line.data(), line.size());
    packed += line.size();
    text[packed++] = '\n';
    ++kept;
  }
  std::size_t write = packed + kept;
  text.resize(write);
  for (std::size_t read = packed; read > 0;) {
    const char c = text[--read];
    text[--write] = c;
    if (c == '\n') text[--write] = '\r';
  }
}

bool TWebModule1::CheckRequiredFields(std::string_view text) {
  // Whether the first line of each marked name (lower-cased) has a value: a marked
  // name is always checked through the first line of that name. An ordered map, since a
  // client choosing the names could make one hash bucket hold them all.
  std::map<std::string, bool> first_filled;
  TFieldLineReader reader(text);
  for (std::string_view line; reader.Next(line);) {
    const std::string_view name = FieldName(line);
    if (name.empty()) continue;
    std::string lower = LowerCaseAscii(name);
    if (lower.find("blank-") == std::string::npos) continue;
    first_filled.try_emplace(std::move(lower), line.size() > name.size() + 1);
  }
  for (const auto& [name, filled] : first_filled) {
    if (!filled) return false;
  }
  return true;
}

}  // namespace orvane
