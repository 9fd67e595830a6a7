// Open files with the system's share modes: a reader shares with other readers only,
// a writer with nobody. Another process's conflicting open is a sharing violation.

#include <string>

#include "platform/exception.h"
#include "platform/file_errors.h"
#include "platform/platform.h"
#include "platform/windows/windows_support.h"

// After the system header, which it needs.
#include <aclapi.h>

namespace orvane::platform {

using windows::FromHandle;
using windows::InjectedError;
using windows::ToHandle;

namespace {

// How long an open with LockWait::Wait keeps trying while another process holds the
// file: the system cannot wait for a share mode, so the open is retried.
constexpr int kWaitPollMilliseconds = 5;
constexpr int kWaitLimitMilliseconds = 60000;

struct OpenRequest {
  DWORD access;
  DWORD share;
  DWORD disposition;
};

// Deleting and renaming stay allowed while a file is open, as on POSIX systems: a
// record is replaced by renaming a new file over it while its old version is held.
OpenRequest RequestFor(OpenMode mode) {
  const DWORD read_write = GENERIC_READ | GENERIC_WRITE;
  switch (mode) {
    case OpenMode::ReadShared:
      return {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING};
    case OpenMode::CreateExclusive:
      return {read_write, FILE_SHARE_DELETE, CREATE_ALWAYS};
    case OpenMode::CreateNewExclusive:
    case OpenMode::CreateNewUnlocked:  // a share mode costs nothing here
      return {read_write, FILE_SHARE_DELETE, CREATE_NEW};
    case OpenMode::ReadWriteExclusive:
      return {read_write, FILE_SHARE_DELETE, OPEN_EXISTING};
    case OpenMode::OpenAlwaysExclusive:
      return {read_write, FILE_SHARE_DELETE, OPEN_ALWAYS};
  }
  return {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING};
}

// One name for "the name is taken", whichever call reported it, and the program's own
// outcome for a file that another process holds.
int NormalizedError(DWORD code) {
  if (code == ERROR_SHARING_VIOLATION) return kHeldByAnotherProcess;
  return static_cast<int>(code == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : code);
}

HANDLE OpenHandle(const std::wstring& path, const OpenRequest& request, LockWait wait) {
  for (int waited = 0;; waited += kWaitPollMilliseconds) {
    HANDLE handle = CreateFileW(path.c_str(), request.access, request.share, nullptr,
                                request.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return handle;
    if (wait == LockWait::Fail || GetLastError() != ERROR_SHARING_VIOLATION ||
        waited >= kWaitLimitMilliseconds) {
      return handle;
    }
    Sleep(kWaitPollMilliseconds);
  }
}

// 0, or the error code when the system refuses a byte.
int WriteFully(HANDLE handle, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t left = bytes.size() - done;
    const DWORD wanted = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD put = 0;
    if (!WriteFile(handle, bytes.data() + done, wanted, &put, nullptr)) {
      return static_cast<int>(GetLastError());
    }
    if (put == 0) return ERROR_WRITE_FAULT;
    done += put;
  }
  return 0;
}

}  // namespace

int FileExistsErrorCode() { return ERROR_FILE_EXISTS; }

File File::Open(const std::string& path, OpenMode mode, LockWait wait) {
  const std::optional<std::wstring> wide = windows::SystemPath(path);
  if (!wide) ThrowOpenFailure(path, mode, static_cast<int>(windows::UnusablePathError(path)));
  // The share mode is taken with the open itself: a refused hold is a refused open.
  for (FileOperation operation : {FileOperation::Open, FileOperation::Lock}) {
    if (const DWORD injected = InjectedError(operation, path)) {
      ThrowOpenFailure(path, mode, NormalizedError(injected));
    }
  }
  HANDLE handle = OpenHandle(*wide, RequestFor(mode), wait);
  if (handle == INVALID_HANDLE_VALUE) {
    ThrowOpenFailure(path, mode, NormalizedError(GetLastError()));
  }
  File file(FromHandle(handle), path);
  // A device (CON, NUL, COM1, ...) or a pipe was opened but holds no file's content.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    ThrowNotRegularFile(path, ERROR_INVALID_NAME);
  }
  return file;
}

File::File(File&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) CloseHandle(ToHandle(fd_));
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

File::~File() {
  if (fd_ >= 0) CloseHandle(ToHandle(fd_));
}

std::int64_t File::Size() const {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(ToHandle(fd_), &size)) ThrowInOut(path_, GetLastError());
  return size.QuadPart;
}

std::size_t File::Read(char* buffer, std::size_t count) {
  if (const DWORD injected = InjectedError(FileOperation::Read, path_)) {
    ThrowInOut(path_, static_cast<int>(injected));
  }
  const DWORD wanted = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
  DWORD got = 0;
  if (!ReadFile(ToHandle(fd_), buffer, wanted, &got, nullptr)) ThrowInOut(path_, GetLastError());
  return got;
}

std::string File::ReadAll() {
  LARGE_INTEGER zero{}, position{};
  const bool known = SetFilePointerEx(ToHandle(fd_), zero, &position, FILE_CURRENT);
  const std::int64_t size = Size();
  std::string bytes;
  if (known && size > position.QuadPart) {
    bytes.resize(static_cast<std::size_t>(size - position.QuadPart));
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

// A second handle would have to share with this one's mode, which an exclusive open
// refuses: the read goes through the held handle.
void File::WriteAll(std::string_view bytes) {
  if (const DWORD injected = InjectedError(FileOperation::Write, path_)) {
    // A full disk takes what fits before it refuses the rest.
    if (injected == ERROR_DISK_FULL) {
      WriteFully(ToHandle(fd_), bytes.substr(0, bytes.size() / 2));
    }
    ThrowWriteFailure(path_, static_cast<int>(injected));
  }
  if (const int code = WriteFully(ToHandle(fd_), bytes)) ThrowWriteFailure(path_, code);
}

void File::Truncate() {
  if (const DWORD injected = InjectedError(FileOperation::Write, path_)) {
    ThrowInOut(path_, static_cast<int>(injected));
  }
  LARGE_INTEGER zero{};
  if (!SetFilePointerEx(ToHandle(fd_), zero, nullptr, FILE_BEGIN) || !SetEndOfFile(ToHandle(fd_))) {
    ThrowInOut(path_, GetLastError());
  }
}

void File::OverwriteAndCut(std::string_view bytes, std::size_t length) {
  if (const DWORD injected = InjectedError(FileOperation::Write, path_)) {
    ThrowInOut(path_, static_cast<int>(injected));
  }
  LARGE_INTEGER position{};
  if (!SetFilePointerEx(ToHandle(fd_), position, nullptr, FILE_BEGIN)) {
    ThrowInOut(path_, GetLastError());
  }
  WriteAll(bytes);
  position.QuadPart = static_cast<LONGLONG>(length);
  if (!SetFilePointerEx(ToHandle(fd_), position, nullptr, FILE_BEGIN) ||
      !SetEndOfFile(ToHandle(fd_))) {
    ThrowInOut(path_, GetLastError());
  }
}

// The same volume and file index: the path still leads to this open file.
bool File::IsSameFileAs(const std::string& path) const {
  const std::optional<std::wstring> wide = windows::SystemPath(path);
  if (!wide) return false;
  HANDLE other =
      CreateFileW(wide->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (other == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION open_info{}, path_info{};
  const bool same = GetFileInformationByHandle(ToHandle(fd_), &open_info) &&
                    GetFileInformationByHandle(other, &path_info) &&
                    open_info.dwVolumeSerialNumber == path_info.dwVolumeSerialNumber &&
                    open_info.nFileIndexHigh == path_info.nFileIndexHigh &&
                    open_info.nFileIndexLow == path_info.nFileIndexLow;
  CloseHandle(other);
  return same;
}

// The replacement keeps the rules written for the original itself; what both inherit
// from their directory is applied anew by the system.
void File::CopyAccessFrom(const File& other) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD code = GetSecurityInfo(ToHandle(other.fd_), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, &dacl, nullptr, &descriptor);
  if (code != ERROR_SUCCESS) ThrowInOut(other.path_, code);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  const SECURITY_INFORMATION what =
      DACL_SECURITY_INFORMATION |
      ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                          : UNPROTECTED_DACL_SECURITY_INFORMATION);
  std::optional<std::wstring> wide = windows::SystemPath(path_);
  code = wide ? SetNamedSecurityInfoW(wide->data(), SE_FILE_OBJECT, what, nullptr, nullptr, dacl,
                                      nullptr)
              : windows::UnusablePathError(path_);
  LocalFree(descriptor);
  if (code != ERROR_SUCCESS) ThrowInOut(path_, code);
}

void File::Close() {
  if (fd_ < 0) return;
  HANDLE handle = ToHandle(fd_);
  fd_ = -1;
  const DWORD injected = InjectedError(FileOperation::Close, path_);
  if (!CloseHandle(handle)) ThrowInOut(path_, GetLastError());
  if (injected != 0) ThrowInOut(path_, injected);
}

}  // namespace orvane::platform
