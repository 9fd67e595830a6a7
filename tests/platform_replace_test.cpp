// The file operations whose system rules differ most between POSIX and Windows, written
// against the portable interface so that both builds run them: replacing and removing
// files that others hold open, sharing conflicts and their error texts, waiting opens,
// taken names and device names.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane {
namespace {

using platform::File;
using platform::OpenMode;

// A fresh directory in the system's temporary directory, with the system's delimiter.
class ScratchDir {
 public:
  ScratchDir() {
    const std::string name = "orvane-platform-" + std::to_string(platform::ClockSeed());
    path_ = (std::filesystem::temp_directory_path() / name).string();
    if (platform::CreateDirectories(path_).Failed()) std::abort();
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string Path(const std::string& name) const {
    return path_ + platform::PathDelimiter() + name;
  }

 private:
  std::string path_;
};

void Save(const std::string& path, const std::string& bytes) {
  File file = File::Open(path, OpenMode::CreateExclusive);
  file.WriteAll(bytes);
  file.Close();
}

std::string Load(const std::string& path) {
  return File::Open(path, OpenMode::ReadShared).ReadAll();
}

TEST(PlatformReplace, RenameReplacesAFileThatOthersHoldOpen) {
  ScratchDir dir;
  const std::string record = dir.Path("taro.txt"), draft = dir.Path("draft.new");
  Save(record, "old");
  Save(draft, "new");
  File reader = File::Open(record, OpenMode::ReadShared);
  File second_reader = File::Open(record, OpenMode::ReadShared);
  ASSERT_EQ(platform::RenameFile(draft, record).error, 0);
  EXPECT_EQ(Load(record), "new");
  EXPECT_EQ(reader.ReadAll(), "old");  // the holders keep the file they opened
  EXPECT_FALSE(reader.IsSameFileAs(record));
  EXPECT_FALSE(platform::FileExists(draft));
  reader.Close();
  second_reader.Close();
  // Nothing is left beside the record once its old version is closed.
  Save(dir.Path("check.new"), "x");
  ASSERT_EQ(platform::RenameFile(dir.Path("check.new"), record).error, 0);
  EXPECT_EQ(Load(record), "x");
}

TEST(PlatformReplace, AHeldFileCanBeRemoved) {
  ScratchDir dir;
  const std::string counter = dir.Path("counter.txt");
  Save(counter, "0\r\n");
  File held = File::Open(counter, OpenMode::ReadWriteExclusive);
  EXPECT_TRUE(platform::RemoveFile(counter).Done());
  held.Close();
  EXPECT_FALSE(platform::FileExists(counter));
}

// The holder's name is free at once: another process may open nothing there, may create
// the file anew and hold it, while the removed file stays readable through its handle and
// nothing is left beside the new one once the holder closes.
TEST(PlatformReplace, RemovingAHeldFileFreesItsNameAtOnce) {
  ScratchDir dir;
  const std::string draft = dir.Path(".member-draft.new");
  Save(draft, "old");
  File held = File::Open(draft, OpenMode::ReadWriteExclusive);
  ASSERT_TRUE(platform::RemoveHeldFile(draft).Done());
  EXPECT_FALSE(platform::FileExists(draft));
  EXPECT_FALSE(held.IsSameFileAs(draft));
  EXPECT_THROW(File::Open(draft, OpenMode::ReadWriteExclusive), EOSFileError);
  File renewed = File::Open(draft, OpenMode::CreateNewExclusive);
  renewed.WriteAll("new");
  EXPECT_EQ(held.ReadAll(), "old");
  held.Close();
  renewed.Close();
  EXPECT_EQ(Load(draft), "new");
  const std::filesystem::directory_iterator listing(std::filesystem::path(draft).parent_path());
  EXPECT_EQ(std::distance(listing, std::filesystem::directory_iterator()), 1);
  EXPECT_TRUE(platform::RemoveHeldFile(dir.Path("absent")).Failed());
}

TEST(PlatformSharing, AConflictIsASharingViolationWithTheSystemText) {
  ScratchDir dir;
  const std::string path = dir.Path("f.txt");
  Save(path, "abc");
  File writer = File::Open(path, OpenMode::ReadWriteExclusive);
  try {
    File::Open(path, OpenMode::ReadShared);
    FAIL() << "opened a file held for writing";
  } catch (const EFOpenError& error) {
    EXPECT_TRUE(error.IsSharingViolation());
    EXPECT_EQ(error.ErrorCode(), platform::kHeldByAnotherProcess);
    const std::string prefix = "ファイル \"" + platform::FullPath(path) + "\". ";
    const std::string suffix = " は開けません";
    const std::string& message = error.Message();
    ASSERT_GT(message.size(), prefix.size() + suffix.size()) << message;  // a text between
    EXPECT_EQ(message.substr(0, prefix.size()), prefix);
    EXPECT_EQ(message.substr(message.size() - suffix.size()), suffix);
  }
}

TEST(PlatformSharing, AWaitingOpenGetsTheFileOnceItIsClosed) {
  ScratchDir dir;
  const std::string path = dir.Path("f.txt");
  Save(path, "abc");
  File writer = File::Open(path, OpenMode::ReadWriteExclusive);
  std::thread release([&writer] {
    platform::SleepMilliseconds(100);
    writer.WriteAll("def");
    writer.Close();
  });
  File waited = File::Open(path, OpenMode::ReadShared, platform::LockWait::Wait);
  release.join();
  EXPECT_EQ(waited.ReadAll(), "def");  // written over "abc" before the close
}

TEST(PlatformNames, TakenNamesReportOneCode) {
  ScratchDir dir;
  const std::string first = dir.Path("a.txt"), second = dir.Path("b.txt");
  Save(first, "a");
  Save(second, "b");
  EXPECT_EQ(platform::CreateHardLink(first, second).error, platform::FileExistsErrorCode());
  try {
    File::Open(second, OpenMode::CreateNewExclusive);
    FAIL() << "created a taken name";
  } catch (const EFCreateError& error) {
    EXPECT_EQ(error.ErrorCode(), platform::FileExistsErrorCode());
  }
  ASSERT_EQ(platform::CreateHardLink(first, dir.Path("c.txt")).error, 0);
  EXPECT_EQ(Load(dir.Path("c.txt")), "a");
}

TEST(PlatformNames, ADeviceIsNeverOpenedAsAFile) {
  if (platform::PathDelimiter() != '\\') GTEST_SKIP() << "device names are Windows names";
  ScratchDir dir;
  for (const char* name : {"NUL", "con.txt", "Aux"}) {
    SCOPED_TRACE(name);
    EXPECT_THROW(File::Open(dir.Path(name), OpenMode::CreateExclusive), EOSFileError);
  }
}

TEST(PlatformNames, DirectoriesWithADoubleByteBackslashAreCreated) {
  if (platform::PathDelimiter() != '\\') GTEST_SKIP() << "the backslash delimits only on Windows";
  ScratchDir dir;
  // 表 (0x95 0x5C) ends in the byte of a backslash, which separates nothing.
  const std::string nested = dir.Path("\x95\x5c\\sub");
  ASSERT_TRUE(platform::CreateDirectories(nested).Done());
  EXPECT_TRUE(platform::DirectoryExists(dir.Path("\x95\x5c")));
  EXPECT_TRUE(platform::DirectoryExists(nested));
}

// A path far past 260 characters, through a name that holds the byte of a backslash:
// created, renamed, linked, listed and removed as any other.
TEST(PlatformNames, LongPathsWork) {
  ScratchDir dir;
  const std::string deep = dir.Path(std::string(120, 'd')) + platform::PathDelimiter() +
                           std::string(120, 'e') + platform::PathDelimiter();
  ASSERT_TRUE(platform::CreateDirectories(deep).Done());
  const std::string name = "\x95\x5c" + std::string(240, 'a') + ".txt";
  Save(deep + name, "x");
  ASSERT_EQ(platform::RenameFile(deep + name, deep + "b" + name).error, 0);
  ASSERT_EQ(platform::CreateHardLink(deep + "b" + name, deep + "c" + name).error, 0);
  EXPECT_EQ(Load(deep + "c" + name), "x");
  EXPECT_TRUE(platform::RemoveFile(deep + "b" + name).Done());
  EXPECT_EQ(platform::ListDirectory(deep), std::vector<std::string>{"c" + name});
}

// A name the system would store under other bytes is no file of its own: it is refused,
// and nothing is created.
TEST(PlatformNames, NamesWithoutTheirOwnUtf16SpellingAreRefused) {
  if (platform::PathDelimiter() != '\\') GTEST_SKIP() << "names are bytes here";
  ScratchDir dir;
  for (const char* name : {"x\x81", "\xed\x40", "a\x85\x40"}) {
    SCOPED_TRACE(name);
    EXPECT_THROW(File::Open(dir.Path(name), OpenMode::CreateExclusive), EFCreateError);
    EXPECT_TRUE(platform::CreateDirectories(dir.Path(name)).Failed());
  }
  EXPECT_EQ(platform::ListDirectory(dir.Path("")), std::vector<std::string>{});
}

}  // namespace
}  // namespace orvane
