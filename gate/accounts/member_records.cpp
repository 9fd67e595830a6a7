#include "gate/accounts/member_records.h"

#include <array>
#include <utility>

#include "gate/accounts/password_store.h"
#include "gate/disk_names.h"
#include "gate/text/file_text.h"
#include "gate/text/path_text.h"
#include "gate/text/safe_name.h"
#include "gate/web_module1.h"
#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane {
namespace {

constexpr int kReadAttempts = 100;
constexpr int kReadRetryMilliseconds = 10;
// Each failed attempt means another writer replaced the record, so the bound is never met.
constexpr int kRewriteAttempts = 1000;
// A stale handle lasts until the client looks the name up again, which it does at once
// or, where it caches names, after about a second: the bound gives it five.
constexpr int kStaleAttempts = 250;
constexpr int kStaleRetryMilliseconds = 20;
// The file beside the records that every registration and rewrite in the directory holds
// locked. It is never renamed or removed, so every process and every client of a shared
// file system locks the same file. It never ends in ".txt", so it is never taken for a
// record.
constexpr std::string_view kRewriteLockName = disk_names::kMembersLock;
// The one helper file of the directory, written only while the lock is held: one found
// by the holder was left by a writer whose removal of it failed or that was killed. The
// name is short, so every id whose record name fits leaves room for it, and never ends in
// ".txt", so it is never taken for a record.
constexpr std::string_view kHelperName = disk_names::kMemberDraft;

// A file written whole beside a record before it takes the record's name.
struct HelperFile {
  platform::File file;
  std::string path;
};

// The directory part of a record's path, with its delimiter. A directory set with slashes
// on a system whose delimiter is the backslash still ends at its last slash.
std::string RecordDirectory(const std::string& record_path) {
  const std::string_view by_system = DirectoryPart(record_path, platform::PathDelimiter());
  const std::string_view by_slash = DirectoryPart(record_path, '/');
  return std::string(by_slash.size() > by_system.size() ? by_slash : by_system);
}

// The helper file's path: in the record's directory, so that it can take the record's name.
std::string HelperFilePath(const std::string& record_path) {
  return RecordDirectory(record_path) + std::string(kHelperName);
}

// Creates the helper file, clearing one left behind when it is found there: the caller
// holds the directory's lock, so no live writer has it. A failure is reported as the
// record's: the helper is this code's own business, the record is what could not be made.
HelperFile CreateHelperFile(const std::string& record_path) {
  std::string path = HelperFilePath(record_path);
  platform::ClearHeldFileRemovals(path);
  for (bool cleared = false;; cleared = true) {
    try {
      return {platform::File::Open(path, platform::OpenMode::CreateNewExclusive), path};
    } catch (const EOSFileError& error) {
      if (cleared || error.ErrorCode() != platform::FileExistsErrorCode()) {
        platform::ThrowFileCreateError(record_path, error.ErrorCode());
      }
    }
    // Removed as a held file: one left linked to a record that a reader holds still frees
    // its name at once. A failed removal shows as the second creation's failure.
    platform::RemoveHeldFile(path);
  }
}

// Writes the content into the helper with write and closes it. A replacement first
// takes the access rights of the record it replaces, before any byte of the record is in
// it. On failure the helper is removed and the error names the record.
void WriteHelperFile(HelperFile& helper, const std::function<void(platform::File&)>& write,
                     const std::string& record_path, const platform::File* replaced) {
  const auto discard = [&helper] {
    helper.file = platform::File();  // closed before removal, as some systems require
    platform::RemoveFile(helper.path);
  };
  try {
    if (replaced != nullptr) helper.file.CopyAccessFrom(*replaced);
    write(helper.file);
    helper.file.Close();
  } catch (const EOSFileError& error) {
    discard();
    platform::ThrowFileCreateError(record_path, error.ErrorCode());
  } catch (...) {
    discard();
    throw;
  }
}

constexpr std::size_t kWriteChunk = 64 * 1024;

// The edited lines, each ended with CR LF, written through a small buffer: a record
// holding one long value is not copied whole once more to be written.
void WriteJoinedLines(platform::File& file, const TFieldEdits& edits) {
  std::string chunk;
  chunk.reserve(kWriteChunk);
  edits.ForEachLine([&](std::string_view line) {
    if (chunk.size() + line.size() + 2 > kWriteChunk) {
      file.WriteAll(chunk);
      chunk.clear();
    }
    if (line.size() + 2 > kWriteChunk) {
      file.WriteAll(line);
      file.WriteAll("\r\n");
    } else {
      chunk.append(line).append("\r\n");
    }
  });
  file.WriteAll(chunk);
}

// Writes the new record beside the old one and renames it over it, so a reader sees
// the old record or the new one, never a short one. The new file is closed before the
// rename, so the new record is never found locked.
void ReplaceRecordFile(platform::File& record, const std::string& path, const TFieldEdits& edits) {
  HelperFile replacement = CreateHelperFile(path);
  WriteHelperFile(
      replacement, [&edits](platform::File& file) { WriteJoinedLines(file, edits); }, path,
      &record);
  // A system that cannot rename over an open file needs this process's own hold let go;
  // the directory's rewrite lock still keeps every other save out.
  if (!platform::CanReplaceOpenFiles()) {
    try {
      record.Close();
    } catch (...) {
      platform::RemoveFile(replacement.path);
      throw;
    }
  }
  const platform::Outcome renamed = platform::RenameFile(replacement.path, path);
  if (renamed.Failed()) {
    platform::RemoveFile(replacement.path);
    platform::ThrowFileCreateError(path, renamed.error);
  }
}

// Holds the lock file of the record's directory exclusively, waiting for other writers,
// which hold it from their read to their replacement of a record, or while a new record
// is written and linked. The record itself is not the lock because a replacement moves
// another file to its name: a process that waited for the old file would hold a lock
// nobody else asks for.
platform::File LockRecordRewrites(const std::string& record_path) {
  return LockMemberWrites(RecordDirectory(record_path));
}

// The same lock for writing a new record; a failure is reported as the record's.
platform::File LockRecordCreation(const std::string& record_path) {
  try {
    return LockRecordRewrites(record_path);
  } catch (const EOSFileError& error) {
    platform::ThrowFileCreateError(record_path, error.ErrorCode());
  }
}

// Runs the step on the record again while it fails as if the record had gone although
// its name is still there: on a shared file system a client may lead the name to the
// file that another client's replacement took away, until it looks the name up afresh.
template <typename Step>
auto RetryWhileStale(const std::string& record_path, const Step& step) -> decltype(step()) {
  for (int attempt = 1;; ++attempt) {
    try {
      return step();
    } catch (const EOSFileError& error) {
      if (!platform::IsStaleFileError(error.ErrorCode()) || attempt >= kStaleAttempts ||
          !platform::FileExists(record_path)) {
        throw;
      }
    }
    platform::SleepMilliseconds(kStaleRetryMilliseconds);
  }
}

// The rewrite itself, done while the directory's rewrite lock is held.
bool RewriteHeldRecord(const std::string& path, const std::function<bool(TFieldEdits&)>& change) {
  for (int attempt = 1;; ++attempt) {
    if (!platform::FileExists(path)) return false;
    // Shared with readers: the replacement is atomic, so a reader meets the old record or
    // the new one and never has to wait for a save.
    platform::File record =
        platform::File::Open(path, platform::OpenMode::ReadShared, platform::LockWait::Wait);
    // A writer that does not take the rewrite lock may have put another file at the path
    // meanwhile; the change is made to that one.
    if (!record.IsSameFileAs(path)) {
      if (attempt >= kRewriteAttempts) {
        platform::ThrowFileOpenError(path, platform::kHeldByAnotherProcess);
      }
      continue;
    }
    // The text is held once; the change is kept beside it, not in a list of its lines.
    const std::string text = record.ReadAll();
    if (text.find('\0') != std::string::npos) {
      throw EWriteError("Cannot rewrite \"" + platform::FullPath(path) +
                        "\": the record holds a NUL byte, after which its lines would be lost");
    }
    TFieldEdits edits(text);
    if (!change(edits)) return false;
    ReplaceRecordFile(record, path, edits);
    return true;
  }
}

}  // namespace

platform::File LockMemberWrites(const std::string& members_dir) {
  return platform::File::Open(members_dir + std::string(kRewriteLockName),
                              platform::OpenMode::OpenAlwaysExclusive, platform::LockWait::Wait);
}

std::string MemberRecordPath(std::string_view members_dir, std::string_view id) {
  std::string path = members_dir.empty() ? std::string() : IncludeTrailingDelimiter(members_dir);
  path.append(id).append(disk_names::kRecordExtension);
  return path;
}

std::optional<std::string> FindMemberRecord(std::string_view members_dir, std::string_view id) {
  if (members_dir.empty() || !IsSafeFileNamePart(id)) return std::nullopt;
  std::string path = MemberRecordPath(members_dir, id);
  if (!platform::FileExists(path)) return std::nullopt;
  return path;
}

std::optional<std::string> LoadMemberRecordText(std::string_view members_dir, std::string_view id) {
  if (members_dir.empty() || !IsSafeFileNamePart(id)) return std::nullopt;
  const std::string path = MemberRecordPath(members_dir, id);
  try {
    return ReadMemberRecordText(path);
  } catch (const EOSFileError&) {
    if (platform::FileExists(path)) throw;
    return std::nullopt;
  }
}

TFieldList ReadMemberRecord(const std::string& path) {
  return ParseFieldList(ReadMemberRecordText(path));
}

std::string ReadMemberRecordText(const std::string& path) {
  return RetryWhileStale(path, [&path] {
    for (int attempt = 1;; ++attempt) {
      try {
        return LoadFileToString(path);
      } catch (const EOSFileError& error) {
        if (!error.IsSharingViolation() || attempt >= kReadAttempts) throw;
      }
      platform::SleepMilliseconds(kReadRetryMilliseconds);
    }
  });
}

// The whole record is written under a name of its own first and then linked to the
// record's name, which succeeds only when that name is free: a record is never seen
// half-written, and of two registrations of one id exactly one gets the name.
bool CreateMemberRecord(const std::string& path, std::string_view text) {
  const platform::File guard = LockRecordCreation(path);
  HelperFile draft = CreateHelperFile(path);
  WriteHelperFile(
      draft, [text](platform::File& file) { file.WriteAll(text); }, path, nullptr);
  const int link_error = platform::CreateHardLink(draft.path, path).error;
  // The draft is now also the record, which a reader may already hold open.
  platform::RemoveHeldFile(draft.path);
  if (link_error == 0) return true;
  // Only a file makes the id taken; a directory at the name means the record cannot be made.
  if (link_error == platform::FileExistsErrorCode() && platform::FileExists(path)) return false;
  platform::ThrowFileCreateError(path, link_error);
}

bool RewriteMemberRecord(const std::string& path, const std::function<bool(TFieldEdits&)>& change) {
  if (!platform::FileExists(path)) return false;
  const platform::File guard = LockRecordRewrites(path);
  return RetryWhileStale(path, [&] { return RewriteHeldRecord(path, change); });
}

TWebModule1::PasswordCheck TWebModule1::CheckMemberPassword(const std::string& members_dir,
                                                            const std::string& id,
                                                            const std::string& password) {
  const std::optional<std::string> record = LoadMemberRecordText(members_dir, id);
  if (!record) return PasswordCheck::NoRecord;
  return PasswordsChecked.Opens(*record, password) ? PasswordCheck::Match : PasswordCheck::Wrong;
}

void TWebModule1::AdoptMemberPassword(const std::string& members_dir, const std::string& id,
                                      const std::string& password, std::string_view record) {
  const PasswordStore store = PasswordStoreOf(passwordstore);
  // Nearly every record is already stored as it should be, and the directory's rewrite
  // lock is then not taken at all.
  if (!NeedsRestoring(StoredPasswordInText(record), store)) return;
  const PasswordToStore prepared = PreparePassword(password, store);
  RewriteMemberRecord(MemberRecordPath(members_dir, id), [&](TFieldEdits& edits) {
    const StoredPassword stored = StoredPasswordInEdits(edits);
    if (!NeedsRestoring(stored, store) || !PasswordsChecked.Opens(stored, password)) return false;
    StorePassword(edits, prepared);
    return true;
  });
}

bool TWebModule1::ChangeMemberPassword(const std::string& members_dir, const std::string& id,
                                       const std::string& old_password,
                                       const std::string& new_password) {
  const std::optional<std::string> path = FindMemberRecord(members_dir, id);
  if (!path) return false;
  const PasswordToStore stored = PreparePassword(new_password, PasswordStoreOf(passwordstore));
  return RewriteMemberRecord(*path, [&](TFieldEdits& record) {
    if (!PasswordsChecked.Opens(StoredPasswordInEdits(record), old_password)) return false;
    StorePassword(record, stored);
    return true;
  });
}

bool TWebModule1::UpdateMemberProfile(const std::string& members_dir, std::string_view id,
                                      std::string_view password, const MemberProfile& profile) {
  const std::optional<std::string> path = FindMemberRecord(members_dir, id);
  if (!path) return false;
  const std::array<ProfileItem, 10> items = ProfileItems(profile);
  return RewriteMemberRecord(*path, [&](TFieldEdits& record) {
    const StoredPassword stored = StoredPasswordInEdits(record);
    if (!PasswordsChecked.Opens(stored, password)) return false;
    const PasswordStore store = PasswordStoreOf(passwordstore);
    if (NeedsRestoring(stored, store)) StorePassword(record, PreparePassword(password, store));
    for (const auto& [key, value] : items) {
      if (record.Value(key) != value) record.Set(key, value);
    }
    return true;
  });
}

}  // namespace orvane
