#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/exception.h"
#include "platform/platform.h"
#include "temp_dir.h"

namespace orvane {
namespace {

using platform::File;
using platform::OpenMode;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// Runs the open and reports the sharing-violation flag of its error, or "opened".
std::string TryOpen(const std::string& path, OpenMode mode) {
  try {
    File::Open(path, mode);
    return "opened";
  } catch (const EOSFileError& e) {
    return e.IsSharingViolation() ? "sharing violation" : "other error";
  }
}

TEST(PlatformFileSharing, ReadersShareWithReadersOnlyAndWritersWithNobody) {
  TempDir dir;
  const std::string path = dir.Path("f.txt");
  WriteBytes(path, "abc");
  {
    File reader = File::Open(path, OpenMode::ReadShared);
    EXPECT_EQ(TryOpen(path, OpenMode::ReadShared), "opened");
    EXPECT_EQ(TryOpen(path, OpenMode::CreateExclusive), "sharing violation");
    EXPECT_EQ(TryOpen(path, OpenMode::ReadWriteExclusive), "sharing violation");
  }
  {
    File writer = File::Open(path, OpenMode::ReadWriteExclusive);
    EXPECT_EQ(TryOpen(path, OpenMode::ReadShared), "sharing violation");
  }
  EXPECT_EQ(TryOpen(path, OpenMode::ReadShared), "opened");
}

TEST(PlatformFileSharing, RefusedCreateLeavesTheFileUntouched) {
  TempDir dir;
  const std::string path = dir.Path("f.txt");
  WriteBytes(path, "keep me");
  File reader = File::Open(path, OpenMode::ReadShared);
  EXPECT_THROW(File::Open(path, OpenMode::CreateExclusive), EFCreateError);
  EXPECT_EQ(ReadBytes(path), "keep me");
}

// A lock file: made on first use, its content and identity kept by every later open, and
// held by one open at a time.
TEST(PlatformFileOpen, OpenAlwaysCreatesOnceAndKeepsTheFile) {
  TempDir dir;
  const std::string path = dir.Path("lock");
  File::Open(path, OpenMode::OpenAlwaysExclusive).WriteAll("kept");
  struct stat first {};
  ASSERT_EQ(stat(path.c_str(), &first), 0);
  {
    File held = File::Open(path, OpenMode::OpenAlwaysExclusive);
    EXPECT_EQ(held.ReadAll(), "kept");
    EXPECT_EQ(TryOpen(path, OpenMode::OpenAlwaysExclusive), "sharing violation");
    EXPECT_EQ(TryOpen(path, OpenMode::ReadShared), "sharing violation");
  }
  EXPECT_EQ(TryOpen(path, OpenMode::OpenAlwaysExclusive), "opened");
  struct stat second {};
  ASSERT_EQ(stat(path.c_str(), &second), 0);
  EXPECT_EQ(second.st_ino, first.st_ino);
  EXPECT_EQ(ReadBytes(path), "kept");
}

TEST(PlatformFileOpen, CreateNewReportsATakenNameByItsCode) {
  TempDir dir;
  const std::string path = dir.Path("f.txt");
  File::Open(path, OpenMode::CreateNewExclusive).WriteAll("x");
  try {
    File::Open(path, OpenMode::CreateNewExclusive);
    FAIL() << "a taken name was created again";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.ErrorCode(), platform::FileExistsErrorCode());
    EXPECT_FALSE(e.IsSharingViolation());
  }
  EXPECT_EQ(ReadBytes(path), "x");
}

TEST(PlatformFileOpen, PathsThatNameNothingUsableAreRefused) {
  TempDir dir;
  WriteBytes(dir.Path("a.txt"), "secret");
  const std::string cut(dir.Path("a.txt") + std::string("\0.png", 5));
  EXPECT_FALSE(platform::FileExists(cut));
  EXPECT_THROW(File::Open(cut, OpenMode::ReadShared), EFOpenError);
  EXPECT_THROW(File::Open(cut, OpenMode::CreateExclusive), EFCreateError);
  EXPECT_EQ(ReadBytes(dir.Path("a.txt")), "secret");
  EXPECT_THROW(File::Open(dir.Dir(), OpenMode::ReadShared), EFOpenError);
  EXPECT_FALSE(platform::FileExists(dir.Dir()));
  EXPECT_TRUE(platform::DirectoryExists(dir.Dir()));
}

// What an open of the path raises, run in a child process that an alarm ends, so that
// an open that waits forever shows as "hung" instead of stopping the test run.
std::string OpenOutcomeInChild(const std::string& path, OpenMode mode) {
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(5);
    int code = 1;
    try {
      File::Open(path, mode);
    } catch (const EInOutError&) {
      code = 0;
    } catch (...) {
      code = 2;
    }
    _exit(code);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return "lost";
  if (WIFSIGNALED(status)) return "hung";
  const char* const outcomes[] = {"read error", "opened", "other error"};
  const int code = WEXITSTATUS(status);
  return code <= 2 ? outcomes[code] : "unknown";
}

TEST(PlatformFileOpen, AFifoNeverBlocksAnOpenAndCannotBeRead) {
  TempDir dir;
  const std::string fifo = dir.Path("record.txt");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  const std::pair<const char*, OpenMode> modes[] = {
      {"read shared", OpenMode::ReadShared},
      {"create or truncate", OpenMode::CreateExclusive},
      {"read and write", OpenMode::ReadWriteExclusive},
  };
  for (const auto& [label, mode] : modes) {
    SCOPED_TRACE(label);
    EXPECT_EQ(OpenOutcomeInChild(fifo, mode), "read error");
  }
  EXPECT_EQ(OpenOutcomeInChild("/dev/null", OpenMode::ReadShared), "read error");
  EXPECT_TRUE(platform::FileExists(fifo));
}

TEST(PlatformFileOpen, ReadAllWriteAllAndTruncateKeepEveryByte) {
  TempDir dir;
  const std::string path = dir.Path("bin");
  const std::string bytes("a\0b\r\n\x82\x5c\xff", 8);
  File file = File::Open(path, OpenMode::CreateExclusive);
  file.WriteAll(bytes);
  file.Close();
  EXPECT_EQ(File::Open(path, OpenMode::ReadShared).ReadAll(), bytes);
  File again = File::Open(path, OpenMode::ReadWriteExclusive);
  again.Truncate();
  again.WriteAll("7");
  again.Close();
  EXPECT_EQ(ReadBytes(path), "7");
}

TEST(PlatformFileOpen, SameFileCheckSeesAReplacedPath) {
  TempDir dir;
  const std::string path = dir.Path("r.txt");
  WriteBytes(path, "old");
  File held = File::Open(path, OpenMode::ReadShared);
  EXPECT_TRUE(held.IsSameFileAs(path));
  WriteBytes(dir.Path("r.tmp"), "new");
  ASSERT_EQ(platform::RenameFile(dir.Path("r.tmp"), path), 0);
  EXPECT_FALSE(held.IsSameFileAs(path));
}

TEST(PlatformDirectories, CreatesMissingParentsAndAcceptsExistingOnes) {
  TempDir dir;
  EXPECT_TRUE(platform::CreateDirectories(dir.Path("a/b/c/")));
  EXPECT_TRUE(platform::DirectoryExists(dir.Path("a/b/c")));
  EXPECT_TRUE(platform::CreateDirectories(dir.Path("a/b")));
  WriteBytes(dir.Path("file"), "x");
  EXPECT_FALSE(platform::CreateDirectories(dir.Path("file/sub")));
}

}  // namespace
}  // namespace orvane
