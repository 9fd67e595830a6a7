// The site check of stored records: markup that a page would show as it stands.
#include <algorithm>
#include <cstdio>

#include "gate/field_list.h"
#include "gate/file_text.h"
#include "gate/site_check.h"
#include "host/field_line.h"
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

// What keeps a member record from working as stored: a NUL byte, past which a save cannot
// carry the record's lines, or no pw line (a byte-order mark before "pw=" hides it too),
// so the record has no password to check. Empty when neither.
std::vector<std::string> MemberRecordFaults(std::string_view record) {
  std::vector<std::string> faults;
  const std::size_t nul = record.find('\0');
  if (nul != std::string_view::npos) {
    const auto line = std::count(record.begin(), record.begin() + nul, '\n') + 1;
    faults.push_back("holds a NUL byte in line " + std::to_string(line) +
                     ", past which a changepw or profile save cannot keep the record's lines");
  }
  bool has_password = false;
  TFieldLineReader reader(record);
  for (std::string_view line; !has_password && reader.Next(line);) {
    has_password = IsFieldLineNamed(line, "pw");
  }
  if (!has_password) {
    faults.push_back(
        "has no pw line (a byte-order mark before \"pw=\" hides it), so no "
        "password can be checked against it");
  }
  return faults;
}

// Member records that hold a NUL byte or no pw line; findings past the listed ones are
// counted into *found.
void CheckMemberRecordContent(SiteReport& report, const std::string& file, std::string_view record,
                              std::size_t& found) {
  for (const std::string& fault : MemberRecordFaults(record)) {
    if (++found > kListedFindings) continue;
    report.Warning(file + " " + fault,
                   "edit the record as Shift_JIS text without a byte-order mark, with its "
                   "password on a line pw=<password>, or restore it from a backup");
  }
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
    report.Warning(directory + name +
                       " has a name that Shift_JIS cannot spell, so no request "
                       "reaches it (an older build read names in the system's code page)",
                   "rename it to the Shift_JIS name that its bytes in that code page spell");
  }
  std::sort(entries->begin(), entries->end());
  std::size_t found = 0;
  std::size_t faulty = 0;
  for (const std::string& name : *entries) {
    const std::string file = directory + name;
    if (!IsRecordName(name) || !platform::FileExists(file)) continue;
    std::string record;
    try {
      record = LoadFileToString(file);
    } catch (const Exception&) {
      continue;  // a record this account cannot read is left out
    }
    if (!leaf_records) CheckMemberRecordContent(report, file, record, faulty);
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
  if (faulty > kListedFindings) {
    report.Warning(std::to_string(faulty - kListedFindings) +
                       " more findings of NUL bytes or "
                       "missing pw lines in the records of " +
                       directory,
                   "");
  }
}

}  // namespace orvane
