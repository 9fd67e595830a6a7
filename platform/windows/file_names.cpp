// File names in Shift_JIS on a system that names files in UTF-16.
#include "platform/platform.h"
#include "platform/windows/windows_support.h"

namespace orvane::platform {

bool NameRoundTrips(std::string_view name) { return windows::WideFromShiftJis(name).has_value(); }

std::optional<int> SystemCodePage() { return static_cast<int>(GetACP()); }

}  // namespace orvane::platform
