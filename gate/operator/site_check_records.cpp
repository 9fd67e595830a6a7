// The site check of stored records: markup that a page would show as it stands.
#include <algorithm>
#include <cstdio>

#include "gate/accounts/password_store.h"
#include "gate/disk_names.h"
#include "gate/operator/site_check.h"
#include "gate/text/field_list.h"
#include "gate/text/file_text.h"
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

// How many member records of a directory keep their password in each way.
struct StoredPasswordCounts {
  std::size_t plain = 0, hashed = 0, weaker = 0;
};

// What keeps a member record from working as stored: a NUL byte, past which a save cannot
// carry the record's lines, or no pw or pwhash line (a byte-order mark before "pw=" hides
// it too) or a pwhash line that holds no Argon2id hash, so the record has no password to
// check. Empty when none.
std::vector<std::string> MemberRecordFaults(std::string_view record, StoredPasswordKind kind) {
  std::vector<std::string> faults;
  const std::size_t nul = record.find('\0');
  if (nul != std::string_view::npos) {
    const auto line = std::count(record.begin(), record.begin() + nul, '\n') + 1;
    faults.push_back("holds a NUL byte in line " + std::to_string(line) +
                     ", past which a changepw or profile save cannot keep the record's lines");
  }
  if (kind == StoredPasswordKind::None) {
    faults.push_back(
        "has no pw line (a byte-order mark before \"pw=\" hides it), so no "
        "password can be checked against it");
  } else if (kind == StoredPasswordKind::Unreadable) {
    faults.push_back("has a pwhash line that holds no Argon2id hash, so no password opens it");
  }
  return faults;
}

// Member records that hold a NUL byte or no pw line; findings past the listed ones are
// counted into *found.
void CheckMemberRecordContent(SiteReport& report, const std::string& file, std::string_view record,
                              std::size_t& found, StoredPasswordCounts& counts) {
  const StoredPasswordKind kind = StoredPasswordInText(record).kind;
  counts.plain += kind == StoredPasswordKind::Plain;
  counts.hashed += kind == StoredPasswordKind::Hashed;
  counts.weaker += kind == StoredPasswordKind::WeakerHash;
  for (const std::string& fault : MemberRecordFaults(record, kind)) {
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
    if (leaf_record &&
        (line == disk_names::kLeafRecordStart || line == disk_names::kLeafRecordEnd)) {
      continue;
    }
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
  StoredPasswordCounts counts;
  for (const std::string& name : *entries) {
    const std::string file = directory + name;
    if (!IsRecordName(name) || !platform::FileExists(file)) continue;
    std::string record;
    try {
      record = LoadFileToString(file);
    } catch (const Exception&) {
      continue;  // a record this account cannot read is left out
    }
    if (!leaf_records) CheckMemberRecordContent(report, file, record, faulty, counts);
    if (leaf_records && record.rfind(disk_names::kLeafRecordStart, 0) != 0) continue;
    for (const MarkupFinding& finding : FindUnescapedMarkup(record, leaf_records)) {
      if (++found > kListedFindings) continue;
      report.Warning(file + " line " + std::to_string(finding.line) + " holds " + finding.what +
                         ", which a page shows as markup",
                     "escape it (&lt; &quot;) or remove the broken character");
    }
  }
  if (!leaf_records) {
    report.Note("passwords of the member records in " + directory + ": " +
                std::to_string(counts.plain) + " plain, " + std::to_string(counts.hashed) +
                " hashed, " + std::to_string(counts.weaker) + " hashed with weaker parameters");
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
