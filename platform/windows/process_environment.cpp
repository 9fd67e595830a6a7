// The process: its environment, its executable and its current directory.

#include <algorithm>
#include <string>

#include "platform/platform.h"
#include "platform/windows/windows_support.h"

namespace orvane::platform {

char PathDelimiter() { return '\\'; }

// Variable names match ignoring letter case, the system's own rule. The values are read
// in the system's code page: a web server that hands on the request's bytes through the
// ANSI functions gets them back as they were.
std::optional<std::string> GetEnvironment(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return std::nullopt;
  std::string value(256, '\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableA(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    // Too small a buffer gives the size needed, terminating zero included.
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);
  }
}

namespace {

// A wide text filled by a call that takes a buffer and its size in characters, returns the
// characters written, 0 on failure, and the buffer size or more when the buffer is short.
template <typename Call>
std::wstring Filled(Call call) {
  std::wstring text(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = call(text.data(), static_cast<DWORD>(text.size()));
    if (length == 0) return std::wstring();
    if (length < text.size()) {
      text.resize(length);
      return text;
    }
    text.resize(std::max<std::size_t>(length, text.size() * 2));
  }
}

}  // namespace

// Shift_JIS as every path of the program. A folder whose name has no Shift_JIS spelling
// is named by its short name, which the system gives in ASCII where it keeps short names.
std::string ExecutablePath() {
  const std::wstring path =
      Filled([](wchar_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); });
  if (auto spelled = windows::ShiftJisFromWide(path)) return *spelled;
  const std::wstring short_path = Filled([&path](wchar_t* buffer, DWORD size) {
    return GetShortPathNameW(path.c_str(), buffer, size);
  });
  return windows::ShiftJisShown(short_path.empty() ? path : short_path);
}

std::string FullPath(const std::string& path) {
  const std::optional<std::wstring> wide = windows::WideFromShiftJis(path);
  if (path.empty() || !wide || !windows::IsUsablePath(path)) return path;
  const std::wstring full = Filled([&wide](wchar_t* buffer, DWORD size) {
    return GetFullPathNameW(wide->c_str(), size, buffer, nullptr);
  });
  if (full.empty()) return path;
  return windows::ShiftJisFromWide(full).value_or(path);
}

}  // namespace orvane::platform
