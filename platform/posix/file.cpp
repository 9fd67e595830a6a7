// Open files with Windows-style share modes, emulated with open-file-description
// locks, which also hold across network file systems.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/exception.h"
#include "platform/file_errors.h"
#include "platform/platform.h"
#include "platform/posix/posix_support.h"

namespace orvane::platform {

using posix::InjectedError;
using posix::IsUsablePath;

namespace {

// A lock wait with no deadline, and none at all.
constexpr int kWaitForever = -1;
constexpr int kNoWait = 0;

// Asks for the whole-file lock once, waiting or not. Returns 0, kHeldByAnotherProcess when
// another open holds a conflicting lock, or the error code.
int RequestLock(int fd, bool exclusive, bool waiting) {
  struct flock lock {};
  lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  for (;;) {
    if (fcntl(fd, waiting ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return 0;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EACCES) return kHeldByAnotherProcess;
    return errno;
  }
}

// File systems whose locks live in this machine's kernel. A blocking lock request on
// them is granted the moment the holder lets go, and a signal ends it cleanly.
bool HasLocalLocks(int fd) {
  struct statfs info {};
  if (fstatfs(fd, &info) != 0) return false;
  switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0x794C7630:  // overlayfs (containers)
    case 0xF2F52010:  // f2fs
      return true;
    default:
      return false;
  }
}

void IgnoreSignal(int) {}

// Blocks in the lock request until the holder lets go or the deadline passes: a timer
// interrupts the request at the deadline and every millisecond after it, so that a first
// signal that came before the request began to wait is followed by another.
int LockBlockingUntil(int fd, bool exclusive, int milliseconds) {
  const std::int64_t deadline = MonotonicMilliseconds() + milliseconds;
  struct sigaction interrupt {};
  struct sigaction previous {};
  interrupt.sa_handler = IgnoreSignal;  // no SA_RESTART: the request returns EINTR
  sigemptyset(&interrupt.sa_mask);
  sigaction(SIGALRM, &interrupt, &previous);
  struct itimerval timer {};
  struct itimerval stopped {};
  timer.it_value.tv_sec = milliseconds / 1000;
  timer.it_value.tv_usec = (milliseconds % 1000) * 1000 + 1;
  timer.it_interval.tv_usec = 1000;
  setitimer(ITIMER_REAL, &timer, nullptr);
  struct flock lock {};
  lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  int result = 0;
  while (fcntl(fd, F_OFD_SETLKW, &lock) != 0) {
    if (errno != EINTR) {
      result = errno == EAGAIN || errno == EACCES ? kHeldByAnotherProcess : errno;
      break;
    }
    if (MonotonicMilliseconds() >= deadline) {
      result = kHeldByAnotherProcess;
      break;
    }
  }
  setitimer(ITIMER_REAL, &stopped, nullptr);
  sigaction(SIGALRM, &previous, nullptr);
  return result;
}

// Waits for the lock until the deadline. On a local file system the request blocks, so
// the wait costs nothing beyond the holder's own time. Elsewhere it asks again after
// short pauses that grow to a few milliseconds, so a holder that lets go is followed
// within one pause: there a blocking request that is interrupted can stay pending in the
// server, or leave the process unkillable until the server answers.
int LockWithDeadline(int fd, bool exclusive, int milliseconds) {
  if (HasLocalLocks(fd)) return LockBlockingUntil(fd, exclusive, milliseconds);
  constexpr int kLongestPause = 8;
  const std::int64_t deadline = MonotonicMilliseconds() + milliseconds;
  int pause = 1;
  for (;;) {
    const std::int64_t left = deadline - MonotonicMilliseconds();
    if (left <= 0) return kHeldByAnotherProcess;
    SleepMilliseconds(static_cast<int>(std::min<std::int64_t>(pause, left)));
    pause = std::min(pause * 2, kLongestPause);
    const int result = RequestLock(fd, exclusive, false);
    if (result != kHeldByAnotherProcess) return result;
  }
}

// Takes the whole-file lock that stands for the open's share mode, waiting at most the
// milliseconds given (kNoWait, kWaitForever). Returns 0 or the error code
// (kHeldByAnotherProcess when another open holds a conflicting lock). A wait without a
// deadline (the members' lock, the error log) blocks in the request on every file system,
// network ones included: it is never interrupted, so no cancelled request can stay pending
// in a server, and a process killed while it waits ends when the server answers, which it
// does as soon as the holder lets go. Only a wait with a deadline has to be interrupted,
// and so polls where the locks are not this machine's (LockWithDeadline).
int LockWholeFile(int fd, const std::string& path, bool exclusive, int milliseconds) {
  if (const int injected = InjectedError(FileOperation::Lock, path)) return injected;
  const int result = RequestLock(fd, exclusive, milliseconds == kWaitForever);
  if (result != kHeldByAnotherProcess || milliseconds <= 0) return result;
  return LockWithDeadline(fd, exclusive, milliseconds);
}

int OpenFlags(OpenMode mode) {
  switch (mode) {
    case OpenMode::ReadShared:
      return O_RDONLY;
    case OpenMode::CreateExclusive:
      return O_RDWR | O_CREAT;
    case OpenMode::CreateNewExclusive:
    case OpenMode::CreateNewUnlocked:
      return O_RDWR | O_CREAT | O_EXCL;
    case OpenMode::ReadWriteExclusive:
      return O_RDWR;
    case OpenMode::OpenAlwaysExclusive:
      return O_RDWR | O_CREAT;
  }
  return O_RDONLY;
}

// Where WriteFully writes: at the file's position, or from an offset, leaving the
// position where it was.
constexpr off_t kAtPosition = -1;

// 0, or the error code when the system refuses a byte (EIO for a write that puts none).
int WriteFully(int fd, std::string_view bytes, off_t offset) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const char* from = bytes.data() + done;
    const std::size_t left = bytes.size() - done;
    const ssize_t put = offset == kAtPosition
                            ? ::write(fd, from, left)
                            : ::pwrite(fd, from, left, offset + static_cast<off_t>(done));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return errno;
    if (put == 0) return EIO;
    done += static_cast<std::size_t>(put);
  }
  return 0;
}

// Writes every byte or raises the write error.
void WriteOrThrow(int fd, const std::string& path, std::string_view bytes, off_t offset) {
  if (const int injected = InjectedError(FileOperation::Write, path)) {
    // A full disk takes what fits before it refuses the rest.
    if (injected == ENOSPC) WriteFully(fd, bytes.substr(0, bytes.size() / 2), offset);
    ThrowWriteFailure(path, injected);
  }
  if (const int code = WriteFully(fd, bytes, offset)) ThrowWriteFailure(path, code);
}

// Refuses what is not a plain file. A directory cannot be opened as a file; anything
// else (a FIFO, a device) was opened but cannot be read as a file's content. Gives what
// the system says of the file: its size and its identity.
struct stat CheckRegularFile(int fd, const std::string& path, OpenMode mode) {
  struct stat info {};
  if (fstat(fd, &info) != 0) ThrowInOut(path, errno);
  if (S_ISREG(info.st_mode)) return info;
  if (S_ISDIR(info.st_mode)) ThrowOpenFailure(path, mode, EISDIR);
  ThrowNotRegularFile(path, EINVAL);
}

// The open never waits: a FIFO without a writer would otherwise block it for good.
// Waiting is left to the lock. The flag stays set: only plain files are kept open
// (CheckRegularFile refuses the rest), and their reads, writes and lock requests do not
// look at it.
int OpenWithoutWaiting(const std::string& path, int flags) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens the file; *created tells whether this open made it. The create modes try an
// exclusive create first, so that they know.
int OpenDescriptor(const std::string& path, OpenMode mode, bool* created) {
  const int flags = OpenFlags(mode);
  const bool creates = mode == OpenMode::CreateExclusive || (flags & O_EXCL) != 0;
  int fd = OpenWithoutWaiting(path, creates ? flags | O_EXCL : flags);
  *created = creates && fd >= 0;
  if (fd < 0 && errno == EEXIST && mode == OpenMode::CreateExclusive) {
    fd = OpenWithoutWaiting(path, flags);
  }
  return fd;
}

}  // namespace

File File::Open(const std::string& path, OpenMode mode, LockWait wait) {
  return OpenWaitingAtMost(path, mode, wait == LockWait::Wait ? kWaitForever : kNoWait);
}

File File::OpenWaitingAtMost(const std::string& path, OpenMode mode, int milliseconds) {
  if (!IsUsablePath(path)) ThrowOpenFailure(path, mode, path.empty() ? ENOENT : EINVAL);
  if (const int injected = InjectedError(FileOperation::Open, path)) {
    ThrowOpenFailure(path, mode, injected);
  }
  bool created = false;
  const int fd = OpenDescriptor(path, mode, &created);
  if (fd < 0) ThrowOpenFailure(path, mode, errno);
  File file(fd, path);
  // A file this open made is a plain, empty one, and the caller's other lock keeps it.
  if (mode == OpenMode::CreateNewUnlocked) {
    file.size_at_start_ = 0;
    return file;
  }
  // The file is looked at before it is locked: a network file system may open a file on
  // its server only at the first request that needs it, and a lock asked for first then
  // finds a file that another machine removed meanwhile gone ("stale file handle"),
  // where a file opened in time is still locked and then seen replaced. The size is only
  // where the first read starts: the reads go on to the end.
  const struct stat info = CheckRegularFile(fd, path, mode);
  int error = LockWholeFile(fd, path, mode != OpenMode::ReadShared, milliseconds);
  // Truncate only once the lock is held, so that a refused open changes nothing.
  if (error == 0 && mode == OpenMode::CreateExclusive && ::ftruncate(fd, 0) != 0) error = errno;
  if (error != 0) {
    // A file this open made goes again, unless another process holds it already.
    if (created && error != kHeldByAnotherProcess) ::unlink(path.c_str());
    ThrowOpenFailure(path, mode, error);
  }
  file.size_at_start_ = mode == OpenMode::CreateExclusive ? 0 : info.st_size;
  file.device_ = info.st_dev;
  file.number_ = info.st_ino;
  return file;
}

File::File(File&& other) noexcept
    : fd_(other.fd_),
      path_(std::move(other.path_)),
      size_at_start_(other.size_at_start_),
      device_(other.device_),
      number_(other.number_) {
  other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    size_at_start_ = other.size_at_start_;
    device_ = other.device_;
    number_ = other.number_;
    other.fd_ = -1;
  }
  return *this;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t File::Size() const {
  struct stat info {};
  if (fstat(fd_, &info) != 0) ThrowInOut(path_, errno);
  return static_cast<std::int64_t>(info.st_size);
}

std::size_t File::Read(char* buffer, std::size_t count) {
  size_at_start_ = -1;
  if (const int injected = InjectedError(FileOperation::Read, path_)) ThrowInOut(path_, injected);
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, count);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) ThrowInOut(path_, errno);
  }
}

// A plain file's read gives fewer bytes than asked only at its end, so a file of the
// size expected is read whole by one read of one byte more; that byte, when it comes,
// shows the file has grown and the reading goes on.
std::string File::ReadAll() {
  std::int64_t expected = size_at_start_;
  if (expected < 0) {
    const off_t position = ::lseek(fd_, 0, SEEK_CUR);
    const std::int64_t size = Size();
    expected = position >= 0 && size > position ? size - position : 0;
  }
  std::string bytes(static_cast<std::size_t>(expected) + 1, '\0');
  std::size_t done = 0;
  for (;;) {
    const std::size_t wanted = bytes.size() - done;
    const std::size_t got = Read(bytes.data() + done, wanted);
    done += got;
    if (got == 0 || (got < wanted && done >= static_cast<std::size_t>(expected))) break;
    if (done == bytes.size()) bytes.resize(bytes.size() * 2);
  }
  bytes.resize(done);
  return bytes;
}

void File::WriteAll(std::string_view bytes) {
  size_at_start_ = -1;
  WriteOrThrow(fd_, path_, bytes, kAtPosition);
}

void File::Truncate() {
  size_at_start_ = -1;
  if (const int injected = InjectedError(FileOperation::Write, path_)) ThrowInOut(path_, injected);
  if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) ThrowInOut(path_, errno);
}

void File::OverwriteAndCut(std::string_view bytes, std::size_t length) {
  if (const int injected = InjectedError(FileOperation::Write, path_)) ThrowInOut(path_, injected);
  size_at_start_ = -1;
  WriteOrThrow(fd_, path_, bytes, 0);
  if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) ThrowInOut(path_, errno);
}

bool File::IsSameFileAs(const std::string& path) const {
  struct stat path_info {};
  if (stat(path.c_str(), &path_info) != 0) return false;
  std::uint64_t device = device_, number = number_;
  if (number == 0) {
    struct stat open_info {};
    if (fstat(fd_, &open_info) != 0) return false;
    device = open_info.st_dev;
    number = open_info.st_ino;
  }
  return device == path_info.st_dev && number == path_info.st_ino;
}

void File::CopyAccessFrom(const File& other) {
  struct stat info {};
  if (fstat(other.fd_, &info) != 0) ThrowInOut(other.path_, errno);
  // The owner first: changing it may clear set-id bits, which the mode then restores.
  // Only a privileged process may give a file away, so a refusal keeps this process's.
  if (::fchown(fd_, info.st_uid, info.st_gid) != 0 && errno != EPERM) ThrowInOut(path_, errno);
  if (::fchmod(fd_, info.st_mode & 07777) != 0) ThrowInOut(path_, errno);
}

void File::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  const int injected = InjectedError(FileOperation::Close, path_);
  if (::close(fd) != 0 && errno != EINTR) ThrowInOut(path_, errno);
  if (injected != 0) ThrowInOut(path_, injected);
}

}  // namespace orvane::platform
