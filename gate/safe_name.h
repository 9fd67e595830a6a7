// Names taken from a request (a session, a member id) that are joined into paths.
#pragma once

#include <string_view>

namespace orvane {

// True when the name stays inside its directory: no "/", no ":", no byte below 0x20
// and no backslash that is not the second byte of a Shift_JIS double-byte character.
bool IsSafeFileNamePart(std::string_view name);

}  // namespace orvane
