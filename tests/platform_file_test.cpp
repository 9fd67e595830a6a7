#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

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
  for (const OpenMode mode : {OpenMode::CreateNewExclusive, OpenMode::CreateNewUnlocked}) {
    const std::string path = dir.Path("f" + std::to_string(static_cast<int>(mode)));
    File::Open(path, mode).WriteAll("x");
    try {
      File::Open(path, mode);
      FAIL() << "a taken name was created again";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.ErrorCode(), platform::FileExistsErrorCode());
      EXPECT_FALSE(e.IsSharingViolation());
    }
    EXPECT_EQ(ReadBytes(path), "x");
  }
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

// ReadAll reads by the size seen at the open; the file may change afterwards through a
// writer that takes no lock, and every byte there is at the time of reading comes back.
TEST(PlatformFileOpen, ReadAllGivesWhatTheFileHoldsWhenRead) {
  const struct {
    const char* label;
    std::string at_open;
    std::string later;  // written after the open; empty for no change
    std::size_t read_first;
    std::string expected;
  } cases[] = {
      {"unchanged", "a=1\r\nb=2\r\n", "", 0, "a=1\r\nb=2\r\n"},
      {"empty file", "", "", 0, ""},
      {"one byte more", "abc", "abcd", 0, "abcd"},
      {"grown many times over", "abc", std::string(100000, 'g'), 0, std::string(100000, 'g')},
      {"shrunk", "abcdef", "ab", 0, "ab"},
      {"after a first read", "abcdef", "", 2, "cdef"},
      {"after a first read, grown", "abcdef", "abcdefghij", 2, "cdefghij"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    const std::string path = dir.Path("f.txt");
    WriteBytes(path, c.at_open);
    File file = File::Open(path, OpenMode::ReadShared);
    if (!c.later.empty()) WriteBytes(path, c.later);
    char first[8];
    if (c.read_first > 0) {
      ASSERT_EQ(file.Read(first, c.read_first), c.read_first);
    }
    EXPECT_EQ(file.ReadAll(), c.expected);
  }
}

// Another process holds the file until it is told to let go, or for good.
class ForeignHolder {
 public:
  ForeignHolder(const std::string& path, OpenMode mode, int hold_ms) {
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    child_ = fork();
    if (child_ == 0) {
      File held = File::Open(path, mode);
      (void)!write(ready[1], "x", 1);
      platform::SleepMilliseconds(hold_ms);
      _exit(0);
    }
    char signal;
    EXPECT_EQ(read(ready[0], &signal, 1), 1);
    close(ready[0]);
    close(ready[1]);
  }
  ~ForeignHolder() {
    kill(child_, SIGKILL);
    waitpid(child_, nullptr, 0);
  }

 private:
  pid_t child_ = -1;
};

// The times this thread gave up the processor to wait.
long VoluntarySwitches() {
  struct rusage usage {};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_nvcsw;
}

// Whether the file system is one where the wait blocks in the lock request (ext4, tmpfs,
// overlayfs; not a network file system).
bool LocksAreLocal(const std::string& path) {
  struct statfs info {};
  if (statfs(path.c_str(), &info) != 0) return false;
  for (const unsigned long local : {0xEF53ul, 0x01021994ul, 0x794C7630ul}) {
    if (static_cast<unsigned long>(info.f_type) == local) return true;
  }
  return false;
}

TEST(PlatformFileWait, BoundedOpenWaitsForTheHolderOrGivesUpAtTheBound) {
  const struct {
    const char* label;
    OpenMode held, wanted;
    int hold_ms, bound_ms;
    bool opens;
  } cases[] = {
      {"writer lets go in time", OpenMode::ReadWriteExclusive, OpenMode::ReadShared, 100, 60000,
       true},
      {"reader lets go in time", OpenMode::ReadShared, OpenMode::ReadWriteExclusive, 100, 60000,
       true},
      {"writer holds past the bound", OpenMode::ReadWriteExclusive, OpenMode::ReadShared, 60000,
       150, false},
      {"no wait at all", OpenMode::ReadShared, OpenMode::CreateExclusive, 60000, 0, false},
      {"readers never wait", OpenMode::ReadShared, OpenMode::ReadShared, 60000, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    const std::string path = dir.Path("counter.txt");
    WriteBytes(path, "41");
    ForeignHolder holder(path, c.held, c.hold_ms);
    const std::int64_t start = platform::MonotonicMilliseconds();
    const long switches_before = VoluntarySwitches();
    try {
      File file = File::OpenWaitingAtMost(path, c.wanted, c.bound_ms);
      EXPECT_TRUE(c.opens);
      // On a local file system the open sleeps once, until the holder lets go, instead of
      // waking up again and again to ask.
      if (c.hold_ms > 0 && c.bound_ms > 0 && LocksAreLocal(path)) {
        EXPECT_LE(VoluntarySwitches() - switches_before, 3);
      }
      if (c.wanted == OpenMode::ReadShared) {
        EXPECT_EQ(file.ReadAll(), "41");
      }
    } catch (const EOSFileError& error) {
      EXPECT_FALSE(c.opens);
      EXPECT_TRUE(error.IsSharingViolation());
      EXPECT_GE(platform::MonotonicMilliseconds() - start, c.bound_ms);
      EXPECT_EQ(ReadBytes(path), "41");  // a refused create cuts nothing
    }
  }
}

// Large buffers start on a large page and can be written from end to end.
TEST(PlatformLargeBuffer, AlignedWritableAndReleased) {
  for (const std::size_t bytes :
       {std::size_t{1}, std::size_t{4} << 20, (std::size_t{50} << 20) + 77}) {
    SCOPED_TRACE(bytes);
    char* data = platform::ReserveLargeBuffer(bytes);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data) % (std::size_t{2} << 20), 0u);
    std::memset(data, 'z', bytes);  // a mapping that fell short would fault here
    EXPECT_EQ(data[bytes - 1], 'z');
    platform::ReleaseLargeBuffer(data, bytes);
  }
  EXPECT_EQ(platform::ReserveLargeBuffer(0), nullptr);
  EXPECT_EQ(platform::ReserveLargeBuffer(SIZE_MAX - 10), nullptr);
}

TEST(PlatformFileOpen, SameFileCheckSeesAReplacedPath) {
  TempDir dir;
  const std::string path = dir.Path("r.txt");
  WriteBytes(path, "old");
  File held = File::Open(path, OpenMode::ReadShared);
  File made = File::Open(dir.Path("r.tmp"), OpenMode::CreateNewUnlocked);
  EXPECT_TRUE(held.IsSameFileAs(path));
  EXPECT_TRUE(made.IsSameFileAs(dir.Path("r.tmp")));
  made.WriteAll("new");
  ASSERT_EQ(platform::RenameFile(dir.Path("r.tmp"), path).error, 0);
  EXPECT_FALSE(held.IsSameFileAs(path));
  EXPECT_TRUE(made.IsSameFileAs(path));
}

TEST(PlatformDirectories, CreatesMissingParentsAndAcceptsExistingOnes) {
  TempDir dir;
  EXPECT_TRUE(platform::CreateDirectories(dir.Path("a/b/c/")).Done());
  EXPECT_TRUE(platform::DirectoryExists(dir.Path("a/b/c")));
  EXPECT_TRUE(platform::CreateDirectories(dir.Path("a/b")).Done());
  WriteBytes(dir.Path("file"), "x");
  EXPECT_TRUE(platform::CreateDirectories(dir.Path("file/sub")).Failed());
}

}  // namespace
}  // namespace orvane
