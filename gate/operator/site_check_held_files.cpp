// The site check of the files the gate keeps beside the leaves and the member records: the
// posting slots and the members' lock, which every posting or member write opens for
// reading and writing, the member draft, and helper files that older builds left behind.
#include <utility>
#include <vector>

#include "gate/accounts/older_member_drafts.h"
#include "gate/disk_names.h"
#include "gate/leaves/leaf_draft.h"
#include "gate/operator/site_check.h"
#include "gate/text/path_text.h"
#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane {
namespace {

using platform::Answer;

// Names listed in one finding; more are counted.
constexpr std::size_t kListedNames = 5;

// An existing file that the account cannot open as the gate does, for reading and writing.
bool LockedOut(const std::string& path) {
  return platform::FileExists(path) &&
         (platform::MayRead(path) == Answer::No || platform::MayWrite(path) == Answer::No);
}

std::string NameList(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < kListedNames; ++i) {
    text.append(i == 0 ? "" : ", ").append(names[i]);
  }
  if (names.size() > kListedNames) {
    text.append(" and " + std::to_string(names.size() - kListedNames) + " more");
  }
  return text;
}

void CheckSlotFiles(SiteReport& report, const std::string& dir) {
  std::vector<std::string> locked_out;
  for (int k = 0; k < kLeafSlotCount; ++k) {
    const std::string name = std::string(disk_names::kLeafSlotPrefix) + std::to_string(k);
    if (LockedOut(dir + name)) locked_out.push_back(name);
  }
  if (locked_out.empty()) return;
  const std::string account = platform::AccountName();
  report.Error(std::to_string(locked_out.size()) + " posting slot file(s) in " + dir +
                   " cannot be opened for reading and writing by the account " + account + " (" +
                   NameList(locked_out) +
                   "): a posting that comes to one fails with status 500 (every posting, when "
                   ".leaf0 is one)",
               "give " + account + " read and write access to them, for example chown " + account +
                   " " + dir + ".leaf*");
}

void CheckMemberLockFiles(SiteReport& report, const std::string& dir) {
  const std::string account = platform::AccountName();
  const std::string lock = dir + std::string(disk_names::kMembersLock);
  if (LockedOut(lock)) {
    report.Error("the members' lock file " + lock +
                     " cannot be opened for reading and writing by the account " + account +
                     ": every registration, changepw and changeprof2 fails with status 500",
                 "give " + account + " read and write access to it, for example chown " + account +
                     " " + lock + " (keep the file in place)");
  }
  const std::string draft = dir + std::string(disk_names::kMemberDraft);
  if (platform::FileExists(draft) && platform::MayWrite(draft) == Answer::No) {
    // A writer removes the draft before it makes its own, which the directory's rights
    // decide on most systems; where the removal is refused, the write fails.
    report.Warning("the leftover member draft " + draft +
                       " cannot be opened for writing by the account " + account +
                       ": the next registration or save removes it where the directory "
                       "allows that, and fails with status 500 where it does not",
                   "delete it (it holds no state)");
  }
}

void ReportOlderHelpers(SiteReport& report, const std::string& dir,
                        const std::vector<std::string>& names, std::string_view fix) {
  if (names.empty()) return;
  report.Warning(std::to_string(names.size()) + " helper file(s) in " + dir +
                     " left by an older build and never used again (" + NameList(names) +
                     "): they can be deleted",
                 fix);
}

// With the repair, the drafts go, under the members' lock; only those left are reported.
void CheckOlderMemberDrafts(SiteReport& report, const std::string& dir, bool repair) {
  auto older = FindOlderMemberDrafts(dir);
  if (!older || older->empty()) return;
  if (repair) {
    std::vector<std::string> left;
    try {
      left = RemoveOlderMemberDrafts(dir, *older);
    } catch (const Exception& e) {
      report.Error("the members' lock " + dir + std::string(disk_names::kMembersLock) +
                       " cannot be taken to remove " + std::to_string(older->size()) +
                       " helper file(s) of an older build: " + e.Message(),
                   "give the account " + platform::AccountName() +
                       " read and write access to it, and repair again");
      return;
    }
    const std::size_t removed = older->size() - left.size();
    if (removed > 0) {
      report.Note("repaired: removed " + std::to_string(removed) + " helper file(s) in " + dir +
                  " left by an older build");
    }
    *older = std::move(left);
  }
  ReportOlderHelpers(report, dir, *older,
                     repair ? "give the account " + platform::AccountName() + " write access to " +
                                  dir + ", or delete them by hand"
                            : "delete them, or run --check --repair");
}

// The directory part of a path with its delimiter; a setting written with slashes on a
// system whose delimiter is the backslash still ends at its last slash.
std::string_view DirectoryOf(std::string_view path) {
  const std::string_view by_system = DirectoryPart(path, platform::PathDelimiter());
  const std::string_view by_slash = DirectoryPart(path, '/');
  return by_slash.size() > by_system.size() ? by_slash : by_system;
}

}  // namespace

std::string OlderCounterHelperPath(const std::string& counter) {
  const std::string_view dir = DirectoryOf(counter);
  return std::string(dir) + "." + counter.substr(dir.size()) + ".new";
}

void CheckOlderCounterHelper(SiteReport& report, const std::string& counter) {
  const std::string helper = OlderCounterHelperPath(counter);
  if (!platform::FileExists(helper)) return;
  const std::string_view dir = DirectoryOf(helper);
  ReportOlderHelpers(report, std::string(dir), {helper.substr(dir.size())}, "delete it");
}

void CheckHeldFiles(SiteReport& report, const std::string& directory, bool leaf_directory,
                    bool repair) {
  if (leaf_directory) {
    CheckSlotFiles(report, directory);
    CheckOlderCounterHelper(report, directory + std::string(disk_names::kDefaultCounter));
  } else {
    CheckMemberLockFiles(report, directory);
    CheckOlderMemberDrafts(report, directory, repair);
  }
}

}  // namespace orvane
