// The operating-system interface of the program: the only code that calls the system.
// This header is portable; platform/posix/ implements it for POSIX systems and
// platform/windows/ for Windows; the build picks one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvane::platform {

// The separator that joins directory and file names on this system.
char PathDelimiter();

// The whole value of an environment variable; no value when it is not set.
std::optional<std::string> GetEnvironment(const std::string& name);

// Standard input and output as binary byte channels: no byte is ever translated.
// ReadStdin returns the count read, 0 at end of input, -1 on failure.
// WriteStdout writes all bytes and returns the count written, -1 on failure.
// Makes the standard channels safe to use: a closed one is opened on the null device
// (so that no file the program opens takes its place) and a reader that has gone away
// makes writes fail instead of ending the process.
void PrepareStandardChannels();
long ReadStdin(char* buffer, std::size_t count);
long WriteStdout(const char* data, std::size_t count);
void WriteStderr(std::string_view text);

// Full path of the running executable file.
std::string ExecutablePath();
// The path made absolute against the current directory (unchanged when it already is).
std::string FullPath(const std::string& path);

bool FileExists(const std::string& path);       // a directory does not count
bool DirectoryExists(const std::string& path);
bool CreateDirectories(const std::string& path);  // with missing parents; true when it exists afterwards
// Replaces an existing target. Returns 0 or the system's error code.
int RenameFile(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);
// Gives an existing file a second name, atomically and only when the name is free.
// Returns 0, FileExistsErrorCode() when the name is taken, or another error code.
int CreateHardLink(const std::string& existing, const std::string& new_name);

// How a file is opened, and whom it is shared with while open. Sharing follows the
// Windows share modes: a reader shares with other readers only, a writer with nobody.
// A conflict with another process's open is a sharing violation (EOSFileError with
// IsSharingViolation()). With LockWait::Wait the open waits for the other process
// instead of failing.
enum class OpenMode {
  ReadShared,          // an existing file, for reading; other readers allowed
  CreateExclusive,     // created, or truncated when it exists, for reading and writing; not shared
  CreateNewExclusive,  // created only when no file of that name exists; not shared
  ReadWriteExclusive,  // an existing file, for reading and writing; not shared
};
enum class LockWait { Fail, Wait };

// Raise the file errors with the full path and the system's text for the code.
[[noreturn]] void ThrowFileOpenError(const std::string& path, int error_code);
[[noreturn]] void ThrowFileCreateError(const std::string& path, int error_code);

// The Windows error code of a sharing violation, which the file errors report.
inline constexpr int kSharingViolation = 32;
// The error code that CreateNewExclusive reports when the name is taken.
int FileExistsErrorCode();

// An open file. Movable, not copyable; closes (and so unlocks) in its destructor.
class File {
 public:
  // Throws EFOpenError (ReadShared, ReadWriteExclusive) or EFCreateError (the create
  // modes) with the full path and the system's error text.
  static File Open(const std::string& path, OpenMode mode, LockWait wait = LockWait::Fail);

  File() = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

  std::int64_t Size() const;               // throws EInOutError
  std::size_t Read(char* buffer, std::size_t count);  // 0 at end; throws EInOutError
  std::string ReadAll();                   // from the current position to the end
  void WriteAll(std::string_view bytes);   // throws EWriteError when not every byte is written
  void Truncate();                         // length and position 0; throws EInOutError
  bool IsSameFileAs(const std::string& path) const;  // the path still names this open file
  void Close();                            // throws EInOutError when closing fails

 private:
  File(std::intptr_t fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  // The file descriptor, or the value of the Windows handle; -1 when closed.
  std::intptr_t fd_ = -1;
  std::string path_;
};

// Local date and time to the millisecond.
struct LocalDateTime {
  int year, month, day, hour, minute, second, millisecond;
};
LocalDateTime LocalNow();

void SleepMilliseconds(int milliseconds);
// A value of the clock that changes from call to call, to seed a random generator.
std::uint64_t ClockSeed();

}  // namespace orvane::platform
