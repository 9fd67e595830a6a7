// Placeholder implementation: replaced by the CGI output work.
#include "host/cgi_response.h"

namespace orvane {
TCGIResponse::TCGIResponse(TWebRequest& request) : TWebResponse(request) { InitDefaults(); }
void TCGIResponse::InitDefaults() { status_code_ = 200; strings_[svContentType] = "text/html"; }
std::string TCGIResponse::GetStringVariable(int index) {
  return index >= 0 && index < 12 ? strings_[index] : std::string();
}
void TCGIResponse::SetStringVariable(int index, const std::string& value) {
  if (index >= 0 && index < 12) strings_[index] = value;
}
double TCGIResponse::GetDateVariable(int index) { return index >= 0 && index < 3 ? dates_[index] : -1; }
void TCGIResponse::SetDateVariable(int index, double value) {
  if (index >= 0 && index < 3) dates_[index] = value;
}
std::int32_t TCGIResponse::GetIntegerVariable(int index) { return index == 0 ? content_length_ : -1; }
void TCGIResponse::SetIntegerVariable(int index, std::int32_t value) {
  if (index == 0) content_length_ = value;
}
std::string TCGIResponse::GetContent() { return content_; }
void TCGIResponse::SetContent(const std::string& content) {
  content_ = content;
  content_length_ = static_cast<std::int32_t>(content.size());
}
std::int32_t TCGIResponse::GetStatusCode() { return status_code_; }
void TCGIResponse::SetStatusCode(std::int32_t code) { status_code_ = code; }
std::string TCGIResponse::GetLogMessage() { return {}; }
void TCGIResponse::SetLogMessage(const std::string&) {}
void TCGIResponse::SendResponse() {
  HTTPRequest().WriteHeaders(status_code_, "200 OK", "Content-Type: " + strings_[svContentType] + "\r\nContent:\r\n\r\n");
  HTTPRequest().WriteString(content_);
  sent_ = true;
}
void TCGIResponse::SendRedirect(const std::string&) {}
void TCGIResponse::SendStream(TStream&) {}
}  // namespace orvane
