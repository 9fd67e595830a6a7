// Placeholder implementation: replaced by the CGI input work.
#include "host/cgi_request.h"

#include "platform/platform.h"

namespace orvane {
TCGIRequest::TCGIRequest() { InitMethodType(); }
std::string TCGIRequest::GetStringVariable(int index) {
  return index == rvContent ? content_ : std::string();
}
double TCGIRequest::GetDateVariable(int) { return -1; }
std::int32_t TCGIRequest::GetIntegerVariable(int) { return -1; }
std::int32_t TCGIRequest::ReadBytes(char*, std::int32_t) { return 0; }
std::string TCGIRequest::ReadString(std::int32_t) { return {}; }
std::string TCGIRequest::MapUriToPath(const std::string& uri) { return uri; }
std::int32_t TCGIRequest::WriteBytes(const char* buffer, std::int32_t count) {
  return platform::WriteStdout(buffer, static_cast<std::size_t>(count));
}
bool TCGIRequest::WriteString(std::string_view text) {
  return !text.empty() && platform::WriteStdout(text.data(), text.size()) == static_cast<long>(text.size());
}
bool TCGIRequest::WriteHeaders(int, const std::string& status_text, const std::string& headers) {
  return WriteString("Status: " + status_text + "\r\n" + headers);
}
std::string TCGIRequest::GetHeaderField(const std::string&) { return {}; }
}  // namespace orvane
