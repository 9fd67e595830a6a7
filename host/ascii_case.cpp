#include "host/ascii_case.h"

namespace orvane {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - ('a' - 'A'));
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - ('a' - 'A'));
    if (x != y) return false;
  }
  return true;
}

}  // namespace orvane
