#include "gate/text/safe_name.h"

#include <array>

#include "host/ascii_case.h"
#include "platform/platform.h"
#include "platform/shift_jis.h"

namespace orvane {
namespace {

bool IsRefusedByte(unsigned char byte, FileNameRules rules) {
  if (byte < 0x20 || byte == '/' || byte == '\\' || byte == ':') return true;
  if (rules == FileNameRules::Posix) return false;
  switch (byte) {
    case '<':
    case '>':
    case '"':
    case '|':
    case '?':
    case '*':
      return true;
    default:
      return false;
  }
}

// Windows opens the device for its name whatever extension follows, and ignores
// spaces before the extension.
bool IsDeviceName(std::string_view name) {
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  static constexpr std::array<std::string_view, 7> kDevices{"CON",    "PRN",     "AUX",   "NUL",
                                                            "CONIN$", "CONOUT$", "CLOCK$"};
  for (std::string_view device : kDevices) {
    if (EqualsIgnoringAsciiCase(base, device)) return true;
  }
  if (base.size() != 4 || base[3] < '1' || base[3] > '9') return false;
  const std::string_view prefix = base.substr(0, 3);
  return EqualsIgnoringAsciiCase(prefix, "COM") || EqualsIgnoringAsciiCase(prefix, "LPT");
}

}  // namespace

FileNameRules SystemFileNameRules() {
  return platform::PathDelimiter() == '\\' ? FileNameRules::Windows : FileNameRules::Posix;
}

bool IsSafeFileNamePart(std::string_view name, FileNameRules rules) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    // A double-byte character refuses nothing: its second byte may be a backslash or "|".
    if (CharacterLength(name, i) == 2) {
      ++i;
      continue;
    }
    if (IsRefusedByte(static_cast<unsigned char>(name[i]), rules)) return false;
  }
  if (rules == FileNameRules::Posix || name.empty()) return true;
  // A dot or space at the end is no second byte: both are below the second-byte range.
  if (name.back() == '.' || name.back() == ' ') return false;
  return !IsDeviceName(name);
}

// A name the system would store under other bytes could meet another member's file.
bool IsSafeFileNamePart(std::string_view name) {
  return IsSafeFileNamePart(name, SystemFileNameRules()) && platform::NameRoundTrips(name);
}

}  // namespace orvane
