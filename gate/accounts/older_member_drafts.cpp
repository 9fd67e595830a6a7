#include "gate/accounts/older_member_drafts.h"

#include <algorithm>
#include <utility>

#include "gate/accounts/member_records.h"
#include "gate/disk_names.h"
#include "platform/platform.h"

namespace orvane {
namespace {

constexpr std::string_view kPrefix = disk_names::kOlderMemberDraftPrefix;
constexpr std::string_view kSuffix = disk_names::kOlderMemberDraftSuffix;
constexpr std::size_t kHexDigits = 16;

bool IsLowerHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

bool IsOlderMemberDraftName(std::string_view name) {
  if (name.size() != kPrefix.size() + kHexDigits + kSuffix.size() ||
      name.substr(0, kPrefix.size()) != kPrefix ||
      name.substr(name.size() - kSuffix.size()) != kSuffix) {
    return false;
  }
  for (const char c : name.substr(kPrefix.size(), kHexDigits)) {
    if (!IsLowerHexDigit(c)) return false;
  }
  return true;
}

std::optional<std::vector<std::string>> FindOlderMemberDrafts(const std::string& directory) {
  auto entries = platform::ListDirectory(directory);
  if (!entries) return std::nullopt;
  std::vector<std::string> older;
  for (std::string& name : *entries) {
    if (IsOlderMemberDraftName(name)) older.push_back(std::move(name));
  }
  std::sort(older.begin(), older.end());
  return older;
}

std::vector<std::string> RemoveOlderMemberDrafts(const std::string& directory,
                                                 const std::vector<std::string>& names) {
  const platform::File lock = LockMemberWrites(directory);
  std::vector<std::string> left;
  for (const std::string& name : names) {
    if (!IsOlderMemberDraftName(name)) continue;
    const std::string path = directory + name;
    if (platform::RemoveFile(path).Failed() && platform::FileExists(path)) left.push_back(name);
  }
  return left;
}

}  // namespace orvane
