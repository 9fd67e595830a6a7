// Field lists: the module's text operations against the list operations they stand for.
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "gate/text/field_list.h"
#include "gate/web_module1.h"
#include "host/ascii_case.h"

namespace {

using orvane::fuzz::Check;

// The removal as the rule says: split, drop every line of the name, join.
std::string ReferenceRemove(std::string_view text, std::string_view name) {
  orvane::TFieldList lines = orvane::ParseFieldList(text);
  orvane::TFieldList kept;
  for (const std::string& line : lines) {
    if (line.find('=') == std::string::npos ||
        !orvane::EqualsIgnoringAsciiCase(orvane::FieldName(line), name)) {
      kept.push_back(line);
    }
  }
  return orvane::JoinFieldList(kept);
}

// Every line whose lower-cased name holds "blank-" is checked through the first line of
// that name in the whole list.
bool ReferenceRequired(std::string_view text) {
  const orvane::TFieldList lines = orvane::ParseFieldList(text);
  for (const std::string& line : lines) {
    const std::string_view name = orvane::FieldName(line);
    if (name.empty()) continue;
    if (orvane::LowerCaseAscii(name).find("blank-") == std::string::npos) continue;
    if (orvane::FieldValue(lines, name).empty()) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto [name, text] = orvane::fuzz::CutFirstLine(orvane::fuzz::AsView(data, size));
  orvane::TWebModule1 module;

  const orvane::TFieldList lines = orvane::ParseFieldList(text);
  const std::string joined = orvane::JoinFieldList(lines);
  Check(orvane::ParseFieldList(joined) == lines, "a joined list splits into the same lines");
  Check(module.GetFieldValue(text, name) == orvane::FieldValue(lines, name),
        "GetFieldValue is the list lookup");
  Check(module.CheckRequiredFields(text) == ReferenceRequired(text),
        "CheckRequiredFields matches the rule");

  std::string removed(text);
  module.RemoveField(removed, name);
  Check(removed == ReferenceRemove(text, name), "RemoveField matches the rule");

  orvane::TFieldList changed = lines;
  const std::string value = name.empty() ? std::string() : std::string(name.substr(1));
  orvane::SetFieldValue(changed, name, value);
  // A name holding "=" or a line break, or a value holding a line break, makes other lines.
  const bool plain_line =
      name.find_first_of(std::string_view("=\r\n\0", 4)) == std::string_view::npos;
  if (!value.empty() && plain_line) {
    Check(orvane::FieldValue(changed, name) == value, "a set value reads back");
  }
  return 0;
}
