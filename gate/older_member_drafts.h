// Drafts of member records that older builds wrote under random names
// (".member-<16 hex digits>.new"): a writer killed midway left its draft for good, since
// no later writer could know its name.
#pragma once

#include <string>
#include <string_view>

namespace orvane {

bool IsOlderMemberDraftName(std::string_view name);

// Removes such drafts from the member directory. The caller holds the directory's lock,
// so no writer of this build is midway; a writer of an older build never used the names
// again. Best effort: a directory that cannot be listed or a draft that cannot be removed
// is left to the next writer and never fails the write it precedes.
void RemoveOlderMemberDrafts(const std::string& directory);

}  // namespace orvane
