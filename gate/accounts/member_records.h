// Member record files: one field list per member, read under a shared lock, created
// exclusively, and rewritten whole by replacing the file, under an exclusive lock on a
// lock file beside the records that is never replaced.
//
// In the member directory M: records M/<id>.txt; the lock file M/.members.lock, created
// empty by the first writer and never renamed or removed, so that every process and every
// client of a shared volume locks the same file; the one helper file M/.member-draft.new,
// written only by the lock's holder. Readers (profile page, password checks) open a record
// shared and never wait for a writer: the record at a name is always whole. Locks die with
// their process. The steps of a writer, with what a SIGKILL between a step and the next one
// leaves ("next writer": the next registration, password change, profile save or posting
// that stores its member's password anew (see password_store.h) of the directory, on any
// server, or the next operator command that rewrites a record (operator_commands.h),
// which clears the helper first while it holds the lock):
//
// | step                                      | on disk after it                     | a kill here leaves               | cleared by, when                   |
// |-------------------------------------------|--------------------------------------|----------------------------------|------------------------------------|
// | 1 lock .members.lock (waiting for others) | the lock file (made if missing)      | nothing: the lock dies           | -                                  |
// | save 2 open and read <id>.txt (shared)    | unchanged                            | nothing                          | -                                  |
// | 3 create the helper (a leftover one found | .member-draft.new, empty             | an empty helper                  | next writer finds it and removes   |
// |   there is removed, then it is created)   |                                      |                                  | it                                 |
// | 4 copy the record's access rights, write  | the helper with part of the new text | a partial helper; the record is  | next writer finds it, removes it   |
// |   the new text, close                     |                                      | the old one, whole               |                                    |
// | save 5 rename the helper over <id>.txt    | the new record, whole                | nothing                          | -                                  |
// | reg. 5 link the helper to <id>.txt (only  | the new record, also as the helper   | the helper, linked to the record | next writer removes the name; the  |
// |   when free), then remove the helper      |                                      |                                  | record keeps its data              |
// | 6 unlock (close the lock file)            | the record                           | -                                | -                                  |
//
// A registration whose link finds the id taken removes its helper and answers that the id
// is registered: of two registrations of one id exactly one wins. Across several servers
// over one volume the lock, the exclusive link and the atomic rename are decided by the
// file server; a client whose name cache still leads <id>.txt to the replaced file meets a
// stale handle and looks the name up again for up to five seconds (RetryWhileStale). The
// helper may be deleted by hand at any time no writer runs; it holds no state.
// A writer opens only the names it needs and never lists the directory, so its work does
// not grow with the number of members or of the files beside them; drafts that older
// builds left under names of their own are removed by the operator's repair
// (older_member_drafts.h), never by a request.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "gate/text/field_edits.h"
#include "gate/text/field_list.h"
#include "platform/platform.h"

namespace orvane {

// Holds the member directory's lock (the directory given with its trailing delimiter)
// until the file is closed, waiting for the writers that hold it: while it is held, no
// registration, password change or profile save of the directory is midway, on any
// server. The lock file is made when it is missing.
platform::File LockMemberWrites(const std::string& members_dir);

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
