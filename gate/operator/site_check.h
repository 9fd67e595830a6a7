// The operator's check of a site: config.txt beside the executable, the site settings,
// their directories and files, read as a request reads them. It changes nothing on disk,
// unless asked to repair: then it removes what older builds left behind and no request
// looks for (a request's work must not grow with the files of a directory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "gate/configuration.h"
#include "gate/operator/site_report.h"

namespace orvane {

// Checks the site whose executable lies in the directory (with its trailing delimiter),
// for the named sessions, or for every settings file of the session directory when none
// is named; with repair, removing what the repair may remove.
SiteReport CheckSite(const std::string& executable_directory,
                     const std::vector<std::string>& sessions, bool repair = false);

// Warns about a relative path setting: a request resolves it against the web server's
// working directory, which the check cannot know.
void CheckAbsolutePath(SiteReport& report, std::string_view key, const std::string& value);

// The naming of postings for one session: counter file, template capacity, the names
// already taken in the leaf directory.
void CheckLeafNaming(SiteReport& report, const SessionSettings& settings,
                     const std::string& settings_file);

// Whether the counter's next numbers still give the template's names: an error when they
// wrap past the template's last number or run out of numbers, a warning when negative.
void CheckCounterRange(SiteReport& report, const std::string& counter, std::int64_t number,
                       std::string_view name_template);

// The files the gate keeps in a leaf directory (leaf_directory) or a member directory:
// slot files and the members' lock that the account cannot open, and helper files that
// older builds left (with repair, the member drafts among them are removed).
void CheckHeldFiles(SiteReport& report, const std::string& directory, bool leaf_directory,
                    bool repair);

// The helper an older build wrote beside the counter while rewriting it (".<name>.new"),
// reported when it is there.
std::string OlderCounterHelperPath(const std::string& counter);
void CheckOlderCounterHelper(SiteReport& report, const std::string& counter);

// How many different base names of the template the directory's entries take: an entry
// takes the name it starts with when the rest is empty or an extension.
std::uint64_t CountTakenTemplateNames(const std::vector<std::string>& entries,
                                      std::string_view name_template);

// A line of a stored record that a page would show as markup: a raw "<" (other than a
// stored line break "<br>" and a leaf record's marker lines), a raw '"', or a Shift_JIS
// lead byte before a byte below 0x40, which a browser reads as a broken character
// followed by that byte.
struct MarkupFinding {
  std::size_t line;  // from 1
  std::string what;
};
std::vector<MarkupFinding> FindUnescapedMarkup(std::string_view record, bool leaf_record);

// Reports the member records (leaf_records false) or leaf records of the directory that
// hold markup.
void CheckRecordFiles(SiteReport& report, const std::string& directory, bool leaf_records);

}  // namespace orvane
