// Access rights of the running account, for the site check. Windows decides them from
// access control lists that may name groups, deny entries and inheritance, so each
// right is asked for by trying it on the object itself.
#include <string>

#include "platform/platform.h"
#include "platform/windows/windows_support.h"

// After the system header, which it needs.
#include <lmcons.h>

namespace orvane::platform {

using windows::IsUsablePath;

namespace {

// Opens the object (a file or a directory) with the access, sharing with everybody so
// that nobody else's open changes the answer. Access denied or a missing object says No;
// any other failure (a sharing conflict) cannot tell.
Answer TryAccess(const std::string& path, DWORD access) {
  const std::optional<std::wstring> wide = windows::SystemPath(path);
  if (!wide) return Answer::No;
  HANDLE handle =
      CreateFileW(wide->c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return Answer::Yes;
  }
  switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return Answer::No;
    default:
      return Answer::Unknown;
  }
}

}  // namespace

// A file of its own name is created and removed again when it is closed.
Answer MayCreateFilesIn(const std::string& directory) {
  if (!IsUsablePath(directory) || !DirectoryExists(directory)) return Answer::No;
  const std::string probe = windows::WithTrailingSeparator(directory) + ".orvanegate-check-" +
                            std::to_string(GetCurrentProcessId());
  const std::optional<std::wstring> wide = windows::SystemPath(probe);
  if (!wide) return Answer::Unknown;
  HANDLE handle = CreateFileW(wide->c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return Answer::Yes;
  }
  return GetLastError() == ERROR_ACCESS_DENIED ? Answer::No : Answer::Unknown;
}

Answer MayRead(const std::string& path) { return TryAccess(path, GENERIC_READ); }

Answer MayWrite(const std::string& path) { return TryAccess(path, GENERIC_WRITE); }

// Which accounts an access control list lets in is not told by one test: no answer.
Answer OpenToOtherAccounts(const std::string&) { return Answer::Unknown; }

std::string AccountName() {
  wchar_t name[UNLEN + 1];
  DWORD size = UNLEN + 1;
  if (GetUserNameW(name, &size) && size > 1) {
    return windows::ShiftJisShown(std::wstring_view(name, size - 1));
  }
  return "unknown";
}

}  // namespace orvane::platform
