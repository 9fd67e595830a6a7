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

bool TWebRequest::WriteResponse(int status_code, const std::string& status_text,
                                const std::string& headers, std::string_view content) {
  const bool headers_written = WriteHeaders(status_code, status_text, headers);
  return headers_written && (content.empty() || WriteString(content));
}

}  // namespace orvane
