// Member record files: one field list per member, read under a shared lock, created
// exclusively, and rewritten whole by replacing the file, under an exclusive lock on a
// lock file beside the records that is never replaced.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "gate/field_edits.h"
#include "gate/field_list.h"

namespace orvane {

// The record file of a member: the directory (a path delimiter added when it lacks
// one), the id unchanged, and ".txt".
std::string MemberRecordPath(std::string_view members_dir, std::string_view id);

// The path of a member's record when it exists; none when the directory is unset, the
// id would leave the directory, or there is no record file.
std::optional<std::string> FindMemberRecord(std::string_view members_dir, std::string_view id);

// The text of a member's record; none where FindMemberRecord finds none. The record is
// opened at once: only a failed open asks whether a file stands at its name.
std::optional<std::string> LoadMemberRecordText(std::string_view members_dir, std::string_view id);

// The record's lines. A record held by another open for a moment is retried for about a
// second, and one whose name led to a file just replaced by another machine is looked up
// again, before the error is raised.
TFieldList ReadMemberRecord(const std::string& path);
// The same record as one text, for reading values as views into it.
std::string ReadMemberRecordText(const std::string& path);

// Whether the given password opens a record whose "pw" value is `stored`. A record
// without a "pw" line (or with an empty one: hand-edited, a byte-order mark before it,
// another key) is opened by no password at all, the empty one included.
bool PasswordMatches(std::string_view stored, std::string_view given);

// Creates a record with the text only when no file of that name exists yet; false
// when one does. Other failures raise, and leave no record behind. Holds the members
// directory's rewrite lock meanwhile, as rewrites do, for the helper file they share.
bool CreateMemberRecord(const std::string& path, std::string_view text);

// Reads, changes and writes the record while holding the members directory's rewrite
// lock, so concurrent saves follow one another, also from several machines that share
// the directory. The change, made to edits of the record's text, returns false to leave
// the record as it was. A record holding a NUL byte is never rewritten: its lines after
// the byte would be lost, so the rewrite raises an error naming the record instead.
// False when there is no record or the change declined; true when it was rewritten.
bool RewriteMemberRecord(const std::string& path, const std::function<bool(TFieldEdits&)>& change);

}  // namespace orvane
