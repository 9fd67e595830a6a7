// The site check of stored records: markup that a page would show as it stands.
#include <algorithm>
#include <cstdio>

#include "gate/field_list.h"
#include "gate/file_text.h"
#include "gate/site_check.h"
#include "platform/exception.h"
#include "platform/platform.h"
#include "platform/shift_jis.h"

namespace orvane {
namespace {

// More findings than this in one directory are counted, not listed.
constexpr std::size_t kListedFindings = 20;

std::string Hex(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

// The first markup of one line, or an empty text.
std::string FirstMarkup(std::string_view line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<unsigned char>(line[i]);
    if (IsLeadByte(byte) && i + 1 < line.size()) {
      const auto next = static_cast<unsigned char>(line[i + 1]);
      if (next < 0x40) return "a lead byte " + Hex(byte) + " before the byte " + Hex(next);
      if (IsSecondByte(next)) ++i;
    } else if (byte == '"') {
      return "a raw '\"'";
    } else if (byte == '<' && line.substr(i, 4) != "<br>") {
      return "a raw \"<\"";
    }
  }
  return std::string();
}

bool IsRecordName(std::string_view name) {
  return name.size() > 4 && name.substr(name.size() - 4) == ".txt";
}

}  // namespace

std::vector<MarkupFinding> FindUnescapedMarkup(std::string_view record, bool leaf_record) {
  std::vector<MarkupFinding> findings;
  TFieldLineReader reader(record);
  std::string_view line;
  for (std::size_t number = 1; reader.Next(line); ++number) {
    if (leaf_record && (line == "<qelkeys>" || line == "</qelkeys>")) continue;
    std::string what = FirstMarkup(line);
    if (!what.empty()) findings.push_back({number, std::move(what)});
  }
  return findings;
}

void CheckRecordFiles(SiteReport& report, const std::string& directory, bool leaf_records) {
  auto entries = platform::ListDirectory(directory);
  if (!entries) return;  // an unlistable directory is reported with its setting
  for (const std::string& name : platform::UnspellableNames(directory)) {
    report.Warning(directory + name + " has a name that Shift_JIS cannot spell, so no request "
                       "reaches it (an older build read names in the system's code page)",
                   "rename it to the Shift_JIS name that its bytes in that code page spell");
  }
  std::sort(entries->begin(), entries->end());
  std::size_t found = 0;
  for (const std::string& name : *entries) {
    const std::string file = directory + name;
    if (!IsRecordName(name) || !platform::FileExists(file)) continue;
    std::string record;
    try {
      record = LoadFileToString(file);
    } catch (const Exception&) {
      continue;  // a record this account cannot read is left out
    }
    if (leaf_records && record.rfind("<qelkeys>", 0) != 0) continue;
    for (const MarkupFinding& finding : FindUnescapedMarkup(record, leaf_records)) {
      if (++found > kListedFindings) continue;
      report.Warning(file + " line " + std::to_string(finding.line) + " holds " + finding.what +
                         ", which a page shows as markup",
                     "escape it (&lt; &quot;) or remove the broken character");
    }
  }
  if (found > kListedFindings) {
    report.Warning(std::to_string(found - kListedFindings) + " more record lines in " + directory +
                       " hold markup",
                   "");
  }
}

}  // namespace orvane
