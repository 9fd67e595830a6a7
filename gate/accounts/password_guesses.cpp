// The counts of wrong passwords and registrations, in the member directory's ".guesses"
// directory. A row counts the tries of one network: for one id (".guesses/+ID/NETWORK.N"),
// across ids (".guesses/.wrong-NETWORK.N") or registrations
// (".guesses/.registered-NETWORK.N"). Each try is one file of the row, numbered from 1,
// holding its time: the count is how many of them there are. A file is written whole
// under the helper name ".new" of its directory and then linked to the first free number,
// and is never rewritten. So a count never rests on what a file held a moment ago, which
// the caches of a network file system may still hand out after another client changed
// it: each try takes a name of its own, and the file server, not a client's cache,
// decides that no two take the same. A lock file in the member directory, never removed,
// orders the writers, so that a row that has ended is cleared by one of them only.
//
// A try is judged while the lock is held, or counted before the password is compared:
// so of many tries at once no more are compared than the count allows. A password the
// record keeps as text is compared at once while the lock is held; a wrong one is then
// counted and a right one removes the network's row for the id, so a right password
// writes nothing. One kept as a hash takes a while to compare: it is counted while the
// lock is held, the lock let go for the compare, and the try taken back when the
// password was right. Registrations are counted before the record is made and taken
// back when none was. A network whose row is full and fresh is refused by one look-up,
// without the lock; one refused by tries of the last two seconds (which may be its
// member's own right passwords, still being compared) looks again for up to two
// seconds. Every counted try lists its id's directory, which holds at most
// kMostNetworksPerId rows, and removes the rows that have ended, with the ended row of
// their network across ids, and the oldest where the id would hold more. No directory
// that grows with the site is ever listed.
//
// | Step (lock held)                 | On disk after it            | A kill here leaves; cleared by  |
// |----------------------------------|-----------------------------|---------------------------------|
// | read the rows: files 1, 2, ...;  | unchanged                   | unchanged; a try judged at once |
// | a text password compared         |                             | is not counted                  |
// | right text password: remove the  | files 1..k of the row       | a shorter row; it refuses at    |
// | id's row newest first            |                             | most one pause                  |
// | counted try: list the id, remove | files 1..k of an ended row  | an ended row, refusing nobody;  |
// | ended rows newest first          |                             | the next try of the id ends it  |
// | write the helper, whole          | helper                      | helper; the next holder         |
// |                                  |                             | removes it                      |
// | link it to the first free number | the new try, helper         | the same                        |
// | remove the helper                | the new try                 | a right hashed password counted |
// |                                  |                             | as a try: it refuses at most a  |
// |                                  |                             | pause                           |
// | full row (the id's, then across) | the id's try taken back     | the same                        |
// | right hashed password: remove    | files 1..k of the row       | a shorter row; it refuses at    |
// | the id's row newest first, then  |                             | most one pause                  |
// | the last try across ids          |                             |                                 |
// | no record made: the last try of  | one try fewer               | a try counted: it lowers the    |
// | the registrations taken back     |                             | hour's allowance by one         |
//
// Removing newest first keeps every row numbered from 1 without gaps, whatever step a
// kill ends, so the first free number is always one more than the count.
#include "gate/accounts/password_guesses.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "gate/accounts/member_records.h"
#include "gate/accounts/network_address.h"
#include "gate/accounts/password_store.h"
#include "gate/disk_names.h"
#include "gate/text/cgi_text.h"
#include "gate/text/path_text.h"
#include "gate/text/safe_name.h"
#include "gate/web_module1.h"
#include "platform/exception.h"
#include "platform/platform.h"
#include "platform/shift_jis.h"

namespace orvane {
namespace {

// Held by every process that writes or removes count files of the member directory.
constexpr std::string_view kLockName = disk_names::kGuessesLock;
constexpr std::string_view kCountsName = disk_names::kGuessesDirectory;
// The one helper file of a directory of counts, written only while the lock is held.
constexpr std::string_view kHelperName = disk_names::kCountHelper;
constexpr std::string_view kNetworkPrefix = disk_names::kWrongNetworkPrefix;
constexpr std::string_view kRegistrationPrefix = disk_names::kRegisteredPrefix;
// Writers hold the lock for a moment; one held far longer than that is not waited for.
constexpr int kHoldWaitMilliseconds = 10000;
// A file found taken where the row showed it free (a name cache that lags behind another
// client's removal) is looked up again after a pause; a name cache keeps a name for
// about a second, and the bound gives it five.
constexpr int kClaimAttempts = 250;
constexpr int kRetryMilliseconds = 20;
// A network refused by tries of the last two seconds looks again for two seconds.
constexpr std::int64_t kInFlightSeconds = 2;
constexpr int kInFlightWaits = 40;
constexpr int kInFlightRetryMilliseconds = 50;

// Bounds that keep the longest name under the 255 bytes or UTF-16 units every file
// system holds: "+" and the id; a prefix, the network, "." and the number.
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
  for (const char byte : address.substr(0, kLongestAddressInName)) {
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

std::string CountsDir(std::string_view members_dir) {
  return IncludeTrailingDelimiter(IncludeTrailingDelimiter(members_dir) + std::string(kCountsName));
}

std::string IdDir(const std::string& counts_dir, std::string_view id) {
  return IncludeTrailingDelimiter(counts_dir + "+" + std::string(IdInName(id)));
}

// The time in a failure file; none when there is no file at the name. The caches of a
// network file system may lead a name to a file another client removed: the name is
// then looked up again, and found free or taken by the file there now.
// A look that decides nothing (`look_again` false) takes the first answer.
std::optional<std::int64_t> ReadFailureFile(const std::string& path, bool look_again = true) {
  // Most rows are empty: a name that is not there costs one look-up, not a failed open.
  if (!platform::FileExists(path)) return std::nullopt;
  for (int attempt = 1;; ++attempt) {
    try {
      platform::File file = platform::File::Open(path, platform::OpenMode::ReadShared);
      return ParseFailureTime(file.ReadAll());
    } catch (const EOSFileError& error) {
      if (!look_again || !platform::FileExists(path)) return std::nullopt;
      if (!platform::IsStaleFileError(error.ErrorCode()) || attempt >= kClaimAttempts) throw;
    }
    platform::SleepMilliseconds(kRetryMilliseconds);
  }
}

// The lock of the member directory, with the directory of counts made where it is new.
platform::File HoldCountLock(std::string_view members_dir, const std::string& dir) {
  const platform::Outcome made = platform::CreateDirectories(dir);
  if (made.Failed()) platform::ThrowFileCreateError(dir, made.error);
  return platform::File::OpenWaitingAtMost(
      IncludeTrailingDelimiter(members_dir) + std::string(kLockName),
      platform::OpenMode::OpenAlwaysExclusive, kHoldWaitMilliseconds);
}

bool HasEnded(const GuessCount& count, std::int64_t now, CountBounds bounds) {
  const std::int64_t age = now - count.last_failure;
  return age >= bounds.pause_seconds || age <= -bounds.pause_seconds;
}

// Whether a try at `now` would go past the row's allowance.
bool IsFull(const GuessCount& count, std::int64_t now, CountBounds bounds) {
  return CountedFailure(count, now, bounds).failures > bounds.allowance;
}

// One row of counted tries: the files BASE.1, BASE.2, ... of a directory of counts.
struct Row {
  std::string dir;
  std::string base;
  CountBounds bounds;

  std::string Path(int n) const { return dir + base + "." + std::to_string(n); }

  // The row as its files hold it, read while the lock is held.
  GuessCount Read() const {
    GuessCount count;
    while (count.failures < bounds.allowance) {
      const std::optional<std::int64_t> time = ReadFailureFile(Path(count.failures + 1));
      if (!time) break;
      count = GuessCount{count.failures + 1, *time};
    }
    return count;
  }

  // Removes the files from `from` down to the first; true when none is left.
  bool Remove(int from, int to = 1) const {
    bool removed = true;
    for (int n = from; n >= to; --n) {
      const std::string path = Path(n);
      platform::ClearHeldFileRemovals(path);
      // Removed as a held file: a request reading it must not keep its name taken.
      if (platform::RemoveHeldFile(path).Failed() && platform::FileExists(path)) removed = false;
    }
    return removed;
  }

  // Writes the time whole under the helper name and links it to the try's name; false
  // when the name was found taken.
  bool Write(int n, std::int64_t time) const {
    const std::string helper = dir + std::string(kHelperName);
    const std::string path = Path(n);
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
    const platform::Outcome done = platform::CreateHardLink(helper, path);
    platform::RemoveHeldFile(helper);
    if (done.Done()) return true;
    if (done.error == platform::FileExistsErrorCode() && platform::FileExists(path)) return false;
    platform::ThrowFileCreateError(path, done.error);
  }

  // Counts a try at `now` on the row. Where the row is full, nothing is counted and the
  // time of its last try is returned: also where a name cache showed fewer tries than
  // there are, and where the last is a little ahead of now (another server's clock).
  std::optional<std::int64_t> Count(std::int64_t now) const {
    for (int attempt = 1; attempt <= kClaimAttempts; ++attempt) {
      const GuessCount count = Read();
      if (IsFull(count, now, bounds)) return count.last_failure;
      const GuessCount after = CountedFailure(count, now, bounds);
      if (after.failures == 1 && !Remove(count.failures)) break;
      if (Write(after.failures, after.last_failure)) return std::nullopt;
      platform::SleepMilliseconds(kRetryMilliseconds);
    }
    platform::ThrowFileCreateError(Path(1), platform::kHeldByAnotherProcess);
  }

  // The time of the last try where the row refuses now, looked up without the lock: a
  // network past its allowance costs a look-up and holds nothing. None where it may not.
  std::optional<std::int64_t> Refusing(std::int64_t now) const {
    try {
      const std::optional<std::int64_t> last = ReadFailureFile(Path(bounds.allowance), false);
      if (last && IsRefused(GuessCount{bounds.allowance, *last}, now, bounds)) return last;
    } catch (const EOSFileError&) {
      // told under the lock
    }
    return std::nullopt;
  }

  // Takes back the newest try.
  void TakeBack() const {
    const GuessCount count = Read();
    if (count.failures > 0) Remove(count.failures, count.failures);
  }
};

Row IdRow(const std::string& id_dir, std::string_view network) {
  return Row{id_dir, EncodedAddress(network), kIdGuessBounds};
}

Row NetworkRow(const std::string& counts_dir, std::string_view network) {
  return Row{counts_dir, std::string(kNetworkPrefix) + EncodedAddress(network),
             kNetworkGuessBounds};
}

// The base and number of a failure file's name; none for other names (the helper, what
// a removal left on a system that keeps the names of open files).
std::optional<std::pair<std::string, int>> SplitFailureName(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  int n = 0;
  const char* end = name.data() + name.size();
  const auto [stop, error] = std::from_chars(name.data() + dot + 1, end, n);
  if (error != std::errc() || stop != end || n < 1 || n > kWrongPasswordsAllowed) {
    return std::nullopt;
  }
  return std::pair<std::string, int>(name.substr(0, dot), n);
}

// Removes the ended rows of the id's other networks, each with its row across ids where
// that has ended too, and the oldest rows where more than the id's bound would be left.
void TidyId(const std::string& counts_dir, const std::string& id_dir, const std::string& own,
            std::int64_t now) {
  const std::optional<std::vector<std::string>> names = platform::ListDirectory(id_dir);
  if (!names) return;
  std::map<std::string, int> newest;
  for (const std::string& name : *names) {
    const auto split = SplitFailureName(name);
    if (split && split->first != own) {
      int& n = newest[split->first];
      n = std::max(n, split->second);
    }
  }
  std::vector<std::pair<std::int64_t, std::string>> kept;
  for (const auto& [base, n] : newest) {
    const Row row{id_dir, base, kIdGuessBounds};
    const std::optional<std::int64_t> last = ReadFailureFile(row.Path(n));
    if (!last || !HasEnded(GuessCount{n, *last}, now, kIdGuessBounds)) {
      kept.emplace_back(last.value_or(now), base);
      continue;
    }
    row.Remove(n);
    const Row across{counts_dir, std::string(kNetworkPrefix) + base, kNetworkGuessBounds};
    const GuessCount count = across.Read();
    if (count.failures > 0 && HasEnded(count, now, kNetworkGuessBounds))
      across.Remove(count.failures);
  }
  std::sort(kept.begin(), kept.end());
  for (std::size_t oldest = 0; oldest + kMostNetworksPerId <= kept.size(); ++oldest) {
    Row{id_dir, kept[oldest].second, kIdGuessBounds}.Remove(kWrongPasswordsAllowed);
  }
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

GuessCount CountedFailure(const GuessCount& count, std::int64_t now, CountBounds bounds) {
  if (count.failures == 0 || HasEnded(count, now, bounds)) return GuessCount{1, now};
  return GuessCount{count.failures + 1, std::max(now, count.last_failure)};
}

bool IsRefused(const GuessCount& count, std::int64_t now, CountBounds bounds) {
  const std::int64_t age = now - count.last_failure;
  return count.failures >= bounds.allowance && age >= 0 && age < bounds.pause_seconds;
}

int ParseRegistrationsPerHour(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  const bool whole = !text.empty() && error == std::errc() && end == text.data() + text.size();
  return whole && value >= 0 ? value : kDefaultRegistrationsPerHour;
}

std::string GuessFileName(std::string_view network, std::string_view id, int failure) {
  const char delimiter = platform::PathDelimiter();
  std::string name(kCountsName);
  name.append(1, delimiter).append("+").append(IdInName(id)).append(1, delimiter);
  return name.append(EncodedAddress(network)).append(".").append(std::to_string(failure));
}

std::string RefusalLogLine(
    std::string_view what,
    std::initializer_list<std::pair<std::string_view, std::string_view>> fields) {
  std::string line = "orvanegate: ";
  line.append(what).append(":");
  for (const auto& [label, value] : fields) {
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
  }
  return line.append("\n");
}

std::string GuessLogLine(std::string_view what, std::string_view address, std::string_view id,
                         std::string_view command) {
  return RefusalLogLine(what, {{"address", address}, {"id", id}, {"command", command}});
}

PasswordGuesses::PasswordGuesses(std::string_view members_dir, std::string_view network,
                                 std::string_view id)
    : members_dir_(members_dir),
      counts_dir_(CountsDir(members_dir)),
      id_dir_(IdDir(counts_dir_, id)),
      network_(network) {}

bool PasswordGuesses::Hold(std::int64_t now) {
  for (int wait = 0;; ++wait) {
    const std::optional<std::int64_t> last = HoldOrRefuse(now);
    if (!last) return true;
    // Tries counted a moment ago may be right passwords still being compared, which then
    // clear the row: the member's own requests at once are waited for, not refused.
    if (now - *last > kInFlightSeconds || wait >= kInFlightWaits) return false;
    platform::SleepMilliseconds(kInFlightRetryMilliseconds);
  }
}

std::optional<std::int64_t> PasswordGuesses::HoldOrRefuse(std::int64_t now) {
  const Row own = IdRow(id_dir_, network_);
  const Row across = NetworkRow(counts_dir_, network_);
  if (const auto last = own.Refusing(now)) return last;
  if (const auto last = across.Refusing(now)) return last;
  platform::File lock = HoldCountLock(members_dir_, counts_dir_);
  own_count_ = own.Read();
  if (IsFull(own_count_, now, kIdGuessBounds)) return own_count_.last_failure;
  const GuessCount across_count = across.Read();
  if (IsFull(across_count, now, kNetworkGuessBounds)) return across_count.last_failure;
  lock_ = std::move(lock);
  return std::nullopt;
}

void PasswordGuesses::Judged(bool right, std::int64_t now) {
  if (!right) {
    CountAndLetGo(now);  // a wrong password stays counted: nothing to take back
    return;
  }
  if (own_count_.failures > 0) IdRow(id_dir_, network_).Remove(kWrongPasswordsAllowed);
  lock_.Close();
}

bool PasswordGuesses::CountHeld(std::int64_t now) {
  counted_ = CountAndLetGo(now);
  return counted_;
}

bool PasswordGuesses::CountAndLetGo(std::int64_t now) {
  platform::File lock = std::move(lock_);
  const Row own = IdRow(id_dir_, network_);
  const Row across = NetworkRow(counts_dir_, network_);
  const platform::Outcome made = platform::CreateDirectories(id_dir_);
  if (made.Failed()) platform::ThrowFileCreateError(id_dir_, made.error);
  TidyId(counts_dir_, id_dir_, own.base, now);
  if (own.Count(now)) return false;
  if (across.Count(now)) {
    own.TakeBack();
    return false;
  }
  lock.Close();
  return true;
}

void PasswordGuesses::Clear(bool whole_row) {
  if (!counted_) return;
  counted_ = false;
  try {
    platform::File lock = HoldCountLock(members_dir_, counts_dir_);
    const Row own = IdRow(id_dir_, network_);
    whole_row ? void(own.Remove(kWrongPasswordsAllowed)) : own.TakeBack();
    NetworkRow(counts_dir_, network_).TakeBack();
    lock.Close();
  } catch (const EOSFileError&) {
    // A count left behind refuses that network for at most one pause.
  }
}

RegistrationCount::RegistrationCount(std::string_view members_dir, std::string_view network,
                                     int per_hour)
    : members_dir_(members_dir),
      counts_dir_(CountsDir(members_dir)),
      network_(network),
      per_hour_(per_hour) {}

bool RegistrationCount::CountTry(std::int64_t now) {
  if (per_hour_ <= 0) return true;
  platform::File lock = HoldCountLock(members_dir_, counts_dir_);
  const Row row{counts_dir_, std::string(kRegistrationPrefix) + EncodedAddress(network_),
                CountBounds{per_hour_, kRegistrationPauseSeconds}};
  if (row.Refusing(now) || row.Count(now)) return false;
  counted_ = true;
  lock.Close();
  return true;
}

void RegistrationCount::TakeBack() {
  if (!counted_) return;
  try {
    platform::File lock = HoldCountLock(members_dir_, counts_dir_);
    Row{counts_dir_, std::string(kRegistrationPrefix) + EncodedAddress(network_),
        CountBounds{per_hour_, kRegistrationPauseSeconds}}
        .TakeBack();
    lock.Close();
  } catch (const EOSFileError&) {
    // A registration left counted lowers the network's allowance for one hour.
  }
}

TWebModule1::PasswordCheck TWebModule1::CheckGuardedPassword(std::string_view id,
                                                             const std::string& password,
                                                             std::string_view command,
                                                             std::optional<std::string>* record) {
  // An id that names no record file has no count either, and must not reach a path.
  if (membersdb.empty() || !IsSafeFileNamePart(id)) return PasswordCheck::NoRecord;
  const std::string address = GetEnv("REMOTE_ADDR");
  PasswordGuesses guesses(membersdb, AddressNetwork(address, ParseIpv6Prefix(ipv6prefix)), id);
  const auto refused = [&] {
    platform::WriteStderr(GuessLogLine("too many wrong passwords", address, id, command));
    return PasswordCheck::TooManyWrong;
  };
  // Read before the counts are held, which are then held for no file but their own; a
  // record that cannot be read judges nothing.
  std::optional<std::string> text = LoadMemberRecordText(membersdb, id);
  const StoredPassword stored = text ? StoredPasswordInText(*text) : StoredPassword{};
  const std::int64_t now = platform::WallClockSeconds();
  if (!guesses.Hold(now)) return refused();
  PasswordCheck check = PasswordCheck::NoRecord;
  if (!PasswordsChecked.ComputesHash(stored, password)) {
    // Judged at once while the counts are held: tries of the network wait for it, and a
    // right password counts nothing. An id without a record counts as a wrong password.
    if (text) check = PasswordsChecked.Opens(stored, password) ? PasswordCheck::Match
                                                              : PasswordCheck::Wrong;
    guesses.Judged(check == PasswordCheck::Match, now);
  } else {
    if (!guesses.CountHeld(now)) return refused();
    try {
      check = PasswordsChecked.Opens(stored, password) ? PasswordCheck::Match
                                                       : PasswordCheck::Wrong;
    } catch (...) {
      guesses.Clear(false);  // a hash that could not be computed judged no password
      throw;
    }
    if (check == PasswordCheck::Match) guesses.Clear();
  }
  if (check == PasswordCheck::Wrong) {
    platform::WriteStderr(GuessLogLine("wrong password", address, id, command));
  }
  if (record) *record = std::move(text);
  return check;
}

}  // namespace orvane
