// The abstract web response: status, header variables, cookies, extra header lines
// and a body, written in the reply format through the request it answers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/web_request.h"

namespace orvane {

// A readable byte stream with a position, the source of a streamed response body.
class TStream {
 public:
  virtual ~TStream() = default;
  virtual std::int64_t Size() const = 0;
  virtual std::int64_t Position() const = 0;
  virtual std::int32_t Read(char* buffer, std::int32_t count) = 0;
};

class TCookieCollection;

// Indexes of the response variables.
enum TResponseStringVariable {
  svVersion = 0,
  svReasonString = 1,
  svUnused2 = 2,
  svWWWAuthenticate = 3,
  svRealm = 4,
  svAllow = 5,
  svLocation = 6,
  svContentEncoding = 7,
  svContentType = 8,
  svContentVersion = 9,
  svDerivedFrom = 10,
  svTitle = 11,
};
enum TResponseIntegerVariable { ivContentLength = 0 };
enum TResponseDateVariable { dvDate = 0, dvExpires = 1, dvLastModified = 2 };

class TWebResponse {
 public:
  explicit TWebResponse(TWebRequest& request);
  virtual ~TWebResponse();
  TWebResponse(const TWebResponse&) = delete;
  TWebResponse& operator=(const TWebResponse&) = delete;

  TWebRequest& HTTPRequest() const { return request_; }
  TStream* ContentStream() const { return content_stream_.get(); }
  TCookieCollection& Cookies() { return *cookies_; }
  // Extra header lines as a field list (name=value lines).
  std::vector<std::string>& CustomHeaders() { return custom_headers_; }

  virtual std::string GetStringVariable(int index) = 0;
  virtual void SetStringVariable(int index, const std::string& value) = 0;
  virtual double GetDateVariable(int index) = 0;
  virtual void SetDateVariable(int index, double value) = 0;
  virtual std::int32_t GetIntegerVariable(int index) = 0;
  virtual void SetIntegerVariable(int index, std::int32_t value) = 0;
  virtual std::string GetContent() = 0;
  // Length in bytes of the content, without copying it.
  virtual std::size_t ContentSize() { return GetContent().size(); }
  // Takes the content over: a page built for the reply is moved in, never copied.
  virtual void SetContent(std::string content) = 0;
  virtual void SetContentStream(std::unique_ptr<TStream> stream);
  virtual std::int32_t GetStatusCode() = 0;
  virtual void SetStatusCode(std::int32_t code) = 0;
  virtual std::string GetLogMessage() = 0;
  virtual void SetLogMessage(const std::string& message) = 0;
  virtual void SendResponse() = 0;
  virtual void SendRedirect(const std::string& uri) = 0;
  virtual void SendStream(TStream& stream) = 0;
  virtual bool IsSent() { return false; }

 protected:
  std::unique_ptr<TStream> content_stream_;

 private:
  TWebRequest& request_;
  std::unique_ptr<TCookieCollection> cookies_;
  std::vector<std::string> custom_headers_;
};

}  // namespace orvane
