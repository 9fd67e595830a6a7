#include "gate/password_guesses.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(IsRefused(c.count, c.now), c.refused);
    const GuessCount after = CountedFailure(c.count, c.now);
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
      {"IPv4", "203.0.113.9", "taro", 1, ".guesses-203.0.113.9+taro.1"},
      {"the fifth", "203.0.113.9", "taro", 5, ".guesses-203.0.113.9+taro.5"},
      {"IPv6 in either case is one name", "2001:DB8::1", "taro", 1, ".guesses-2001-db8--1+taro.1"},
      {"IPv6 zone", "fe80::1%eth0", "a", 1, ".guesses-fe80--1_25eth0+a.1"},
      {"no address", "", "a", 1, ".guesses-+a.1"},
      {"separator in the address", "1+a", "b", 1, ".guesses-1_2ba+b.1"},
      {"id with separator", "1", "a+b", 1, ".guesses-1+a+b.1"},
      {"bytes that are no name", "/\\*\x01 ", "a", 1, ".guesses-_2f_5c_2a_01_20+a.1"},
      {"id ending in .txt", "1", "a.txt", 1, ".guesses-1+a.txt.1"},
      {"double-byte id ending in a backslash byte", "1", "\x95\x5C", 1, ".guesses-1+\x95\x5C.1"},
      {"long id cut", "1", std::string(200, 'a'), 1, ".guesses-1+" + std::string(160, 'a') + ".1"},
      {"long double-byte id cut between characters", "1", dbcs_id, 1,
       ".guesses-1+" + dbcs_id.substr(0, 160) + ".1"},
      {"a character that would pass the bound is left out", "1", std::string(159, 'a') + dbcs_id, 1,
       ".guesses-1+" + std::string(159, 'a') + ".1"},
      {"long address cut", std::string(100, '1'), "a", 1,
       ".guesses-" + std::string(64, '1') + "+a.1"},
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
    for (int n = 1; n <= failures; ++n) WriteBytes(FailurePath(n), FormatFailureTime(time));
  }

  TempDir temp_;
};

// What a killed writer or a hand leaves behind: an ended row, an empty failure file, the
// helper. The next wrong password clears it and starts afresh.
TEST_F(PasswordGuessesTest, LeftoversAreClearedByTheNextFailure) {
  WriteRow(3, kT - 600);
  WriteBytes(temp_.Path(".guesses.new"), "17");
  Guesses().CountFailure(kT);
  EXPECT_EQ(Row(), std::vector<std::int64_t>{kT});
  EXPECT_NE(access(temp_.Path(".guesses.new").c_str(), F_OK), 0);

  WriteBytes(FailurePath(2), "");
  Guesses().CountFailure(kT + 1);
  EXPECT_EQ(Row(), std::vector<std::int64_t>{kT + 1});
}

// Five refuse until a minute after the fifth; a wrong password that was checked before the
// refusal moves that minute on. A right password removes the row; one that found no row
// touches nothing.
TEST_F(PasswordGuessesTest, TheFifthRefusesAndARightPasswordClears) {
  WriteRow(4, kT);
  EXPECT_FALSE(Guesses().Refused(kT));
  Guesses().CountFailure(kT + 1);
  EXPECT_TRUE(Guesses().Refused(kT + 60));
  Guesses().CountFailure(kT + 30);
  EXPECT_EQ(Row(), (std::vector<std::int64_t>{kT, kT, kT, kT, kT + 30}));
  EXPECT_TRUE(Guesses().Refused(kT + 89));
  EXPECT_FALSE(Guesses().Refused(kT + 90));

  PasswordGuesses right = Guesses();
  right.Refused(kT + 90);
  right.Clear();
  EXPECT_TRUE(Row().empty());
  WriteRow(1, kT);
  Guesses().Clear();  // no Refused before: nothing found, nothing removed
  EXPECT_EQ(Row().size(), 1u);
}

// Processes that count at once each take a failure of their own, also where they find an
// ended row to clear: a lost or doubled count shows as a row of another length. A clear
// removing the row while failures wait for the lock makes none of them fail.
TEST_F(PasswordGuessesTest, ConcurrentFailuresAreEachCountedOnce) {
  constexpr int kProcesses = 4;
  const auto run_at_once = [](int processes, const auto& work) {
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
      const pid_t pid = fork();
      if (pid == 0) {
        work(p);
        _exit(0);
      }
      children.push_back(pid);
    }
    for (const pid_t pid : children) {
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
  };
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    PasswordGuesses clear = Guesses();
    clear.Refused(kT);
    clear.Clear();
    if (round % 2 == 1) WriteRow(5, kT - 600);
    run_at_once(kProcesses, [this](int) { Guesses().CountFailure(kT); });
    EXPECT_EQ(Row(), std::vector<std::int64_t>(kProcesses, kT));
  }

  run_at_once(2, [this](int p) {
    for (int round = 0; round < 25; ++round) {
      PasswordGuesses guesses = Guesses();
      guesses.Refused(kT);
      if (p == 0) guesses.Clear();
      if (p == 1) guesses.CountFailure(kT);
    }
  });
  Guesses().CountFailure(kT);
  EXPECT_GE(Row().size(), 1u);
}

}  // namespace
}  // namespace orvane
