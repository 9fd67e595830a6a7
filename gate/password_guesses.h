// Wrong passwords counted per member id and client address, so that guessing a member's
// password from one address is slowed to a few tries a minute, while the member at any
// other address is never refused by what that address does.
#pragma once

#include <cstdint>
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

// What a count file holds: the wrong passwords in a row and the time of the last one,
// in seconds of platform::WallClockSeconds.
struct GuessCount {
  int failures = 0;
  std::int64_t last_failure = 0;
};

// "failures last_failure"; an empty or unreadable text is no count, and spaces after the
// numbers (left by a rewrite cut short) are ignored.
GuessCount ParseGuessCount(std::string_view text);
std::string FormatGuessCount(const GuessCount& count);
// The count that a wrong password at `now` leaves: one more while the last failure is
// less than a pause away, or a fresh 1. A last failure a little ahead of now is counted
// on: requests read the clock before they wait for the count, and another server's clock
// may run a little behind. One a pause or more ahead was left by a clock set back.
GuessCount CountedFailure(const GuessCount& count, std::int64_t now);
// True while the address has used up its tries and its last failure is less than a
// pause ago. A last failure ahead of now refuses nothing, so a clock set back never
// locks a member out for longer than a pause.
bool IsRefused(const GuessCount& count, std::int64_t now);

// The count file's name in the member directory: a dot, so that no server lists it and
// no record name (ending in ".txt") can ever equal it, the address encoded to letters,
// digits, "." "-" "_" (":" becomes "-", every other byte "_" and two hex digits, letters
// in lower case), "+" and the id as the record's name holds it, and ".count".
std::string GuessFileName(std::string_view address, std::string_view id);

// The operator's log line for a refused password ("wrong password" or "too many wrong
// passwords"). Bytes a line could be split or forged with (controls, space, DEL) are
// written as \xNN, so every field is one word and the address always comes first.
std::string GuessLogLine(std::string_view what, std::string_view address, std::string_view id,
                         std::string_view command);

// The count of one id from one address, kept in a file beside the member records.
class PasswordGuesses {
 public:
  PasswordGuesses(std::string_view members_dir, std::string_view address, std::string_view id);

  // Reads the count: true when the address is refused now. Where there is no count file
  // this is one failed open, and nothing else is touched.
  bool Refused(std::int64_t now);
  // Counts a wrong password at `now`, creating the file when there is none.
  void CountFailure(std::int64_t now);
  // A right password: the address's count is removed, when Refused found one.
  void Clear();

 private:
  std::string path_;
  bool found_ = false;
};

}  // namespace orvane
