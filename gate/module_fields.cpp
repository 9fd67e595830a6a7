// The field operations of the web module on a field-list text.
#include <map>
#include <string>

#include "gate/field_list.h"
#include "gate/web_module1.h"
#include "host/ascii_case.h"
#include "host/field_line.h"

namespace orvane {

std::string TWebModule1::GetFieldValue(std::string_view text, std::string_view name) {
  return std::string(FieldValueInText(text, name));
}

void TWebModule1::RemoveField(std::string& text, std::string_view name) {
  std::string kept;
  kept.reserve(text.size() + 2);
  TFieldLineReader reader(text);
  for (std::string_view line; reader.Next(line);) {
    if (!IsFieldLineNamed(line, name)) kept.append(line).append("\r\n");
  }
  text = std::move(kept);
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
