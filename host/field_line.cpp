#include "host/field_line.h"

#include "host/ascii_case.h"

namespace orvane {

std::string_view FieldLineName(std::string_view line) {
  const std::size_t equals = line.find('=');
  return equals == std::string_view::npos ? std::string_view() : line.substr(0, equals);
}

std::string_view FieldLineValue(std::string_view line) {
  const std::size_t equals = line.find('=');
  return equals == std::string_view::npos ? std::string_view() : line.substr(equals + 1);
}

bool IsFieldLineNamed(std::string_view line, std::string_view name) {
  const std::size_t equals = line.find('=');
  return equals != std::string_view::npos && EqualsIgnoringAsciiCase(line.substr(0, equals), name);
}

}  // namespace orvane
