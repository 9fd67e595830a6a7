// Shared pieces of the Windows platform files.
#include "platform/windows/windows_support.h"

#include <string>

#include "platform/file_errors.h"
#include "platform/shift_jis.h"

namespace orvane::platform::windows {

bool IsUsablePath(const std::string& path) {
  return !path.empty() && path.find('\0') == std::string::npos;
}

DWORD InjectedError(FileOperation operation, const std::string& path) {
  switch (CheckFault(operation, path)) {
    case InjectedFault::None:
      return 0;
    case InjectedFault::DiskFull:
      return ERROR_DISK_FULL;
    case InjectedFault::NotFound:
      return ERROR_PATH_NOT_FOUND;
    case InjectedFault::AccessDenied:
      return ERROR_ACCESS_DENIED;
  }
  return 0;
}

std::string WithTrailingSeparator(const std::string& path) {
  bool ends_in_separator = false;
  for (std::size_t i = 0; i < path.size(); i += CharacterLength(path, i)) {
    const char byte = path[i];
    ends_in_separator =
        CharacterLength(path, i) == 1 && (byte == '\\' || byte == '/' || byte == ':');
  }
  return ends_in_separator ? path : path + '\\';
}

}  // namespace orvane::platform::windows

namespace orvane::platform {

// In Shift_JIS, as every text of the program, without the line break the system puts
// after it; a fixed text when the system has none for the code. A file held by another
// process reads as the system's sharing violation.
std::string ErrorCodeText(int error_code) {
  const DWORD code = error_code == kHeldByAnotherProcess ? ERROR_SHARING_VIOLATION
                                                         : static_cast<DWORD>(error_code);
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message;
  if (length > 0 && text != nullptr) {
    message = windows::ShiftJisShown(std::wstring_view(text, length));
  }
  if (text != nullptr) LocalFree(text);
  while (!message.empty() &&
         (message.back() == '\r' || message.back() == '\n' || message.back() == ' ')) {
    message.pop_back();
  }
  if (message.empty()) message = "System error " + std::to_string(code);
  return message;
}

}  // namespace orvane::platform
