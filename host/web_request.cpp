#include "host/web_request.h"

namespace orvane {
namespace {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

void TWebRequest::InitMethodType() {
  const std::string method = GetStringVariable(rvMethod);
  static constexpr struct {
    std::string_view name;
    TMethodType type;
  } kMethods[] = {{"GET", mtGet}, {"PUT", mtPut}, {"POST", mtPost}, {"HEAD", mtHead}};
  method_type_ = mtAny;
  for (const auto& entry : kMethods) {
    if (EqualsIgnoringAsciiCase(method, entry.name)) {
      method_type_ = entry.type;
      return;
    }
  }
}

}  // namespace orvane
