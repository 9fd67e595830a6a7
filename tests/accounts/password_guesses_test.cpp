#include "gate/accounts/password_guesses.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace orvane {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

constexpr std::int64_t kT = 1796000000;  // a time of the calendar clock, in seconds

TEST(GuessCount, FailureTimeIsReadLeniently) {
  struct Case {
    const char* label;
    std::string text;
    std::int64_t time;
  };
  const Case cases[] = {
      {"as written", "1796000000\r\n", kT},
      {"empty, as no gate writes it", "", 0},
      {"spaces before, no line end", "  17", 17},
      {"words", "x\r\n", 0},
      {"too large for a time", "99999999999999999999\r\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ParseFailureTime(c.text), c.time);
  }
  EXPECT_EQ(FormatFailureTime(kT), "1796000000\r\n");
}

TEST(GuessCount, RefusesFiveInARowForAMinuteAfterTheLast) {
  struct Case {
    const char* label;
    GuessCount count;
    std::int64_t now;
    bool refused;
    int failures_after_one_more;
    std::int64_t last_after_one_more = 0;  // 0: now
    CountBounds bounds = kIdGuessBounds;
  };
  const Case cases[] = {
      {"none yet", {}, kT, false, 1},
      {"four in a row", {4, kT}, kT + 10, false, 5},
      {"five, just now", {5, kT}, kT, true, 6},
      {"five, 59 s ago", {5, kT}, kT + 59, true, 6},
      {"five, a minute ago", {5, kT}, kT + 60, false, 1},
      {"four, a minute ago starts afresh", {4, kT}, kT + 60, false, 1},
      {"last failure a second ahead, as a request that began earlier sees it",
       {5, kT},
       kT - 1,
       false,
       6,
       kT},
      {"four, 59 s ahead of a clock set back", {4, kT + 59}, kT, false, 5, kT + 59},
      {"a minute ahead of a clock set back starts afresh", {4, kT + 60}, kT, false, 1},
      {"far ahead", {9, kT + 86400 * 365}, kT, false, 1},
      {"nineteen across ids", {19, kT}, kT + 1, false, 20, 0, kNetworkGuessBounds},
      {"twenty across ids, 59 s ago", {20, kT}, kT + 59, true, 21, 0, kNetworkGuessBounds},
      {"registrations, within the hour", {3, kT}, kT + 3599, true, 4, 0, {3, 3600}},
      {"registrations, an hour after", {3, kT}, kT + 3600, false, 1, 0, {3, 3600}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(IsRefused(c.count, c.now, c.bounds), c.refused);
    const GuessCount after = CountedFailure(c.count, c.now, c.bounds);
    EXPECT_EQ(after.failures, c.failures_after_one_more);
    EXPECT_EQ(after.last_failure, c.last_after_one_more != 0 ? c.last_after_one_more : c.now);
  }
}

TEST(GuessFileName, AddressIsEncodedAndNoNameIsARecords) {
  const std::string dbcs_id = [] {
    std::string id;
    for (int n = 0; n < 81; ++n) id += "\x95\x5C";  // 162 bytes
    return id;
  }();
  struct Case {
    const char* label;
    std::string address, id;
    int failure;
    std::string name;
  };
  const Case cases[] = {
      {"IPv4", "203.0.113.9", "taro", 1, ".guesses/+taro/203.0.113.9.1"},
      {"the fifth", "203.0.113.9", "taro", 5, ".guesses/+taro/203.0.113.9.5"},
      {"IPv6 network", "2001:db8::/64", "taro", 1, ".guesses/+taro/2001-db8--_2f64.1"},
      {"no address", "", "a", 1, ".guesses/+a/.1"},
      {"id of dots", "1", "..", 1, ".guesses/+../1.1"},
      {"id with separator", "1", "a+b", 1, ".guesses/+a+b/1.1"},
      {"bytes that are no name", "/\\*\x01 ", "a", 1, ".guesses/+a/_2f_5c_2a_01_20.1"},
      {"id ending in .txt", "1", "a.txt", 1, ".guesses/+a.txt/1.1"},
      {"double-byte id ending in a backslash byte", "1", "\x95\x5C", 1, ".guesses/+\x95\x5C/1.1"},
      {"long id cut", "1", std::string(200, 'a'), 1, ".guesses/+" + std::string(160, 'a') + "/1.1"},
      {"long double-byte id cut between characters", "1", dbcs_id, 1,
       ".guesses/+" + dbcs_id.substr(0, 160) + "/1.1"},
      {"a character that would pass the bound is left out", "1", std::string(159, 'a') + dbcs_id, 1,
       ".guesses/+" + std::string(159, 'a') + "/1.1"},
      {"long address cut", std::string(100, '1'), "a", 1,
       ".guesses/+a/" + std::string(64, '1') + ".1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(GuessFileName(c.address, c.id, c.failure), c.name);
  }
}

TEST(GuessLogLine, EveryFieldIsOneWordOnOneLine) {
  struct Case {
    const char* label;
    std::string what, address, id, line;
  };
  const Case cases[] = {
      {"wrong password", "wrong password", "203.0.113.9", "taro",
       "orvanegate: wrong password: address 203.0.113.9 id taro command changepw\n"},
      {"refused", "too many wrong passwords", "2001:db8::1", "taro",
       "orvanegate: too many wrong passwords: address 2001:db8::1 id taro command changepw\n"},
      {"no address", "wrong password", "", "taro",
       "orvanegate: wrong password: address - id taro command changepw\n"},
      {"a line forged in the id", "wrong password", "1.2.3.4", "x\r\norvanegate: y z",
       "orvanegate: wrong password: address 1.2.3.4 id x\\x0d\\x0aorvanegate:\\x20y\\x20z "
       "command changepw\n"},
      {"tab, NUL and DEL", "wrong password", "1.2.3.4", std::string("a\tb\0c\x7F", 6),
       "orvanegate: wrong password: address 1.2.3.4 id a\\x09b\\x00c\\x7f command changepw\n"},
      {"Shift_JIS id kept", "wrong password", "1.2.3.4", "\x95\x5C\x8E\xA6",
       "orvanegate: wrong password: address 1.2.3.4 id \x95\x5C\x8E\xA6 command changepw\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(GuessLogLine(c.what, c.address, c.id, "changepw"), c.line);
  }
}

class PasswordGuessesTest : public ::testing::Test {
 protected:
  std::string FailurePath(int failure) const {
    return temp_.Path(GuessFileName("203.0.113.9", "taro", failure));
  }
  PasswordGuesses Guesses() const { return PasswordGuesses(temp_.Dir(), "203.0.113.9", "taro"); }
  // The times of the row, first to last.
  std::vector<std::int64_t> Row() const {
    std::vector<std::int64_t> times;
    for (int n = 1; n <= 9 && access(FailurePath(n).c_str(), F_OK) == 0; ++n) {
      times.push_back(ParseFailureTime(ReadBytes(FailurePath(n))));
    }
    return times;
  }
  void WriteRow(int failures, std::int64_t time) const {
    std::filesystem::create_directories(temp_.Path(".guesses/+taro"));
    for (int n = 1; n <= failures; ++n) WriteBytes(FailurePath(n), FormatFailureTime(time));
  }

  TempDir temp_;
};

// What a killed writer or a hand leaves behind: an ended row, an empty failure file, the
// helper. The next try clears it and starts afresh.
TEST_F(PasswordGuessesTest, LeftoversAreClearedByTheNextTry) {
  WriteRow(3, kT - 600);
  WriteBytes(temp_.Path(".guesses/+taro/.new"), "17");
  EXPECT_TRUE(Guesses().CountTry(kT));
  EXPECT_EQ(Row(), std::vector<std::int64_t>{kT});
  EXPECT_NE(access(temp_.Path(".guesses/+taro/.new").c_str(), F_OK), 0);

  WriteBytes(FailurePath(2), "");
  EXPECT_TRUE(Guesses().CountTry(kT + 1));
  EXPECT_EQ(Row(), std::vector<std::int64_t>{kT + 1});
}

// The fifth try refuses until a minute after it, without counting more. A right password
// removes the row; one that was refused touches nothing.
TEST_F(PasswordGuessesTest, TheFifthRefusesAndARightPasswordClears) {
  WriteRow(4, kT);
  EXPECT_TRUE(Guesses().CountTry(kT + 30));
  EXPECT_FALSE(Guesses().CountTry(kT + 60));
  EXPECT_FALSE(Guesses().CountTry(kT + 89));
  EXPECT_EQ(Row(), (std::vector<std::int64_t>{kT, kT, kT, kT, kT + 30}));
  PasswordGuesses refused = Guesses();
  EXPECT_FALSE(refused.CountTry(kT + 89));
  refused.Clear();
  EXPECT_EQ(Row().size(), 5u);

  PasswordGuesses right = Guesses();
  EXPECT_TRUE(right.CountTry(kT + 90));
  right.Clear();
  EXPECT_TRUE(Row().empty());

  // Judged while held: a wrong password is counted, a right one removes the row, and a
  // right one meeting no row writes nothing at all.
  std::filesystem::remove_all(temp_.Path(".guesses"));
  PasswordGuesses judged = Guesses();
  ASSERT_TRUE(judged.Hold(kT));
  judged.Judged(true, kT);
  EXPECT_FALSE(std::filesystem::exists(temp_.Path(".guesses/+taro")));
  for (int n = 0; n < 2; ++n) {
    ASSERT_TRUE(judged.Hold(kT + n));
    judged.Judged(false, kT + n);
  }
  EXPECT_EQ(Row(), (std::vector<std::int64_t>{kT, kT + 1}));
  ASSERT_TRUE(judged.Hold(kT + 2));
  judged.Judged(true, kT + 2);
  EXPECT_TRUE(Row().empty());
}

// Processes that try at once each take a try of their own, also where they find an ended
// row to clear, and no more are let through than allowed: a lost or doubled count shows
// as a row of another length. A clear removing the row while tries wait for the lock
// makes none of them fail.
TEST_F(PasswordGuessesTest, ConcurrentTriesAreEachCountedOnce) {
  const auto run_at_once = [](int processes, const auto& work) {
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
      const pid_t pid = fork();
      if (pid == 0) _exit(work(p));
      children.push_back(pid);
    }
    int passed = 0;
    for (const pid_t pid : children) {
      int status = 0;
      EXPECT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status));
      passed += WEXITSTATUS(status);
    }
    return passed;
  };
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    std::filesystem::remove_all(temp_.Path(".guesses"));
    if (round % 2 == 1) WriteRow(5, kT - 600);
    const int processes = round < 8 ? 4 : 8;  // the refused wait two seconds for the five
    // Rounds 2, 3, 6 and 7 judge wrong passwords while held, the others count them for a
    // compare.
    EXPECT_EQ(run_at_once(processes,
                          [this, round](int) {
                            PasswordGuesses guesses = Guesses();
                            if (round / 2 % 2 == 0) return guesses.CountTry(kT) ? 1 : 0;
                            if (!guesses.Hold(kT)) return 0;
                            guesses.Judged(false, kT);
                            return 1;
                          }),
              std::min(processes, kWrongPasswordsAllowed));
    EXPECT_EQ(Row(), std::vector<std::int64_t>(std::min(processes, kWrongPasswordsAllowed), kT));
  }

  std::filesystem::remove_all(temp_.Path(".guesses"));
  run_at_once(2, [this](int p) {
    for (int round = 0; round < (p == 0 ? 25 : 4); ++round) {
      PasswordGuesses guesses = Guesses();
      if (guesses.CountTry(kT) && p == 0) guesses.Clear();
    }
    return 0;
  });
  EXPECT_LE(Row().size(), 5u);
}

}  // namespace
}  // namespace orvane
