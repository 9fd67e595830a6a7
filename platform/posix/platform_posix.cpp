// POSIX implementation of the platform interface. Windows share modes are emulated
// with open-file-description locks, which also hold across network file systems.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane::platform {
namespace {

std::string SystemErrorText(int code) {
  if (code == kSharingViolation) {
    return "The file is in use by another process.";
  }
  char buffer[256];
  return strerror_r(code, buffer, sizeof buffer);
}

std::string OpenErrorMessage(const std::string& path, int code) {
  return "ファイル \"" + FullPath(path) + "\". " + SystemErrorText(code) + " は開けません";
}

std::string CreateErrorMessage(const std::string& path, int code) {
  return "ファイル \"" + FullPath(path) + "\". " + SystemErrorText(code) + " を作成できません";
}

[[noreturn]] void ThrowOpenFailure(const std::string& path, OpenMode mode, int code) {
  if (mode == OpenMode::ReadShared || mode == OpenMode::ReadWriteExclusive) {
    ThrowFileOpenError(path, code);
  }
  ThrowFileCreateError(path, code);
}

[[noreturn]] void ThrowInOut(const std::string& path, int code) {
  throw EInOutError("I/O error: \"" + FullPath(path) + "\". " + SystemErrorText(code), code,
                    false);
}

// Takes the whole-file lock that stands for the open's share mode. Returns 0 or the
// error code (kSharingViolation when another open holds a conflicting lock).
int LockWholeFile(int fd, bool exclusive, LockWait wait) {
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
  }
  return O_RDONLY;
}

// A NUL byte would cut the path short at the system call and name another file.
bool IsUsablePath(const std::string& path) {
  return !path.empty() && path.find('\0') == std::string::npos;
}

// A reader that went away must make a write fail, not end the process with SIGPIPE.
// A web server may hand over non-blocking pipes: "not ready yet" means wait, not fail.
bool WaitUntilReady(int fd, short events) {
  if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
  struct pollfd ready {};
  ready.fd = fd;
  ready.events = events;
  while (::poll(&ready, 1, -1) < 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool IsRegularFile(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

char PathDelimiter() { return '/'; }

std::optional<std::string> GetEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void PrepareStandardChannels() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null_fd = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null_fd >= 0 && null_fd != fd) {
      ::dup2(null_fd, fd);
      ::close(null_fd);
    }
  }
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  sigaction(SIGPIPE, &action, nullptr);
}

long ReadStdin(char* buffer, std::size_t count) {
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, buffer, count);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR && !WaitUntilReady(STDIN_FILENO, POLLIN)) return -1;
  }
}

long WriteStdout(const char* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t put = ::write(STDOUT_FILENO, data + done, count - done);
    if (put < 0) {
      if (errno == EINTR || WaitUntilReady(STDOUT_FILENO, POLLOUT)) continue;
      return -1;
    }
    done += static_cast<std::size_t>(put);
  }
  return static_cast<long>(done);
}

void WriteStderr(std::string_view text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (put <= 0 && errno != EINTR) return;
    if (put > 0) done += static_cast<std::size_t>(put);
  }
}

std::string ExecutablePath() {
  std::string path(4096, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return std::string();
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::string FullPath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char* cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) return path;
  std::string full(cwd);
  std::free(cwd);
  if (full.empty() || full.back() != '/') full += '/';
  return full + path;
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return IsUsablePath(path) && stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat info {};
  return IsUsablePath(path) && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CreateDirectories(const std::string& path) {
  if (!IsUsablePath(path)) return false;
  if (DirectoryExists(path)) return true;
  std::string::size_type end = path.find_last_not_of('/');
  if (end == std::string::npos) return DirectoryExists("/");
  const std::string trimmed = path.substr(0, end + 1);
  const std::string::size_type slash = trimmed.find_last_of('/');
  if (slash != std::string::npos && slash > 0) CreateDirectories(trimmed.substr(0, slash));
  if (mkdir(trimmed.c_str(), 0777) == 0) return true;
  return DirectoryExists(trimmed);  // another process may have made it meanwhile
}

int RenameFile(const std::string& from, const std::string& to) {
  if (!IsUsablePath(from) || !IsUsablePath(to)) return EINVAL;
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void ThrowFileOpenError(const std::string& path, int error_code) {
  throw EFOpenError(OpenErrorMessage(path, error_code), error_code,
                    error_code == kSharingViolation);
}

void ThrowFileCreateError(const std::string& path, int error_code) {
  throw EFCreateError(CreateErrorMessage(path, error_code), error_code,
                      error_code == kSharingViolation);
}

bool RemoveFile(const std::string& path) { return IsUsablePath(path) && ::unlink(path.c_str()) == 0; }

int CreateHardLink(const std::string& existing, const std::string& new_name) {
  if (!IsUsablePath(existing) || !IsUsablePath(new_name)) return EINVAL;
  return ::link(existing.c_str(), new_name.c_str()) == 0 ? 0 : errno;
}

int FileExistsErrorCode() { return EEXIST; }

File File::Open(const std::string& path, OpenMode mode, LockWait wait) {
  if (!IsUsablePath(path)) ThrowOpenFailure(path, mode, path.empty() ? ENOENT : EINVAL);
  int fd;
  do {
    fd = ::open(path.c_str(), OpenFlags(mode) | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) ThrowOpenFailure(path, mode, errno);
  File file(fd, path);
  if (!IsRegularFile(fd)) ThrowOpenFailure(path, mode, EISDIR);
  const int lock_error = LockWholeFile(fd, mode != OpenMode::ReadShared, wait);
  if (lock_error != 0) ThrowOpenFailure(path, mode, lock_error);
  // Truncate only once the lock is held, so that a refused open changes nothing.
  if (mode == OpenMode::CreateExclusive && ::ftruncate(fd, 0) != 0) {
    ThrowOpenFailure(path, mode, errno);
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
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) throw EWriteError("ストリームへの書き込みエラー");
    done += static_cast<std::size_t>(put);
  }
}

void File::Truncate() {
  if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) ThrowInOut(path_, errno);
}

bool File::IsSameFileAs(const std::string& path) const {
  struct stat open_info {}, path_info {};
  return fstat(fd_, &open_info) == 0 && stat(path.c_str(), &path_info) == 0 &&
         open_info.st_dev == path_info.st_dev && open_info.st_ino == path_info.st_ino;
}

void File::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) ThrowInOut(path_, errno);
}

LocalDateTime LocalNow() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local {};
  localtime_r(&now.tv_sec, &local);
  return LocalDateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                       local.tm_min,         local.tm_sec,     static_cast<int>(now.tv_nsec / 1000000)};
}

void SleepMilliseconds(int milliseconds) {
  if (milliseconds <= 0) return;
  struct timespec wait {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

std::uint64_t ClockSeed() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000ULL ^
         static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(getpid()) << 32);
}

}  // namespace orvane::platform
