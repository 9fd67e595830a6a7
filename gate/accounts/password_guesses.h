// Wrong passwords counted per network, for each member id and across all ids, so that
// guessing a member's password, or one password on many members, from one network is
// slowed to a few tries a minute, while the member at any other network is never refused
// by what that network does. Registrations are counted per network the same way.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/platform.h"

namespace orvane {

// How many counted tries a network may make within a pause after the last before it is
// refused, and that pause.
struct CountBounds {
  int allowance = 0;
  std::int64_t pause_seconds = 0;
};

// Wrong passwords in a row that a network may send for one id before it is refused.
inline constexpr int kWrongPasswordsAllowed = 5;
// How long a network stays refused after its last wrong password.
inline constexpr std::int64_t kWrongPasswordPauseSeconds = 60;
inline constexpr CountBounds kIdGuessBounds{kWrongPasswordsAllowed, kWrongPasswordPauseSeconds};
// Wrong passwords a network may send within a minute across all ids.
inline constexpr CountBounds kNetworkGuessBounds{20, kWrongPasswordPauseSeconds};
// The networks whose counts one id keeps at most; the oldest goes first. Every failure
// file holds at most 22 bytes, so the counts of an id stay far below 64 KiB.
inline constexpr int kMostNetworksPerId = 64;
// Registrations a network may make within an hour unless the site settings say.
inline constexpr int kDefaultRegistrationsPerHour = 20;
inline constexpr std::int64_t kRegistrationPauseSeconds = 3600;

// The page of a network refused for an id.
inline constexpr char kTooManyWrongPasswords[] =
    "Too many wrong passwords. Try again in a minute. "
    "パスワードの誤りが続きました。1分後にもう一度お試しください";
// The page of a network that has registered its allowance.
inline constexpr char kTooManyRegistrations[] =
    "Too many registrations from your network. Try again later. "
    "登録が多すぎます。しばらくしてから再度お試しください";

// The counted tries in a row of one network and the time of the last one, in seconds of
// platform::WallClockSeconds.
struct GuessCount {
  int failures = 0;
  std::int64_t last_failure = 0;
};

// What a failure file holds: its time, "seconds CR LF". An empty or unreadable text is
// time 0, long past, so that such a file never refuses and ends its row.
std::int64_t ParseFailureTime(std::string_view text);
std::string FormatFailureTime(std::int64_t time);
// The count that a try at `now` leaves: one more while the last is less than a pause
// away, or a fresh 1. A last try a little ahead of now is counted on: requests read the
// clock before they wait for the count, and another server's clock may run a little
// behind. One a pause or more ahead was left by a clock set back.
GuessCount CountedFailure(const GuessCount& count, std::int64_t now,
                          CountBounds bounds = kIdGuessBounds);
// True while the network has used up its tries and its last is less than a pause ago. A
// last try ahead of now refuses nothing, so a clock set back never locks a member out
// for longer than a pause.
bool IsRefused(const GuessCount& count, std::int64_t now, CountBounds bounds = kIdGuessBounds);
// The registrations per hour a site settings value allows: a number, 0 for no bound; the
// default where it is unset or no number.
int ParseRegistrationsPerHour(std::string_view text);

// The path, below the member directory, of the file of the network's `failure`th wrong
// password for the id: ".guesses", the id as the record's name holds it after "+" (so
// that no id names "." or ".."), and the network encoded to letters, digits, "." "-" "_"
// (":" becomes "-", every other byte "_" and two hex digits, letters in lower case), "."
// and the number. Network and id are cut, the id between characters, where they would
// make a name too long for a file system: ids that share so long a beginning share their
// counts, which only ever refuses sooner.
std::string GuessFileName(std::string_view network, std::string_view id, int failure);

// The operator's log line for a refusal ("wrong password", "too many wrong passwords",
// "too many registrations"): "orvanegate: WHAT:" and each label with its value. Bytes a
// line could be split or forged with (controls, space, DEL) are written as \xNN, so every
// field is one word and the address always comes first.
std::string RefusalLogLine(
    std::string_view what,
    std::initializer_list<std::pair<std::string_view, std::string_view>> fields);
std::string GuessLogLine(std::string_view what, std::string_view address, std::string_view id,
                         std::string_view command);

// The counts a password try of one network for one id meets, kept in the member
// directory's ".guesses" directory.
class PasswordGuesses {
 public:
  PasswordGuesses(std::string_view members_dir, std::string_view network, std::string_view id);

  // Before the password is compared: false when the network is refused for the id or
  // across ids; otherwise the counts are held (the member directory's count lock) until
  // the try is judged or counted. A network refused by tries of the last two seconds,
  // which may be right passwords still being compared, looks again for up to two
  // seconds before it is refused.
  bool Hold(std::int64_t now);
  // While held, a try compared at once: a wrong one is counted for the id and across
  // ids, a right one removes the network's row for the id. The counts are let go.
  void Judged(bool right, std::int64_t now);
  // While held, a try whose compare takes long (a hash): it is counted for the id and
  // across ids and the counts are let go, so that other tries are judged meanwhile and
  // of many at once no more are compared than allowed. Ended rows of the id's other
  // networks are removed on the way, and the oldest where the id would keep more than
  // kMostNetworksPerId. False when a row was found full after all: nothing was counted.
  bool CountHeld(std::int64_t now);
  // Hold and CountHeld in one.
  bool CountTry(std::int64_t now) { return Hold(now) && CountHeld(now); }
  // After a counted try: a right password removes the network's row for the id and
  // takes the try back across ids. A try that judged no password is taken back from both.
  void Clear(bool whole_row = true);

 private:
  // None when the counts are held; else the time of the last try of the row that
  // refuses the network.
  std::optional<std::int64_t> HoldOrRefuse(std::int64_t now);
  // Counts the held try in both rows and lets the counts go; false where a row was full.
  bool CountAndLetGo(std::int64_t now);

  std::string members_dir_;
  std::string counts_dir_;
  std::string id_dir_;
  std::string network_;
  platform::File lock_;
  GuessCount own_count_;  // the network's row for the id as the hold found it
  bool counted_ = false;
};

// The registrations of one network, kept like the wrong passwords across ids.
class RegistrationCount {
 public:
  RegistrationCount(std::string_view members_dir, std::string_view network, int per_hour);

  // Before the record is made: false when the network has used up its hour; otherwise
  // the registration is counted. With no bound nothing is touched.
  bool CountTry(std::int64_t now);
  // A registration that made no record is taken back.
  void TakeBack();

 private:
  std::string members_dir_;
  std::string counts_dir_;
  std::string network_;
  int per_hour_;
  bool counted_ = false;
};

}  // namespace orvane
