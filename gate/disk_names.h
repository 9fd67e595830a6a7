#pragma once

// Every name the gate keeps on disk beside the records and the leaves, and the lines that
// mark a leaf record, written by the commands and read by the site check from here alone.
// The record keys of passwords and locks are in accounts/password_store.h.
#include <string_view>

namespace orvane::disk_names {

// Records and leaf records end in this; no other file the gate keeps does.
inline constexpr std::string_view kRecordExtension = ".txt";

// The member directory.
// The file beside the records that every registration and rewrite holds locked. It is never
// renamed or removed, so every process and every client of a shared file system locks the
// same file.
inline constexpr std::string_view kMembersLock = ".members.lock";
// The one helper file of the directory, written only while the lock is held.
inline constexpr std::string_view kMemberDraft = ".member-draft.new";
// Drafts that older builds wrote: ".member-<16 hex digits>.new".
inline constexpr std::string_view kOlderMemberDraftPrefix = ".member-";
inline constexpr std::string_view kOlderMemberDraftSuffix = ".new";
// The counts of wrong passwords and registrations: a directory, the lock beside it, the
// one helper file of a directory of counts, and the prefixes of the rows across ids.
inline constexpr std::string_view kGuessesLock = ".guesses.lock";
inline constexpr std::string_view kGuessesDirectory = ".guesses";
inline constexpr std::string_view kCountHelper = ".new";
inline constexpr std::string_view kWrongNetworkPrefix = ".wrong-";
inline constexpr std::string_view kRegisteredPrefix = ".registered-";

// The leaf directory.
// The posting slots: ".leaf0", ".leaf1", ...
inline constexpr std::string_view kLeafSlotPrefix = ".leaf";
// The counter of numbered names when FileNameCounter is not set.
inline constexpr std::string_view kDefaultCounter = "counter.txt";
// The mark of a leaf being removed: ".removed.<name>".
inline constexpr std::string_view kRemovedMarkPrefix = ".removed.";
// The first and last lines of a leaf record.
inline constexpr std::string_view kLeafRecordStart = "<qelkeys>";
inline constexpr std::string_view kLeafRecordEnd = "</qelkeys>";

}  // namespace orvane::disk_names
