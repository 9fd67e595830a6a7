// The request of a CGI process: variables from the environment, the body from
// standard input, the reply to standard output.
#pragma once

#include <string>

#include "host/web_request.h"

namespace orvane {

class TCGIRequest : public TWebRequest {
 public:
  // Reads the declared body from standard input at once.
  TCGIRequest();

  std::string GetStringVariable(int index) override;
  double GetDateVariable(int index) override;
  std::int32_t GetIntegerVariable(int index) override;
  std::int32_t ReadBytes(char* buffer, std::int32_t count) override;
  std::string ReadString(std::int32_t count) override;
  std::string MapUriToPath(const std::string& uri) override;
  std::int32_t WriteBytes(const char* buffer, std::int32_t count) override;
  bool WriteString(std::string_view text) override;
  bool WriteHeaders(int status_code, const std::string& status_text,
                    const std::string& headers) override;
  std::string GetHeaderField(const std::string& name) override;
  std::string_view ContentView() override { return content_; }

 private:
  std::string content_;
};

}  // namespace orvane
