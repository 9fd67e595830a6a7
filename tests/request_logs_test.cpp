#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "gate/text/time_stamp.h"
#include "gate/web_module1.h"
#include "platform/exception.h"
#include "platform/platform.h"
#include "tests/temp_dir.h"

namespace orvane {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

class BodyDump : public ::testing::Test {
 protected:
  TempDir temp;
  TWebModule1 module;
  void SetUp() override {
    module.dumppath = temp.Dir();
    module.RequestDay = "20240102";
    module.RequestStamp = "20240102-030405-006";
  }
};

TEST_F(BodyDump, FirstDumpOfADayCreatesItsDirectory) {
  const std::string body("--b\r\nimage\0\xff\r\n\r", 15);
  module.DumpBody(body);
  const std::string file = temp.Path("20240102/20240102-030405-006.txt");
  EXPECT_EQ(ReadBytes(file), body);
  EXPECT_EQ(std::filesystem::file_size(file), body.size());

  module.RequestStamp = "20240102-030405-007";
  module.DumpBody("second");
  EXPECT_EQ(ReadBytes(temp.Path("20240102/20240102-030405-007.txt")), "second");
  EXPECT_EQ(ReadBytes(file), body);
}

TEST_F(BodyDump, EmptyBodyGivesAnEmptyFile) {
  module.DumpBody("");
  const std::string file = temp.Path("20240102/20240102-030405-006.txt");
  ASSERT_TRUE(std::filesystem::is_regular_file(file));
  EXPECT_EQ(std::filesystem::file_size(file), 0u);
}

TEST_F(BodyDump, SameStampKeepsEveryDumpAndDumpPathGetsADelimiter) {
  module.dumppath = temp.Path("nested");  // no delimiter, and missing parents
  std::filesystem::create_directory(temp.Path("nested"));
  module.RequestDay = "d1/d2";
  module.DumpBody("a much longer first body");
  module.DumpBody("short");
  module.DumpBody("third");
  EXPECT_EQ(ReadBytes(temp.Path("nested/d1/d2/20240102-030405-006.txt")),
            "a much longer first body");
  EXPECT_EQ(ReadBytes(temp.Path("nested/d1/d2/20240102-030405-006000.txt")), "short");
  EXPECT_EQ(ReadBytes(temp.Path("nested/d1/d2/20240102-030405-006001.txt")), "third");
}

TEST_F(BodyDump, NothingWrittenWithoutADumpPath) {
  module.dumppath.clear();
  module.RequestDay = "orvane-dump-test-day";
  module.DumpBody("body");
  EXPECT_FALSE(std::filesystem::exists("orvane-dump-test-day"));
  EXPECT_TRUE(std::filesystem::is_empty(temp.Dir()));
}

// Two requests of one millisecond: the later dump takes the next free suffix while the
// earlier one is still being written, and neither replaces the other.
TEST_F(BodyDump, DumpOfAStampBeingWrittenTakesTheNextSuffix) {
  ASSERT_TRUE(platform::CreateDirectories(temp.Path("20240102")).Done());
  const std::string file = temp.Path("20240102/20240102-030405-006.txt");
  platform::File writer = platform::File::Open(file, platform::OpenMode::CreateExclusive);
  writer.WriteAll("earlier body");
  EXPECT_NO_THROW(module.DumpBody("later"));
  writer.Close();
  EXPECT_EQ(ReadBytes(file), "earlier body");
  EXPECT_EQ(ReadBytes(temp.Path("20240102/20240102-030405-006000.txt")), "later");
}

TEST_F(BodyDump, DayDirectoryThatCannotBeMadeFailsTheDump) {
  WriteBytes(temp.Path("20240102"), "a file in the way");
  EXPECT_THROW(module.DumpBody("body"), EFCreateError);
  EXPECT_EQ(ReadBytes(temp.Path("20240102")), "a file in the way");
}

// error.txt lies beside the test program; the test removes it again.
TEST(ErrorLog, HoldsOnlyTheLatestTimeLineAndMessage) {
  TWebModule1 module;
  const std::string file = module.GetExecutableDirectory() + "error.txt";
  module.WriteErrorLog("sessiondb error");
  const std::string day = FormatRequestDay(platform::LocalNow());
  // "セッション" as Shift_JIS bytes.
  const std::string message = "\x83\x5a\x83\x62\x83\x56\x83\x87\x83\x93 x";
  module.WriteErrorLog(message);
  const std::string content = ReadBytes(file);
  std::filesystem::remove(file);

  ASSERT_EQ(content.size(), 17u + 2 + message.size() + 2);
  const std::string time = content.substr(0, 17);
  EXPECT_EQ(content.substr(17), "\r\n" + message + "\r\n");
  EXPECT_EQ(time[8], '-') << time;
  EXPECT_EQ(time[11], ':') << time;
  EXPECT_EQ(time[14], ':') << time;
  for (std::size_t i = 0; i < time.size(); ++i) {
    if (i != 8 && i != 11 && i != 14) {
      EXPECT_TRUE(time[i] >= '0' && time[i] <= '9') << time;
    }
  }
  // The date of the entry is today's (or yesterday's across midnight).
  const std::string today = FormatRequestDay(platform::LocalNow());
  EXPECT_TRUE(time.substr(0, 8) == day || time.substr(0, 8) == today) << time;
}

}  // namespace
}  // namespace orvane
