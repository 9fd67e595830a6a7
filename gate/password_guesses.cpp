// The count files of wrong passwords beside the member records. Each wrong password of
// an address for an id is one file, .guesses-ADDRESS+ID.1 to .5, holding its time: the
// count is how many of them there are. A file is written whole under a helper name and
// then linked to the first free number, and is never rewritten; only the fifth is
// replaced, by a rename, when a later wrong password moves the end of the pause on. So
// a count never rests on what a file held a moment ago, which the caches of a network
// file system may still hand out after another client changed it: each wrong password
// takes a name of its own, and the file server, not a client's cache, decides that no
// two take the same. A directory-wide lock file, never removed, orders the writers, so
// that a row that has ended is cleared by one of them only. An address is refused while
// its fifth file is less than a pause old.
//
// | Step (lock held)                 | On disk after it            | A kill here leaves; cleared by  |
// |----------------------------------|-----------------------------|---------------------------------|
// | read the row: files 1, 2, ...    | unchanged                   | unchanged                       |
// | ended row: remove newest first   | files 1..k of the old row   | an old row, refusing nobody;    |
// |                                  |                             | the next wrong password ends it |
// | write the helper, whole          | helper                      | helper; the next holder         |
// |                                  |                             | removes it                      |
// | link it to the first free number | the new failure, helper     | the same                        |
// | (or rename it over the fifth)    |                             |                                 |
// | remove the helper                | the new failure             | nothing more                    |
// | right password: remove, newest   | files 1..k of the row       | a shorter row; it refuses at    |
// | first                            |                             | most one pause                  |
//
// Removing newest first keeps every row numbered from 1 without gaps, whatever step a
// kill ends, so the first free number is always one more than the count.
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
#include "platform/shift_jis.h"

namespace orvane {
namespace {

// Held by every process that writes or removes failure files of the directory.
constexpr std::string_view kLockName = ".guesses.lock";
// The one helper file of the directory, written only while the lock is held.
constexpr std::string_view kHelperName = ".guesses.new";
// Writers hold the lock for a moment; one held far longer than that is not waited for.
constexpr int kHoldWaitMilliseconds = 10000;
// A file found taken where the row showed it free (a name cache that lags behind another
// client's removal) is looked up again after a pause; a name cache keeps a name for
// about a second, and the bound gives it five.
constexpr int kClaimAttempts = 250;
constexpr int kRetryMilliseconds = 20;

constexpr std::string_view kFilePrefix = ".guesses-";
// Bounds that keep the longest name under the 255 bytes or UTF-16 units every file
// system holds: the prefix, the address, "+", the id, "." and one digit.
constexpr std::size_t kLongestAddressInName = 64;
constexpr std::size_t kLongestIdInName = 160;
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

std::string EncodedAddress(std::string_view address) {
  std::string encoded;
  for (const char byte : address) {
    const char c = LowerAscii(byte);
    if (IsKeptAddressByte(c)) {
      encoded.push_back(c);
    } else if (c == ':') {
      encoded.push_back('-');
    } else {
      AppendHexByte(encoded, "_", static_cast<unsigned char>(c));
    }
  }
  return encoded.substr(0, kLongestAddressInName);
}

// The id's first characters that fit the bound, a double-byte character never split.
std::string_view IdInName(std::string_view id) {
  std::size_t end = 0;
  while (end < id.size()) {
    const std::size_t next = end + CharacterLength(id, end);
    if (next > kLongestIdInName) break;
    end = next;
  }
  return id.substr(0, end);
}

// The time in a failure file; none when there is no file at the name. The caches of a
// network file system may lead a name to a file another client removed: the name is
// then looked up again, and found free or taken by the file there now.
std::optional<std::int64_t> ReadFailureFile(const std::string& path) {
  for (int attempt = 1;; ++attempt) {
    try {
      platform::File file = platform::File::Open(path, platform::OpenMode::ReadShared);
      return ParseFailureTime(file.ReadAll());
    } catch (const EOSFileError& error) {
      if (!platform::FileExists(path)) return std::nullopt;
      if (!platform::IsStaleFileError(error.ErrorCode()) || attempt >= kClaimAttempts) throw;
    }
    platform::SleepMilliseconds(kRetryMilliseconds);
  }
}

platform::File HoldDirectoryLock(const std::string& dir) {
  return platform::File::OpenWaitingAtMost(
      dir + std::string(kLockName), platform::OpenMode::OpenAlwaysExclusive, kHoldWaitMilliseconds);
}

}  // namespace

std::int64_t ParseFailureTime(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && static_cast<unsigned char>(text[at]) <= 32) ++at;
  std::int64_t value = 0;
  const auto [stop, error] = std::from_chars(text.data() + at, text.data() + text.size(), value);
  return error == std::errc() ? value : 0;
}

std::string FormatFailureTime(std::int64_t time) { return std::to_string(time) + "\r\n"; }

GuessCount CountedFailure(const GuessCount& count, std::int64_t now) {
  const std::int64_t age = now - count.last_failure;
  const bool in_a_row = age > -kWrongPasswordPauseSeconds && age < kWrongPasswordPauseSeconds;
  if (count.failures == 0 || !in_a_row) return GuessCount{1, now};
  return GuessCount{count.failures + 1, std::max(now, count.last_failure)};
}

bool IsRefused(const GuessCount& count, std::int64_t now) {
  const std::int64_t age = now - count.last_failure;
  return count.failures >= kWrongPasswordsAllowed && age >= 0 && age < kWrongPasswordPauseSeconds;
}

std::string GuessFileName(std::string_view address, std::string_view id, int failure) {
  std::string name(kFilePrefix);
  name.append(EncodedAddress(address)).append("+").append(IdInName(id));
  return name.append(".").append(std::to_string(failure));
}

std::string LogLine(std::string_view what, std::initializer_list<LogField> fields) {
  std::string line = "orvanegate: ";
  line.append(what).append(":");
  for (const LogField& field : fields) {
    line.append(" ").append(field.label).append(" ");
    if (field.value.empty()) line.append("-");  // every field stays one word
    for (const char c : field.value) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte <= 0x20 || byte == 0x7F) {
        AppendHexByte(line, "\\x", byte);
      } else {
        line.push_back(c);
      }
    }
  }
  line.append("\n");
  return line;
}

std::string GuessLogLine(std::string_view what, std::string_view address, std::string_view id,
                         std::string_view command) {
  return LogLine(what, {{"address", address}, {"id", id}, {"command", command}});
}

PasswordGuesses::PasswordGuesses(std::string_view members_dir, std::string_view address,
                                 std::string_view id)
    : dir_(IncludeTrailingDelimiter(members_dir)), address_(address), id_(id) {}

std::string PasswordGuesses::FailurePath(int failure) const {
  return dir_ + GuessFileName(address_, id_, failure);
}

bool PasswordGuesses::Refused(std::int64_t now) {
  if (!platform::FileExists(FailurePath(1))) return false;
  found_ = true;
  try {
    const std::optional<std::int64_t> last = ReadFailureFile(FailurePath(kWrongPasswordsAllowed));
    return last && IsRefused(GuessCount{kWrongPasswordsAllowed, *last}, now);
  } catch (const EOSFileError&) {
    return false;  // a count that cannot be read refuses nobody
  }
}

// The row as the files hold it, read while the lock is held.
GuessCount PasswordGuesses::ReadCount() const {
  GuessCount count;
  while (count.failures < kWrongPasswordsAllowed) {
    const std::optional<std::int64_t> time = ReadFailureFile(FailurePath(count.failures + 1));
    if (!time) break;
    count = GuessCount{count.failures + 1, *time};
  }
  return count;
}

// Removes the failure files from `from` down to the first; true when none is left.
bool PasswordGuesses::RemoveFailures(int from) const {
  bool removed = true;
  for (int failure = from; failure >= 1; --failure) {
    const std::string path = FailurePath(failure);
    platform::ClearHeldFileRemovals(path);
    // Removed as a held file: a request reading it must not keep its name taken.
    if (platform::RemoveHeldFile(path).Failed() && platform::FileExists(path)) removed = false;
  }
  return removed;
}

// Writes the time whole under the helper name and links it to the failure's name, or
// renames it over that name; false when the name was found taken.
bool PasswordGuesses::WriteFailure(int failure, std::int64_t time, bool replace) const {
  const std::string helper = dir_ + std::string(kHelperName);
  const std::string path = FailurePath(failure);
  platform::ClearHeldFileRemovals(helper);
  platform::RemoveHeldFile(helper);  // left by a holder that was killed
  platform::File file = platform::File::Open(helper, platform::OpenMode::CreateNewExclusive);
  try {
    file.WriteAll(FormatFailureTime(time));
    file.Close();
  } catch (...) {
    file = platform::File();  // closed before removal, as some systems require
    platform::RemoveHeldFile(helper);
    throw;
  }
  const platform::Outcome done =
      replace ? platform::RenameFile(helper, path) : platform::CreateHardLink(helper, path);
  if (!replace || done.Failed()) platform::RemoveHeldFile(helper);
  if (done.Done()) return true;
  if (!replace && done.error == platform::FileExistsErrorCode() && platform::FileExists(path)) {
    return false;
  }
  platform::ThrowFileCreateError(path, done.error);
}

void PasswordGuesses::CountFailure(std::int64_t now) {
  platform::File lock = HoldDirectoryLock(dir_);
  for (int attempt = 1; attempt <= kClaimAttempts; ++attempt) {
    const GuessCount count = ReadCount();
    const GuessCount after = CountedFailure(count, now);
    if (after.failures == 1 && !RemoveFailures(count.failures)) break;
    // Past the allowance only the time moves on: the address is refused already, and
    // this request was checked before it was.
    const bool past_allowance = after.failures > kWrongPasswordsAllowed;
    if (past_allowance && after.last_failure > count.last_failure) {
      WriteFailure(kWrongPasswordsAllowed, after.last_failure, true);
    }
    if (past_allowance || WriteFailure(after.failures, after.last_failure, false)) {
      lock.Close();
      return;
    }
    platform::SleepMilliseconds(kRetryMilliseconds);
  }
  platform::ThrowFileCreateError(FailurePath(1), platform::kSharingViolation);
}

void PasswordGuesses::Clear() {
  if (!found_) return;
  try {
    platform::File lock = HoldDirectoryLock(dir_);
    RemoveFailures(kWrongPasswordsAllowed);
    lock.Close();
  } catch (const EOSFileError&) {
    // A count left behind refuses that address for at most one pause.
  }
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
