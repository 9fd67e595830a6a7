// Drafts of member records that older builds wrote under random names
// (".member-<16 hex digits>.new"): a writer killed midway left its draft for good, since
// no later writer could know its name. Requests never look for them (that would list the
// member directory on every write); the site check reports them and its repair removes
// them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

bool IsOlderMemberDraftName(std::string_view name);

// The names of such drafts in the member directory (with its trailing delimiter),
// sorted; none when the directory cannot be listed.
std::optional<std::vector<std::string>> FindOlderMemberDrafts(const std::string& directory);

// Removes the named drafts from the directory while holding the members' lock, so that no
// writer is midway, on any server over the same volume; a writer of an older build never
// used a name again. Gives the names that could not be removed. A lock that cannot be
// taken raises the file error.
std::vector<std::string> RemoveOlderMemberDrafts(const std::string& directory,
                                                 const std::vector<std::string>& names);

}  // namespace orvane
