#include "host/web_request.h"

#include "host/ascii_case.h"

namespace orvane {

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
