// Wrong passwords counted per member id and client address, so that guessing a member's
// password from one address is slowed to a few tries a minute, while the member at any
// other address is never refused by what that address does.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace orvane {

// Wrong passwords in a row that an address may send for one id before it is refused.
inline constexpr int kWrongPasswordsAllowed = 5;
// How long an address stays refused after its last wrong password.
inline constexpr std::int64_t kWrongPasswordPauseSeconds = 60;

// The page of an address refused for an id.
inline constexpr char kTooManyWrongPasswords[] =
    "Too many wrong passwords. Try again in a minute. "
    "パスワードの誤りが続きました。1分後にもう一度お試しください";

// The wrong passwords in a row of one address for one id and the time of the last one,
// in seconds of platform::WallClockSeconds.
struct GuessCount {
  int failures = 0;
  std::int64_t last_failure = 0;
};

// What a failure file holds: its time, "seconds CR LF". An empty or unreadable text is
// time 0, long past, so that such a file never refuses and ends its row.
std::int64_t ParseFailureTime(std::string_view text);
std::string FormatFailureTime(std::int64_t time);
// The count that a wrong password at `now` leaves: one more while the last failure is
// less than a pause away, or a fresh 1. A last failure a little ahead of now is counted
// on: requests read the clock before they wait for the count, and another server's clock
// may run a little behind. One a pause or more ahead was left by a clock set back.
GuessCount CountedFailure(const GuessCount& count, std::int64_t now);
// True while the address has used up its tries and its last failure is less than a
// pause ago. A last failure ahead of now refuses nothing, so a clock set back never
// locks a member out for longer than a pause.
bool IsRefused(const GuessCount& count, std::int64_t now);

// The name of the file of the address's `failure`th wrong password for the id, in the
// member directory: a dot, so that no server lists it and no record name (ending in
// ".txt") can ever equal it, the address encoded to letters, digits, "." "-" "_" (":"
// becomes "-", every other byte "_" and two hex digits, letters in lower case), "+", the
// id as the record's name holds it, "." and the number. Address and id are cut, the id
// between characters, where they would make the name too long for a file system: ids
// that share so long a beginning share their counts, which only ever refuses sooner.
std::string GuessFileName(std::string_view address, std::string_view id, int failure);

// One field of an operator's log line: its label and its value.
struct LogField {
  std::string_view label;
  std::string_view value;
};

// The operator's log line "orvanegate: WHAT: label value ...", the fields in order. Bytes
// a line could be split or forged with (controls, space, DEL) are written as \xNN and an
// empty value as "-", so every field is one word and none can move another.
std::string LogLine(std::string_view what, std::initializer_list<LogField> fields);

// The operator's log line for a refused password ("wrong password" or "too many wrong
// passwords"), the address first.
std::string GuessLogLine(std::string_view what, std::string_view address, std::string_view id,
                         std::string_view command);

// The count of one id from one address, kept in files beside the member records.
class PasswordGuesses {
 public:
  PasswordGuesses(std::string_view members_dir, std::string_view address, std::string_view id);

  // True when the address is refused now. Where there is no count this is one failed
  // look-up of a name, and nothing else is touched.
  bool Refused(std::int64_t now);
  // Counts a wrong password at `now`.
  void CountFailure(std::int64_t now);
  // A right password: the address's count is removed, when Refused found one.
  void Clear();

 private:
  std::string FailurePath(int failure) const;
  GuessCount ReadCount() const;
  bool RemoveFailures(int from) const;
  bool WriteFailure(int failure, std::int64_t time, bool replace) const;

  std::string dir_;
  std::string address_;
  std::string id_;
  bool found_ = false;
};

}  // namespace orvane
