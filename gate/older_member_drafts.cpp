#include "gate/older_member_drafts.h"

#include "platform/platform.h"

namespace orvane {
namespace {

constexpr std::string_view kPrefix = ".member-";
constexpr std::string_view kSuffix = ".new";
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

void RemoveOlderMemberDrafts(const std::string& directory) {
  const auto entries = platform::ListDirectory(directory);
  if (!entries) return;
  for (const std::string& name : *entries) {
    if (IsOlderMemberDraftName(name)) platform::RemoveFile(directory + name);
  }
}

}  // namespace orvane
