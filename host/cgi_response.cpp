#include "host/cgi_response.h"

#include <utility>

#include "host/cookie.h"
#include "host/field_line.h"
#include "host/http_text.h"

namespace orvane {
namespace {

constexpr std::size_t kStreamPiece = 8192;

// The last line of every header block, before the blank line. Every reply has carried it,
// and the web server hands it on as a header, so clients that compare replies rely on it.
constexpr std::string_view kContentLine = "Content:\r\n";

void AppendHeader(std::string& block, std::string_view name, std::string_view value) {
  if (value.empty()) return;
  block.append(name).append(": ").append(value).append("\r\n");
}

// The value of the first line of that name that holds an "=", as field lists look it up.
std::string_view FirstValueOf(const std::vector<std::string>& lines, std::string_view name) {
  for (const std::string& line : lines) {
    if (IsFieldLineNamed(line, name)) return FieldLineValue(line);
  }
  return {};
}

std::string MovedPage(const std::string& uri) {
  return "<head><title>Document Moved 302</title></head>\r\n"
         "<body><h1>Object Moved</h1><hr><h1>オブジェクトは移動しました。</h1><hr>\r\n"
         "This Object may be found <a href=\"" +
         uri + "\">here.</a><br>オブジェクトは<a href=\"" + uri +
         "\">ここ</a>に移動しました。<br>\r\n"
         "<br></body></html>\r\n";
}

}  // namespace

TCGIResponse::TCGIResponse(TWebRequest& request) : TWebResponse(request) { InitDefaults(); }

void TCGIResponse::InitDefaults() {
  if (HTTPRequest().GetStringVariable(rvProtocolVersion).empty()) {
    SetStringVariable(svVersion, "1.0");
  }
  SetStatusCode(200);
  SetDateVariable(dvLastModified, -1);
  SetDateVariable(dvExpires, -1);
  SetDateVariable(dvDate, -1);
  SetStringVariable(svContentType, "text/html");
}

std::string TCGIResponse::GetStringVariable(int index) {
  return index >= 0 && index < kStringCount ? strings_[index] : std::string();
}

void TCGIResponse::SetStringVariable(int index, const std::string& value) {
  if (index >= 0 && index < kStringCount) strings_[index] = value;
}

double TCGIResponse::GetDateVariable(int index) {
  return index >= 0 && index < kDateCount ? dates_[index] : -1;
}

void TCGIResponse::SetDateVariable(int index, double value) {
  if (index >= 0 && index < kDateCount) dates_[index] = value;
}

std::int32_t TCGIResponse::GetIntegerVariable(int index) {
  return index == ivContentLength ? content_length_ : -1;
}

void TCGIResponse::SetIntegerVariable(int index, std::int32_t value) {
  if (index == ivContentLength) content_length_ = value;
}

std::string TCGIResponse::GetContent() { return content_; }

void TCGIResponse::SetContent(std::string content) {
  content_ = std::move(content);
  if (!ContentStream()) content_length_ = static_cast<std::int32_t>(content_.size());
}

std::int32_t TCGIResponse::GetStatusCode() { return status_code_; }

void TCGIResponse::SetStatusCode(std::int32_t code) {
  // The same code again keeps a reason text set by hand.
  if (code == status_code_) return;
  status_code_ = code;
  strings_[svReasonString] = ReasonPhrase(code);
}

std::string TCGIResponse::GetLogMessage() { return {}; }

void TCGIResponse::SetLogMessage(const std::string& /*message*/) {}

std::string TCGIResponse::StatusText() const {
  const std::string& reason = strings_[svReasonString];
  return !reason.empty() && status_code_ > 0 ? std::to_string(status_code_) + " " + reason
                                             : std::string("200 OK");
}

std::string TCGIResponse::HeaderBlock() {
  std::string block;
  AppendHeader(block, "Location", strings_[svLocation]);
  AppendHeader(block, "Allow", strings_[svAllow]);
  TCookieCollection& cookies = Cookies();
  for (std::size_t i = 0; i < cookies.Count(); ++i) {
    AppendHeader(block, "Set-Cookie", cookies[i].SetCookieText());
  }
  AppendHeader(block, "Derived-From", strings_[svDerivedFrom]);
  if (dates_[dvExpires] > 0) AppendHeader(block, "Expires", HttpDateText(dates_[dvExpires]));
  if (dates_[dvLastModified] > 0) {
    AppendHeader(block, "Last-Modified", HttpDateText(dates_[dvLastModified]));
  }
  AppendHeader(block, "Title", strings_[svTitle]);
  const std::string& realm = strings_[svRealm];
  AppendHeader(block, "WWW-Authenticate",
               realm.empty() ? strings_[svWWWAuthenticate]
                             : strings_[svWWWAuthenticate] + " Realm=" + realm);
  // Extra lines are written even with an empty value.
  for (const std::string& line : CustomHeaders()) {
    const std::string_view name = FieldLineName(line);
    block.append(name).append(": ").append(FirstValueOf(CustomHeaders(), name)).append("\r\n");
  }
  AppendHeader(block, "Content-Version", strings_[svContentVersion]);
  AppendHeader(block, "Content-Encoding", strings_[svContentEncoding]);
  AppendHeader(block, "Content-Type", strings_[svContentType]);
  if (!content_.empty() || ContentStream()) {
    AppendHeader(block, "Content-Length", std::to_string(content_length_));
  }
  block.append(kContentLine).append("\r\n");
  return block;
}

void TCGIResponse::SendResponse() {
  TWebRequest& request = HTTPRequest();
  // A request without a protocol version gets the content alone.
  const bool with_headers = !request.GetStringVariable(rvProtocolVersion).empty();
  if (ContentStream()) {
    if (with_headers) request.WriteHeaders(status_code_, StatusText(), HeaderBlock());
    SendStream(*ContentStream());
    SetContentStream(nullptr);
  } else if (with_headers) {
    request.WriteResponse(status_code_, StatusText(), HeaderBlock(), content_);
  } else {
    request.WriteString(content_);
  }
  sent_ = true;
}

void TCGIResponse::SendRedirect(const std::string& uri) {
  SetStringVariable(svLocation, uri);
  SetStatusCode(302);
  SetStringVariable(svContentType, "text/html");
  SetContent(MovedPage(uri));
  SendResponse();
}

void TCGIResponse::SendStream(TStream& stream) {
  char piece[kStreamPiece];
  while (stream.Position() < stream.Size()) {
    const std::int32_t got = stream.Read(piece, static_cast<std::int32_t>(kStreamPiece));
    if (got <= 0) break;
    HTTPRequest().WriteBytes(piece, got);
  }
}

}  // namespace orvane
