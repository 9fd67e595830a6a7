// Shared pieces of the Windows platform files: usable paths, injected faults, handles.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// The system header maps CreateHardLink to CreateHardLinkA, which would rename the
// platform function of that name; the system call is named in full where it is used.
#undef CreateHardLink

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/fault_injection.h"

namespace orvane::platform::windows {

// A NUL byte would cut the path short at the system call and name another file.
bool IsUsablePath(const std::string& path);
// Every name and text of the program is Shift_JIS, whatever the system's code page is.
inline constexpr UINT kShiftJisCodePage = 932;
// The text in UTF-16; no value when a byte does not convert or the result does not
// convert back to the same bytes.
std::optional<std::wstring> WideFromShiftJis(std::string_view text);
// The text in Shift_JIS; no value when a character has no Shift_JIS code.
std::optional<std::string> ShiftJisFromWide(std::wstring_view text);
// As ShiftJisFromWide, with "?" for a character that has no code: for messages.
std::string ShiftJisShown(std::wstring_view text);
// The path as the wide file functions take it: absolute, normalised as the system
// normalises names, in the "\\?\" form that has no 260-character limit (and no
// normalisation of its own). No value when the path is unusable or does not convert.
std::optional<std::wstring> SystemPath(const std::string& path);
// The error code of a path that SystemPath refuses.
DWORD UnusablePathError(const std::string& path);

// 0, or the error code with which this operation must fail (test builds inject them).
DWORD InjectedError(FileOperation operation, const std::string& path);
// The path with a backslash appended unless it already ends in a separator ("\\" that is
// not the second byte of a Shift_JIS character, "/" or a drive's ":").
std::string WithTrailingSeparator(const std::string& path);

// The File class keeps the handle's value in a signed integer, -1 when closed.
inline HANDLE ToHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
inline std::intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

}  // namespace orvane::platform::windows
