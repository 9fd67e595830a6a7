// Open files with Windows-style share modes, emulated with open-file-description
// locks, which also hold across network file systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/exception.h"
#include "platform/file_errors.h"
#include "platform/platform.h"
#include "platform/posix/posix_support.h"

namespace orvane::platform {

using posix::InjectedError;
using posix::IsUsablePath;

namespace {

// Takes the whole-file lock that stands for the open's share mode. Returns 0 or the
// error code (kSharingViolation when another open holds a conflicting lock).
int LockWholeFile(int fd, const std::string& path, bool exclusive, LockWait wait) {
  if (const int injected = InjectedError(FileOperation::Lock, path)) return injected;
  struct flock lock {};
  lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  const int command = wait == LockWait::Wait ? F_OFD_SETLKW : F_OFD_SETLK;
  while (fcntl(fd, command, &lock) != 0) {
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EACCES) return kSharingViolation;
    return errno;
  }
  return 0;
}

int OpenFlags(OpenMode mode) {
  switch (mode) {
    case OpenMode::ReadShared: return O_RDONLY;
    case OpenMode::CreateExclusive: return O_RDWR | O_CREAT;
    case OpenMode::CreateNewExclusive: return O_RDWR | O_CREAT | O_EXCL;
    case OpenMode::ReadWriteExclusive: return O_RDWR;
    case OpenMode::OpenAlwaysExclusive: return O_RDWR | O_CREAT;
  }
  return O_RDONLY;
}

// False when the system refuses a byte.
bool WriteFully(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

// Refuses what is not a plain file. A directory cannot be opened as a file; anything
// else (a FIFO, a device) was opened but cannot be read as a file's content.
void CheckRegularFile(int fd, const std::string& path, OpenMode mode) {
  struct stat info {};
  if (fstat(fd, &info) != 0) ThrowInOut(path, errno);
  if (S_ISREG(info.st_mode)) return;
  if (S_ISDIR(info.st_mode)) ThrowOpenFailure(path, mode, EISDIR);
  ThrowNotRegularFile(path, EINVAL);
}

// The open never waits: a FIFO without a writer would otherwise block it for good.
// Waiting is left to the lock, so the flag is cleared again for the reads and writes.
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
  const bool creates = mode == OpenMode::CreateExclusive || mode == OpenMode::CreateNewExclusive;
  int fd = OpenWithoutWaiting(path, creates ? flags | O_EXCL : flags);
  *created = creates && fd >= 0;
  if (fd < 0 && errno == EEXIST && mode == OpenMode::CreateExclusive) {
    fd = OpenWithoutWaiting(path, flags);
  }
  return fd;
}

void ClearNonBlocking(int fd, const std::string& path) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) ThrowInOut(path, errno);
}

}  // namespace

File File::Open(const std::string& path, OpenMode mode, LockWait wait) {
  if (!IsUsablePath(path)) ThrowOpenFailure(path, mode, path.empty() ? ENOENT : EINVAL);
  if (const int injected = InjectedError(FileOperation::Open, path)) {
    ThrowOpenFailure(path, mode, injected);
  }
  bool created = false;
  const int fd = OpenDescriptor(path, mode, &created);
  if (fd < 0) ThrowOpenFailure(path, mode, errno);
  File file(fd, path);
  CheckRegularFile(fd, path, mode);
  ClearNonBlocking(fd, path);
  int error = LockWholeFile(fd, path, mode != OpenMode::ReadShared, wait);
  // Truncate only once the lock is held, so that a refused open changes nothing.
  if (error == 0 && mode == OpenMode::CreateExclusive && ::ftruncate(fd, 0) != 0) error = errno;
  if (error != 0) {
    // A file this open made goes again, unless another process holds it already.
    if (created && error != kSharingViolation) ::unlink(path.c_str());
    ThrowOpenFailure(path, mode, error);
  }
  return file;
}

File::File(File&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    path_ = std::move(other.path_);
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
  if (const int injected = InjectedError(FileOperation::Read, path_)) ThrowInOut(path_, injected);
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, count);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) ThrowInOut(path_, errno);
  }
}

std::string File::ReadAll() {
  const off_t position = ::lseek(fd_, 0, SEEK_CUR);
  const std::int64_t size = Size();
  std::string bytes;
  if (position >= 0 && size > position) {
    bytes.resize(static_cast<std::size_t>(size - position));
    std::size_t done = 0;
    while (done < bytes.size()) {
      const std::size_t got = Read(bytes.data() + done, bytes.size() - done);
      if (got == 0) break;
      done += got;
    }
    bytes.resize(done);
  }
  // The file may have grown since its size was taken.
  char chunk[8192];
  for (std::size_t got; (got = Read(chunk, sizeof chunk)) > 0;) bytes.append(chunk, got);
  return bytes;
}

void File::WriteAll(std::string_view bytes) {
  if (const int injected = InjectedError(FileOperation::Write, path_)) {
    // A full disk takes what fits before it refuses the rest.
    if (injected == ENOSPC) WriteFully(fd_, bytes.substr(0, bytes.size() / 2));
    throw EWriteError("ストリームへの書き込みエラー");
  }
  if (!WriteFully(fd_, bytes)) throw EWriteError("ストリームへの書き込みエラー");
}

void File::Truncate() {
  if (const int injected = InjectedError(FileOperation::Write, path_)) ThrowInOut(path_, injected);
  if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) ThrowInOut(path_, errno);
}

void File::OverwriteAndCut(std::string_view bytes, std::size_t length) {
  if (const int injected = InjectedError(FileOperation::Write, path_)) ThrowInOut(path_, injected);
  if (::lseek(fd_, 0, SEEK_SET) != 0) ThrowInOut(path_, errno);
  WriteAll(bytes);
  if (::ftruncate(fd_, static_cast<off_t>(length)) != 0 ||
      ::lseek(fd_, static_cast<off_t>(length), SEEK_SET) < 0) {
    ThrowInOut(path_, errno);
  }
}

bool File::IsSameFileAs(const std::string& path) const {
  struct stat open_info {}, path_info {};
  return fstat(fd_, &open_info) == 0 && stat(path.c_str(), &path_info) == 0 &&
         open_info.st_dev == path_info.st_dev && open_info.st_ino == path_info.st_ino;
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
