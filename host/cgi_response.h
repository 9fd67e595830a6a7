// The response of a CGI process, written in the CGI reply format.
#pragma once

#include <string>

#include "host/web_response.h"

namespace orvane {

class TCGIResponse : public TWebResponse {
 public:
  explicit TCGIResponse(TWebRequest& request);

  std::string GetStringVariable(int index) override;
  void SetStringVariable(int index, const std::string& value) override;
  double GetDateVariable(int index) override;
  void SetDateVariable(int index, double value) override;
  std::int32_t GetIntegerVariable(int index) override;
  void SetIntegerVariable(int index, std::int32_t value) override;
  std::string GetContent() override;
  std::size_t ContentSize() override { return content_.size(); }
  void SetContent(std::string content) override;
  std::int32_t GetStatusCode() override;
  void SetStatusCode(std::int32_t code) override;
  std::string GetLogMessage() override;
  void SetLogMessage(const std::string& message) override;
  void SendResponse() override;
  void SendRedirect(const std::string& uri) override;
  void SendStream(TStream& stream) override;
  bool IsSent() override { return sent_; }

 protected:
  virtual void InitDefaults();

 private:
  static constexpr int kStringCount = 12;
  static constexpr int kDateCount = 3;

  // The header block of the reply, from its first header line to the empty line.
  std::string HeaderBlock();
  // "code reason", or "200 OK" without a reason or code.
  std::string StatusText() const;

  std::int32_t status_code_ = 0;
  std::string strings_[kStringCount];
  std::int32_t content_length_ = 0;
  double dates_[kDateCount] = {-1, -1, -1};
  std::string content_;
  bool sent_ = false;
};

}  // namespace orvane
