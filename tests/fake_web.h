// Hand-built requests and responses for in-process tests of the host framework,
// and a helper that turns hex text into bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "host/web_request.h"
#include "host/web_response.h"
#include "platform/exception.h"

namespace orvane::testing {

// "81 69 27" -> the three bytes; spaces are ignored.
inline std::string FromHex(std::string_view hex) {
  std::string bytes;
  int high = -1;
  for (char c : hex) {
    int value;
    if (c >= '0' && c <= '9')
      value = c - '0';
    else if (c >= 'a' && c <= 'f')
      value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      value = c - 'A' + 10;
    else
      continue;
    if (high < 0) {
      high = value;
    } else {
      bytes.push_back(static_cast<char>(high * 16 + value));
      high = -1;
    }
  }
  return bytes;
}

class FakeRequest : public TWebRequest {
 public:
  explicit FakeRequest(std::string method = "GET", std::string path_info = "")
      : method_(std::move(method)), path_info_(std::move(path_info)) {
    InitMethodType();
  }

  std::string GetStringVariable(int index) override {
    if (index == rvMethod) return method_;
    if (index == rvPathInfo) return path_info_;
    return {};
  }
  double GetDateVariable(int) override { return -1; }
  std::int32_t GetIntegerVariable(int) override { return -1; }
  std::int32_t ReadBytes(char*, std::int32_t) override { return 0; }
  std::string ReadString(std::int32_t) override { return {}; }
  std::string MapUriToPath(const std::string& uri) override { return uri; }
  std::int32_t WriteBytes(const char*, std::int32_t count) override { return count; }
  bool WriteString(std::string_view) override { return true; }
  bool WriteHeaders(int, const std::string&, const std::string&) override { return true; }
  std::string GetHeaderField(const std::string&) override { return {}; }
  std::string_view ContentView() override { return {}; }

 private:
  std::string method_;
  std::string path_info_;
};

// Records what was set and how often the response was sent.
class FakeResponse : public TWebResponse {
 public:
  explicit FakeResponse(TWebRequest& request) : TWebResponse(request) {}

  std::string GetStringVariable(int) override { return {}; }
  void SetStringVariable(int, const std::string&) override {}
  double GetDateVariable(int) override { return -1; }
  void SetDateVariable(int, double) override {}
  std::int32_t GetIntegerVariable(int) override { return -1; }
  void SetIntegerVariable(int, std::int32_t) override {}
  std::string GetContent() override { return content; }
  void SetContent(std::string value) override {
    content = std::move(value);
    ++content_sets;
  }
  std::int32_t GetStatusCode() override { return status; }
  void SetStatusCode(std::int32_t code) override { status = code; }
  std::string GetLogMessage() override { return {}; }
  void SetLogMessage(const std::string&) override {}
  void SendResponse() override {
    if (fail_send) throw EWriteError("send failed");
    ++sends;
    sent_status = status;
  }
  void SendRedirect(const std::string&) override { ++sends; }
  void SendStream(TStream&) override { ++sends; }
  bool IsSent() override { return sends > 0; }

  std::int32_t status = 200;
  std::int32_t sent_status = 0;
  std::string content;
  int content_sets = 0;
  int sends = 0;
  bool fail_send = false;
};

}  // namespace orvane::testing
