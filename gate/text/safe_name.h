// Names taken from a request (a session, a member id) that are joined into paths.
#pragma once

#include <string_view>

namespace orvane {

// Which system's file names a name must be safe for.
enum class FileNameRules {
  Posix,    // only leaving the directory is unsafe
  Windows,  // also device names and names the system would change or refuse
};

// The rules of the system the program runs on (told by its path delimiter).
FileNameRules SystemFileNameRules();

// True when the name stays inside its directory and names a file of its own: no "/",
// no ":", no byte below 0x20 and no backslash that is not the second byte of a Shift_JIS
// double-byte character. Under the Windows rules also none of < > " | ? *, no device
// name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, CONIN$, CONOUT$, CLOCK$ in any letter
// case, also before an extension) and no dot or space at the end, which the system
// drops, so that "taro." would reach another name.
bool IsSafeFileNamePart(std::string_view name, FileNameRules rules);
// With the system's rules, and only when the system stores the name as these very bytes
// (platform::NameRoundTrips).
bool IsSafeFileNamePart(std::string_view name);

}  // namespace orvane
