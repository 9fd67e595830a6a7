// The operating-system interface of the program: the only code that calls the system.
// This header is portable; platform/posix/ implements it for POSIX systems and
// platform/windows/ for Windows; the build picks one.
//
// How failures come back, by kind of call:
// - Operations on a file's name (rename, link, remove, make directories) return an
//   Outcome: 0 when done, else the system's error code. Their callers decide what a
//   failure means (a taken name is an answer, a removal that fails is left for the next
//   writer, a stale handle is looked up again) and raise it with the path when it is one,
//   so nothing is thrown for the expected cases. Outcome has no conversion to bool, so a
//   caller cannot read "0 = done" as "false = failed".
// - Opening a file and every operation on an open File raise EOSFileError (or
//   EInOutError) carrying the full path and the system's text: a File either exists open
//   or not at all, and the framework turns the exception into the error reply.
// - Questions (FileExists, MayWrite, ListDirectory, ...) answer bool, Answer or an empty
//   optional and never raise: not knowing is an answer too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// A persistent responder: requests arrive one after another over FastCGI connections
// instead of one per process. While a request is being answered, GetEnvironment,
// ReadStdin, WriteStdout and WriteStderr are that request's parameters and streams, and
// nothing of the process's own environment shows through.
// Whether the process was started as a FastCGI application: a process manager handed it
// a listening socket as standard input.
bool StartedAsFastCgiResponder();
// Whether this build can answer FastCGI requests at all (not on Windows).
bool CanServeFastCgi();
// Answers requests with serve_one, one at a time, until max_requests were answered (0: no
// bound) or the process is asked to stop (SIGTERM, SIGINT, SIGHUP); returns the exit code.
// An empty address listens on standard input's socket; otherwise ":PORT" (on 127.0.0.1),
// "HOST:PORT" with a numeric host ("[::]:PORT" for IPv6) or a Unix socket path is opened.
// A connection that sends nothing (or takes nothing) for idle_seconds (0: no bound) is
// closed, and so is one whose request's parameters come to over 1 MiB. Memory that a
// request freed goes back to the system before the next one is accepted. serve_one must
// not throw.
int ServeFastCgi(const std::string& address, long max_requests, long idle_seconds,
                 const std::function<void()>& serve_one);

// Full path of the running executable file, as it was when first asked: a persistent
// process keeps it even when the file is replaced meanwhile.
std::string ExecutablePath();
// The path made absolute against the current directory (unchanged when it already is).
std::string FullPath(const std::string& path);

// What an operation on a file's name gave: error 0 when it was done, otherwise the
// system's error code.
struct Outcome {
  int error = 0;
  bool Done() const { return error == 0; }
  bool Failed() const { return error != 0; }
};

bool FileExists(const std::string& path);  // a directory does not count
bool DirectoryExists(const std::string& path);
// With missing parents; done when the directory exists afterwards.
Outcome CreateDirectories(const std::string& path);
// Replaces an existing target.
Outcome RenameFile(const std::string& from, const std::string& to);
// Whether RenameFile replaces a target that is held open in one step, with no moment at
// which the target's name is missing (POSIX). Windows replaces no open file: RenameFile
// then moves the held target aside first, and callers that hold it rewrite it instead.
bool CanReplaceOpenFiles();
Outcome RemoveFile(const std::string& path);
// Removes a file that this process holds open, freeing its name at once for another
// process to create anew. Where an open file's name stays until its last holder closes
// it (Windows), the file is first moved aside to one of a few names of its own.
Outcome RemoveHeldFile(const std::string& path);
// Removes what RemoveHeldFile left beside the path when its process ended halfway; the
// caller holds the path's file, so no removal of it is under way.
void ClearHeldFileRemovals(const std::string& path);
// Gives an existing file a second name, atomically and only when the name is free. The
// error is FileExistsErrorCode() when the name is taken.
Outcome CreateHardLink(const std::string& existing, const std::string& new_name);

// What the site check asks about files and accounts. A system that cannot tell
// answers Unknown (or no value).
enum class Answer { No, Yes, Unknown };
// The running account may create, replace and remove files in the directory.
Answer MayCreateFilesIn(const std::string& directory);
// The running account may open the file for reading, or for writing.
Answer MayRead(const std::string& path);
Answer MayWrite(const std::string& path);
// Accounts other than the owner and its group may read the file or, for a directory,
// list it or open the files in it.
Answer OpenToOtherAccounts(const std::string& path);
// The name of the account the process runs as; "unknown" when the system does not say.
std::string AccountName();
// The names in a directory, "." and ".." left out, in no particular order; no value
// when it cannot be listed.
std::optional<std::vector<std::string>> ListDirectory(const std::string& directory);

// Whether the system stores a file name as these very bytes. Windows names files in
// UTF-16: a Shift_JIS name that does not convert there and back to the same bytes (an
// undefined code, a lead byte at the end, the second code of a character that has two)
// would share a file with another spelling or fail. Always true where names are bytes.
bool NameRoundTrips(std::string_view name);
// The code page in which the system reads the text of programs that name none (the ANSI
// code page of Windows); no value where file names are bytes. The program names its
// files in Shift_JIS whatever it is.
std::optional<int> SystemCodePage();
// The names in a directory that have no Shift_JIS spelling, and so no request reaches,
// each with "?" for what it lacks: left by another program or by a build that read names
// in the system's code page. ListDirectory leaves them out. Empty where names are bytes.
std::vector<std::string> UnspellableNames(const std::string& directory);

// How a file is opened, and whom it is shared with while open. Sharing follows the
// Windows share modes: a reader shares with other readers only, a writer with nobody.
// A conflict with another process's open is a sharing violation (EOSFileError with
// IsSharingViolation()). With LockWait::Wait the open waits for the other process
// instead of failing.
enum class OpenMode {
  ReadShared,           // an existing file, for reading; other readers allowed
  CreateExclusive,      // created, or truncated when it exists, for reading and writing; not shared
  CreateNewExclusive,   // created only when no file of that name exists; not shared
  ReadWriteExclusive,   // an existing file, for reading and writing; not shared
  OpenAlwaysExclusive,  // created when missing, kept as it is when it exists; not shared
  // Created only when no file of that name exists, for writing, with no share lock of its
  // own where sharing is emulated by locks: for a file that another lock the caller holds
  // already keeps to one process (a posting's helper files, under its slot file's lock).
  CreateNewUnlocked,
};
enum class LockWait { Fail, Wait };

// Raise the file errors with the full path and the system's text for the code.
[[noreturn]] void ThrowFileOpenError(const std::string& path, int error_code);
[[noreturn]] void ThrowFileCreateError(const std::string& path, int error_code);

// The program's own outcomes, carried in the error code of a file error beside the
// system's codes but never equal to one: errno values and Windows error codes are all
// positive. ErrorCodeText gives each its text.
// Another process holds the file in a way that conflicts with the open or the lock asked
// for (its share mode or its lock): a sharing violation, IsSharingViolation().
inline constexpr int kHeldByAnotherProcess = -1;
// A file that should hold a number holds none ("Invalid numeric input").
inline constexpr int kInvalidNumericInput = -2;
// The error code that CreateNewExclusive reports when the name is taken.
int FileExistsErrorCode();
// Whether an error code may mean that a file's name led to a file that another client
// of a network file system has meanwhile replaced: a stale handle, or a file not found
// although its name was found a moment before. Looking the name up again tells: the file
// that is there now is found, or the name is truly free.
bool IsStaleFileError(int error_code);
// Whether an error code means that a name is longer than the file system can hold.
bool IsNameTooLongError(int error_code);

// An open file. Movable, not copyable; closes (and so unlocks) in its destructor.
class File {
 public:
  // Throws EFOpenError (ReadShared, ReadWriteExclusive) or EFCreateError (the create
  // modes) with the full path and the system's error text. Opening never waits for a
  // device or a pipe: a path that names something other than a file or a directory
  // raises EInOutError, as a file that cannot be read.
  static File Open(const std::string& path, OpenMode mode, LockWait wait = LockWait::Fail);
  // As Open, but while another process holds the file in a conflicting way the open
  // waits for it to let go, at most the given milliseconds; then it fails with the
  // sharing violation, as Open with LockWait::Fail does at once.
  static File OpenWaitingAtMost(const std::string& path, OpenMode mode, int milliseconds);

  File() = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

  std::int64_t Size() const;                          // throws EInOutError
  std::size_t Read(char* buffer, std::size_t count);  // 0 at end; throws EInOutError
  std::string ReadAll();                              // from the current position to the end
  void WriteAll(std::string_view bytes);  // throws EWriteError when not every byte is written
  void Truncate();                        // length and position 0; throws EInOutError
  // Writes the bytes over the start of the file in one write, then cuts the file to its
  // first `length` bytes; where the position is left afterwards is not said, as the file
  // is closed next. Throws EWriteError/EInOutError.
  void OverwriteAndCut(std::string_view bytes, std::size_t length);
  bool IsSameFileAs(const std::string& path) const;  // the path still names this open file
  // Gives this file the access rights of the other open file: its permission bits, and
  // its owner and group where the process may set them (kept otherwise). Used when a
  // file replaces another, so the replacement is not more open than the original.
  // Throws EInOutError when the rights cannot be set.
  void CopyAccessFrom(const File& other);
  void Close();  // throws EInOutError when closing fails

 private:
  File(std::intptr_t fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  // The file descriptor, or the value of the Windows handle; -1 when closed.
  std::intptr_t fd_ = -1;
  std::string path_;
  // The size seen by the open while the position is still at the start; -1 once the
  // file was read, written or cut. Spares a whole-file read its own size query.
  std::int64_t size_at_start_ = -1;
  // The device and file number the open saw, where the system gives them with the size
  // (POSIX; 0 otherwise): the open file keeps them, so IsSameFileAs asks only the path's.
  std::uint64_t device_ = 0, number_ = 0;
};

// A block of memory for a large buffer (a request body of many MiB), not zero-filled
// by the program. Where the system offers large pages it is aligned and marked for
// them, which spares most of the page faults of filling it. Freed by
// ReleaseLargeBuffer with the same size; nullptr when the memory cannot be had.
char* ReserveLargeBuffer(std::size_t bytes);
void ReleaseLargeBuffer(char* data, std::size_t bytes);

// Local date and time to the millisecond.
struct LocalDateTime {
  int year, month, day, hour, minute, second, millisecond;
};
LocalDateTime LocalNow();

void SleepMilliseconds(int milliseconds);
// The calendar clock in whole seconds since 1970-01-01 00:00 UTC: the same on every
// machine that keeps its time, so times stored in a shared file compare across them.
std::int64_t WallClockSeconds();
// A clock for deadlines, in milliseconds from an arbitrary start; never set back.
std::int64_t MonotonicMilliseconds();
// A value of the clock that changes from call to call, to seed a random generator.
std::uint64_t ClockSeed();
// Fills the buffer with random bytes from the operating system's generator, fit for
// salts and keys; raises an Exception when the system gives none.
void FillRandomBytes(unsigned char* buffer, std::size_t size);

}  // namespace orvane::platform
