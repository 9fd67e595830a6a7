// The count files of wrong passwords, one per member id and client address, beside the
// member records. Each is created only where no file has its name and rewritten in place
// under its own lock, as the leaf counter is, so no two processes count into one count
// at once. The holder reads the count past this machine's file cache: a client of a
// network file system may otherwise hand it the count as it was before another client's
// rewrite, lock or not, and that failure would be counted over.
//
// | Step                          | On disk after it         | A kill here leaves; cleared by    |
// |-------------------------------|--------------------------|-----------------------------------|
// | check: open shared, read      | unchanged                | unchanged                         |
// | failure: create new, or open  | old count, or empty file | empty file (no failures); the     |
// |                               |                          | next failure writes its count     |
// | failure: new count over old   | new count, spaces after  | new count, spaces ignored; the    |
// |                               |                          | next rewrite cuts them            |
// | failure: cut to the new count | new count                | new count                         |
// | right password: remove, held  | no file                  | no file, or the count as it was   |
//
// No state refuses for long: a count refuses only while its last failure is less than a
// pause old, so a clear lost to a kill costs that address at most one pause. Removing
// the file while it is held makes a process that waited for its lock find another file
// (or none) at the name: it opens the name again rather than count into a removed file.
#include "gate/password_guesses.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "gate/cgi_text.h"
#include "gate/path_text.h"
#include "gate/safe_name.h"
#include "gate/web_module1.h"
#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane {
namespace {

// Each repeat means another process removed the file while this one waited for it.
constexpr int kOpenAttempts = 100;
// A count is held for a moment; one held far longer than that is no count to wait for.
// The wait asks again after short pauses rather than blocking, as the leaf counter's does.
constexpr int kHoldWaitMilliseconds = 10000;

// Far beyond any allowance; bounds what a hand-edited file can make the count.
constexpr std::int64_t kMostFailures = 1000000;

constexpr std::string_view kFilePrefix = ".guesses-";
constexpr std::string_view kFileSuffix = ".count";
constexpr char kHexDigits[] = "0123456789abcdef";

bool IsKeptAddressByte(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '.';
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

void AppendHexByte(std::string& text, std::string_view lead, unsigned char byte) {
  text.append(lead);
  text.push_back(kHexDigits[byte >> 4]);
  text.push_back(kHexDigits[byte & 0x0F]);
}

// The next number of the text after `at`, skipping spaces; none when there is none.
std::optional<std::int64_t> NextNumber(std::string_view text, std::size_t& at) {
  while (at < text.size() && static_cast<unsigned char>(text[at]) <= 32) ++at;
  std::int64_t value = 0;
  const auto [stop, error] = std::from_chars(text.data() + at, text.data() + text.size(), value);
  if (error != std::errc()) return std::nullopt;
  at = static_cast<std::size_t>(stop - text.data());
  return value;
}

// The file at the name, opened in the mode, whose lock is held once it is still the file
// at the name; none when every attempt found it replaced.
std::optional<platform::File> OpenHeld(const std::string& path, platform::OpenMode mode) {
  for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
    platform::File file = platform::File::OpenWaitingAtMost(path, mode, kHoldWaitMilliseconds);
    if (file.IsSameFileAs(path)) return file;
  }
  return std::nullopt;
}

// The count file held for a rewrite, created when missing, and only where no file has
// the name: clients of a network file system that create one name at once without that
// check may each be left with a file of their own, and count apart.
platform::File OpenForCounting(const std::string& path) {
  for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
    try {
      platform::File made = platform::File::Open(path, platform::OpenMode::CreateNewExclusive);
      if (made.IsSameFileAs(path)) return made;
      continue;  // cleared by a right password before this request held it
    } catch (const EOSFileError& error) {
      // Taken, or made by another request that locked it first: that file is counted in.
      if (error.ErrorCode() != platform::FileExistsErrorCode() && !error.IsSharingViolation()) {
        throw;
      }
    }
    try {
      std::optional<platform::File> file = OpenHeld(path, platform::OpenMode::ReadWriteExclusive);
      if (file) return std::move(*file);
    } catch (const EOSFileError& error) {
      // Cleared by a right password meanwhile: made anew.
      if (platform::FileExists(path) && !platform::IsStaleFileError(error.ErrorCode())) throw;
    }
  }
  platform::ThrowFileCreateError(path, platform::kSharingViolation);
}

}  // namespace

GuessCount ParseGuessCount(std::string_view text) {
  std::size_t at = 0;
  const std::optional<std::int64_t> failures = NextNumber(text, at);
  const std::optional<std::int64_t> last = NextNumber(text, at);
  if (!failures || !last || *failures < 0) return GuessCount{};
  return GuessCount{static_cast<int>(std::min(*failures, kMostFailures)), *last};
}

std::string FormatGuessCount(const GuessCount& count) {
  return std::to_string(count.failures) + " " + std::to_string(count.last_failure) + "\r\n";
}

GuessCount CountedFailure(const GuessCount& count, std::int64_t now) {
  const std::int64_t age = now - count.last_failure;
  const bool in_a_row = age > -kWrongPasswordPauseSeconds && age < kWrongPasswordPauseSeconds;
  // Refused requests are never counted, so the count stops just past the allowance.
  if (!in_a_row) return GuessCount{1, now};
  return GuessCount{count.failures + 1, std::max(now, count.last_failure)};
}

bool IsRefused(const GuessCount& count, std::int64_t now) {
  const std::int64_t age = now - count.last_failure;
  return count.failures >= kWrongPasswordsAllowed && age >= 0 && age < kWrongPasswordPauseSeconds;
}

std::string GuessFileName(std::string_view address, std::string_view id) {
  std::string name(kFilePrefix);
  for (const char byte : address) {
    const char c = LowerAscii(byte);
    if (IsKeptAddressByte(c)) {
      name.push_back(c);
    } else if (c == ':') {
      name.push_back('-');
    } else {
      AppendHexByte(name, "_", static_cast<unsigned char>(c));
    }
  }
  name.append("+").append(id).append(kFileSuffix);
  return name;
}

std::string GuessLogLine(std::string_view what, std::string_view address, std::string_view id,
                         std::string_view command) {
  std::string line = "orvanegate: ";
  line.append(what);
  const auto field = [&line](std::string_view label, std::string_view value) {
    line.append(" ").append(label).append(" ");
    if (value.empty()) line.append("-");  // every field stays one word
    for (const char c : value) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte <= 0x20 || byte == 0x7F) {
        AppendHexByte(line, "\\x", byte);
      } else {
        line.push_back(c);
      }
    }
  };
  line.append(":");
  field("address", address);
  field("id", id);
  field("command", command);
  line.append("\n");
  return line;
}

PasswordGuesses::PasswordGuesses(std::string_view members_dir, std::string_view address,
                                 std::string_view id)
    : path_(IncludeTrailingDelimiter(members_dir) + GuessFileName(address, id)) {}

bool PasswordGuesses::Refused(std::int64_t now) {
  std::string text;
  try {
    std::optional<platform::File> file = OpenHeld(path_, platform::OpenMode::ReadShared);
    if (!file) return false;
    text = file->ReadAllUncached();
  } catch (const EOSFileError&) {
    // No count file, nearly always; one that cannot be read refuses nobody either.
    return false;
  }
  found_ = true;
  return IsRefused(ParseGuessCount(text), now);
}

void PasswordGuesses::CountFailure(std::int64_t now) {
  platform::File file = OpenForCounting(path_);
  const std::string old_text = file.ReadAllUncached();
  std::string text = FormatGuessCount(CountedFailure(ParseGuessCount(old_text), now));
  const std::size_t length = text.size();
  if (old_text.size() > length) text.append(old_text.size() - length, ' ');
  file.OverwriteAndCut(text, length);
  file.Close();
}

void PasswordGuesses::Clear() {
  if (!found_) return;
  std::optional<platform::File> file;
  try {
    file = OpenHeld(path_, platform::OpenMode::ReadWriteExclusive);
  } catch (const EOSFileError&) {
    return;  // cleared by another request meanwhile
  }
  if (!file) return;
  platform::ClearHeldFileRemovals(path_);
  platform::RemoveHeldFile(path_);
}

TWebModule1::PasswordCheck TWebModule1::CheckGuardedPassword(std::string_view id,
                                                             const std::string& password,
                                                             std::string_view command) {
  // An id that names no record file has no count either, and must not reach a path.
  if (membersdb.empty() || !IsSafeFileNamePart(id)) return PasswordCheck::NoRecord;
  const std::string address = GetEnv("REMOTE_ADDR");
  PasswordGuesses guesses(membersdb, address, id);
  const std::int64_t now = platform::WallClockSeconds();
  if (guesses.Refused(now)) {
    platform::WriteStderr(GuessLogLine("too many wrong passwords", address, id, command));
    return PasswordCheck::TooManyWrong;
  }
  switch (CheckMemberPassword(membersdb, std::string(id), password)) {
    case kNoMemberRecord:
      return PasswordCheck::NoRecord;
    case kPasswordWrong:
      guesses.CountFailure(now);
      platform::WriteStderr(GuessLogLine("wrong password", address, id, command));
      return PasswordCheck::Wrong;
    default:
      guesses.Clear();
      return PasswordCheck::Match;
  }
}

}  // namespace orvane
