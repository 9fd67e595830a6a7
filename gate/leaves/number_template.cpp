#include "gate/leaves/number_template.h"

#include <algorithm>
#include <limits>

namespace orvane {

std::string ApplyNumberTemplate(std::int64_t number, std::string_view name_template) {
  const std::size_t places =
      static_cast<std::size_t>(std::count(name_template.begin(), name_template.end(), '#'));
  std::string digits = std::to_string(number);
  if (places < digits.size()) {
    digits.erase(0, digits.size() - places);
  } else {
    digits.insert(0, places - digits.size(), '0');
  }
  std::string name(name_template);
  std::size_t next = 0;
  for (char& c : name) {
    if (c == '#') c = digits[next++];
  }
  return name;
}

std::uint64_t NumberTemplateNameCount(std::string_view name_template) {
  constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t count = 1;
  for (const char c : name_template) {
    if (c != '#') continue;
    if (count > kMost / 10) return kMost;
    count *= 10;
  }
  return count;
}

}  // namespace orvane
