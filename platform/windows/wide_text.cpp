// Shift_JIS text and paths converted for the wide (UTF-16) functions of the system. The
// ANSI functions would read them in the system's code page, which on a system of another
// language names other files, or splits a name at a second byte that is a backslash.
#include <climits>
#include <string>

#include "platform/windows/windows_support.h"

namespace orvane::platform::windows {
namespace {

std::optional<std::wstring> FullWidePath(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return std::nullopt;
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);  // the size needed, terminating zero included
  }
}

bool StartsWith(const std::wstring& text, std::wstring_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::optional<std::wstring> WideFromShiftJis(std::string_view text) {
  if (text.empty()) return std::wstring();
  if (text.size() > INT_MAX) return std::nullopt;
  const int bytes = static_cast<int>(text.size());
  const int length =
      MultiByteToWideChar(kShiftJisCodePage, MB_ERR_INVALID_CHARS, text.data(), bytes, nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(kShiftJisCodePage, MB_ERR_INVALID_CHARS, text.data(), bytes, wide.data(),
                      length);
  // A character with two codes converts back to one of them: the other spelling would
  // name the same file as it.
  const std::optional<std::string> back = ShiftJisFromWide(wide);
  if (!back || *back != text) return std::nullopt;
  return wide;
}

std::optional<std::string> ShiftJisFromWide(std::wstring_view text) {
  if (text.empty()) return std::string();
  if (text.size() > INT_MAX / 2) return std::nullopt;
  const int units = static_cast<int>(text.size());
  BOOL lacking = FALSE;
  const int length = WideCharToMultiByte(kShiftJisCodePage, WC_NO_BEST_FIT_CHARS, text.data(),
                                         units, nullptr, 0, nullptr, &lacking);
  if (length <= 0 || lacking) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(kShiftJisCodePage, WC_NO_BEST_FIT_CHARS, text.data(), units, bytes.data(),
                      length, nullptr, &lacking);
  return bytes;
}

std::string ShiftJisShown(std::wstring_view text) {
  if (text.empty() || text.size() > INT_MAX / 2) return std::string();
  const int units = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(kShiftJisCodePage, WC_NO_BEST_FIT_CHARS, text.data(),
                                         units, nullptr, 0, "?", nullptr);
  if (length <= 0) return std::string();
  std::string bytes(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(kShiftJisCodePage, WC_NO_BEST_FIT_CHARS, text.data(), units, bytes.data(),
                      length, "?", nullptr);
  return bytes;
}

std::optional<std::wstring> SystemPath(const std::string& path) {
  if (!IsUsablePath(path)) return std::nullopt;
  const std::optional<std::wstring> wide = WideFromShiftJis(path);
  if (!wide) return std::nullopt;
  const std::optional<std::wstring> full = FullWidePath(*wide);
  if (!full) return std::nullopt;
  // Already a long path, or a device the system's normalisation found (\\.\NUL).
  if (StartsWith(*full, L"\\\\?\\") || StartsWith(*full, L"\\\\.\\")) return full;
  if (StartsWith(*full, L"\\\\")) return L"\\\\?\\UNC\\" + full->substr(2);
  return L"\\\\?\\" + *full;
}

DWORD UnusablePathError(const std::string& path) {
  if (path.empty()) return ERROR_FILE_NOT_FOUND;
  if (!IsUsablePath(path)) return ERROR_INVALID_NAME;
  return ERROR_NO_UNICODE_TRANSLATION;
}

}  // namespace orvane::platform::windows
