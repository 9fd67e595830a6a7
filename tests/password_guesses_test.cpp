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

TEST(GuessCount, TextIsReadLeniently) {
  struct Case {
    const char* label;
    std::string text;
    int failures;
    std::int64_t last;
  };
  const Case cases[] = {
      {"no file content", "", 0, 0},
      {"as written", "3 1796000000\r\n", 3, kT},
      {"padding left by a rewrite cut short", "3 1796000000\r\n         ", 3, kT},
      {"no line end", "2 17", 2, 17},
      {"one number only", "3", 0, 0},
      {"words", "x y\r\n", 0, 0},
      {"negative count", "-1 1796000000\r\n", 0, 0},
      {"count far too large is bounded", "99999999999 5\r\n", 1000000, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const GuessCount count = ParseGuessCount(c.text);
    EXPECT_EQ(count.failures, c.failures);
    EXPECT_EQ(count.last_failure, c.last);
  }
  EXPECT_EQ(FormatGuessCount({4, kT}), "4 1796000000\r\n");
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
  struct Case {
    const char* label;
    std::string address, id, name;
  };
  const Case cases[] = {
      {"IPv4", "203.0.113.9", "taro", ".guesses-203.0.113.9+taro.count"},
      {"IPv6 in either case is one name", "2001:DB8::1", "taro", ".guesses-2001-db8--1+taro.count"},
      {"IPv6 zone", "fe80::1%eth0", "a", ".guesses-fe80--1_25eth0+a.count"},
      {"no address", "", "a", ".guesses-+a.count"},
      {"separator in the address", "1+a", "b", ".guesses-1_2ba+b.count"},
      {"id with separator", "1", "a+b", ".guesses-1+a+b.count"},
      {"bytes that are no name", "/\\*\x01 ", "a", ".guesses-_2f_5c_2a_01_20+a.count"},
      {"id ending in .txt", "1", "a.txt", ".guesses-1+a.txt.count"},
      {"double-byte id ending in a backslash byte", "1", "\x95\x5C", ".guesses-1+\x95\x5C.count"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(GuessFileName(c.address, c.id), c.name);
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
  std::string CountPath() const { return temp_.Path(GuessFileName("203.0.113.9", "taro")); }
  PasswordGuesses Guesses() const { return PasswordGuesses(temp_.Dir(), "203.0.113.9", "taro"); }

  TempDir temp_;
};

TEST_F(PasswordGuessesTest, ALongerTextLeftBehindIsCutToTheNewCount) {
  WriteBytes(CountPath(), "4 99999999999999\r\n");
  Guesses().CountFailure(kT);
  EXPECT_EQ(ReadBytes(CountPath()), "1 1796000000\r\n");
  WriteBytes(CountPath(), "");  // created by a failure killed before it wrote
  Guesses().CountFailure(kT);
  EXPECT_EQ(ReadBytes(CountPath()), "1 1796000000\r\n");
}

// Processes counting at once each count their own failures: a lost update shows as a
// short count. A clear removing the file while failures wait for it makes none of them
// fail: they count into the file at the name.
TEST_F(PasswordGuessesTest, ConcurrentFailuresAreAllCounted) {
  constexpr int kProcesses = 4;
  constexpr int kRounds = 25;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = fork();
    if (pid == 0) {
      for (int round = 0; round < kRounds; ++round) Guesses().CountFailure(kT);
      _exit(0);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(ParseGuessCount(ReadBytes(CountPath())).failures, kProcesses * kRounds);

  const pid_t clearer = fork();
  if (clearer == 0) {
    for (int round = 0; round < kRounds; ++round) {
      PasswordGuesses guesses = Guesses();
      guesses.Refused(kT);
      guesses.Clear();
    }
    _exit(0);
  }
  for (int round = 0; round < kRounds; ++round) Guesses().CountFailure(kT);
  int status = 0;
  ASSERT_EQ(waitpid(clearer, &status, 0), clearer);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  Guesses().CountFailure(kT);
  EXPECT_GE(ParseGuessCount(ReadBytes(CountPath())).failures, 1);
}

}  // namespace
}  // namespace orvane
