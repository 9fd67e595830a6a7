#include "gate/member_records.h"

#include <array>
#include <cstdio>
#include <utility>

#include "gate/file_text.h"
#include "gate/path_text.h"
#include "gate/safe_name.h"
#include "gate/web_module1.h"
#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane {
namespace {

constexpr int kReadAttempts = 100;
constexpr int kReadRetryMilliseconds = 10;
// Each failed attempt means another save completed, so the bound is never met in practice.
constexpr int kRewriteAttempts = 1000;

constexpr std::size_t kWriteChunk = 64 * 1024;

// The list's joined text, written through a small buffer: a record holding one long
// value is not copied whole once more to be written.
void WriteJoinedLines(platform::File& file, const TFieldList& list) {
  std::string chunk;
  chunk.reserve(kWriteChunk);
  for (const std::string& line : list) {
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
  }
  file.WriteAll(chunk);
}

// Writes the new record beside the old one and renames it over it, so a reader sees
// the old record or the new one, never a short one. Only the holder of the record's lock
// writes its temporary file, so a fixed name is safe and a crashed save's leftover is reused.
// The file is closed before the rename, so the new record is never found locked.
void ReplaceRecordFile(const std::string& path, const TFieldList& list) {
  const std::string temporary = path + ".tmp";
  platform::File file = platform::File::Open(temporary, platform::OpenMode::CreateExclusive);
  try {
    WriteJoinedLines(file, list);
    file.Close();
    const int rename_error = platform::RenameFile(temporary, path);
    if (rename_error != 0) platform::ThrowFileCreateError(path, rename_error);
  } catch (...) {
    platform::RemoveFile(temporary);
    throw;
  }
}

}  // namespace

std::string MemberRecordPath(std::string_view members_dir, std::string_view id) {
  std::string path = members_dir.empty() ? std::string() : IncludeTrailingDelimiter(members_dir);
  path.append(id).append(".txt");
  return path;
}

std::optional<std::string> FindMemberRecord(std::string_view members_dir, std::string_view id) {
  if (members_dir.empty() || !IsSafeFileNamePart(id)) return std::nullopt;
  std::string path = MemberRecordPath(members_dir, id);
  if (!platform::FileExists(path)) return std::nullopt;
  return path;
}

TFieldList ReadMemberRecord(const std::string& path) {
  return ParseFieldList(ReadMemberRecordText(path));
}

std::string ReadMemberRecordText(const std::string& path) {
  for (int attempt = 1;; ++attempt) {
    try {
      return LoadFileToString(path);
    } catch (const EOSFileError& error) {
      if (!error.IsSharingViolation() || attempt >= kReadAttempts) throw;
    }
    platform::SleepMilliseconds(kReadRetryMilliseconds);
  }
}

// The whole record is written under a name of its own first and then linked to the
// record's name, which succeeds only when that name is free: a record is never seen
// half-written, and of two registrations of one id exactly one gets the name.
bool CreateMemberRecord(const std::string& path, std::string_view text) {
  char unique[32];
  std::snprintf(unique, sizeof unique, ".%016llx.new",
                static_cast<unsigned long long>(platform::ClockSeed()));
  const std::string draft = path + unique;
  platform::File file = platform::File::Open(draft, platform::OpenMode::CreateNewExclusive);
  int link_error = 0;
  try {
    file.WriteAll(text);
    file.Close();
    link_error = platform::CreateHardLink(draft, path);
  } catch (...) {
    platform::RemoveFile(draft);
    throw;
  }
  platform::RemoveFile(draft);
  if (link_error == platform::FileExistsErrorCode()) return false;
  if (link_error != 0) platform::ThrowFileCreateError(path, link_error);
  return true;
}

bool RewriteMemberRecord(const std::string& path, const std::function<bool(TFieldList&)>& change) {
  for (int attempt = 1;; ++attempt) {
    if (!platform::FileExists(path)) return false;
    platform::File record = platform::File::Open(path, platform::OpenMode::ReadWriteExclusive,
                                                 platform::LockWait::Wait);
    // A save that finished while this one waited has put another file at the path.
    if (!record.IsSameFileAs(path)) {
      if (attempt >= kRewriteAttempts) {
        platform::ThrowFileOpenError(path, platform::kSharingViolation);
      }
      continue;
    }
    TFieldList list = ParseFieldList(record.ReadAll());
    if (!change(list)) return false;
    ReplaceRecordFile(path, list);
    record.Close();
    return true;
  }
}

int TWebModule1::CheckMemberPassword(const std::string& members_dir, const std::string& id,
                                     const std::string& password) {
  const std::optional<std::string> path = FindMemberRecord(members_dir, id);
  if (!path) return 2;
  return FieldValue(ReadMemberRecord(*path), "pw") == password ? 0 : 1;
}

bool TWebModule1::ChangeMemberPassword(const std::string& members_dir, const std::string& id,
                                       const std::string& old_password,
                                       const std::string& new_password) {
  const std::optional<std::string> path = FindMemberRecord(members_dir, id);
  if (!path) return false;
  return RewriteMemberRecord(*path, [&](TFieldList& record) {
    if (FieldValue(record, "pw") != old_password) return false;
    SetFieldValue(record, "pw", new_password);
    return true;
  });
}

bool TWebModule1::UpdateMemberProfile(const std::string& members_dir, std::string_view id,
                                      std::string_view password, std::string_view realname,
                                      std::string_view mail, std::string_view comment,
                                      std::string_view url1, std::string_view urlname1,
                                      std::string_view url2, std::string_view urlname2,
                                      std::string_view url3, std::string_view urlname3,
                                      std::string_view country) {
  const std::optional<std::string> path = FindMemberRecord(members_dir, id);
  if (!path) return false;
  // The order in which keys missing from the record are appended.
  const std::array<std::pair<std::string_view, std::string_view>, 10> items{{
      {"realname", realname},
      {"mail", mail},
      {"comment", comment},
      {"country", country},
      {"url1", url1},
      {"url2", url2},
      {"url3", url3},
      {"urlname1", urlname1},
      {"urlname2", urlname2},
      {"urlname3", urlname3},
  }};
  return RewriteMemberRecord(*path, [&](TFieldList& record) {
    if (FieldValue(record, "pw") != password) return false;
    for (const auto& [key, value] : items) {
      if (FieldValue(record, key) != value) SetFieldValue(record, key, value);
    }
    return true;
  });
}

}  // namespace orvane
