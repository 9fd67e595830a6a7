// The abstract web request: indexed request variables, their three views and the
// request's input and output channel.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orvane {

enum TMethodType { mtAny = 0, mtGet = 1, mtPut = 2, mtPost = 3, mtHead = 4 };

// Indexes of the request variables.
enum TRequestVariable {
  rvMethod = 0,
  rvProtocolVersion = 1,
  rvURL = 2,
  rvQuery = 3,
  rvPathInfo = 4,
  rvPathTranslated = 5,
  rvCacheControl = 6,
  rvDate = 7,
  rvAccept = 8,
  rvFrom = 9,
  rvHost = 10,
  rvIfModifiedSince = 11,
  rvReferer = 12,
  rvUserAgent = 13,
  rvContentEncoding = 14,
  rvContentType = 15,
  rvContentLength = 16,
  rvContentVersion = 17,
  rvDerivedFrom = 18,
  rvExpires = 19,
  rvTitle = 20,
  rvRemoteAddr = 21,
  rvRemoteHost = 22,
  rvScriptName = 23,
  rvServerPort = 24,
  rvContent = 25,
  rvConnection = 26,
  rvCookie = 27,
  rvAuthorization = 28,
};

class TWebRequest {
 public:
  TWebRequest() = default;
  virtual ~TWebRequest() = default;
  TWebRequest(const TWebRequest&) = delete;
  TWebRequest& operator=(const TWebRequest&) = delete;

  TMethodType MethodType() const { return method_type_; }

  virtual std::string GetStringVariable(int index) = 0;
  virtual double GetDateVariable(int index) = 0;
  virtual std::int32_t GetIntegerVariable(int index) = 0;
  virtual std::string GetDispatchPathInfo() { return GetStringVariable(rvPathInfo); }
  virtual std::string GetDispatchScriptName() { return GetStringVariable(rvScriptName); }
  virtual std::int32_t ReadBytes(char* buffer, std::int32_t count) = 0;
  virtual std::string ReadString(std::int32_t count) = 0;
  virtual std::string MapUriToPath(const std::string& uri) = 0;
  virtual std::int32_t WriteBytes(const char* buffer, std::int32_t count) = 0;
  virtual bool WriteString(std::string_view text) = 0;
  virtual bool WriteHeaders(int status_code, const std::string& status_text,
                            const std::string& headers) = 0;
  // The headers and then the content, as WriteHeaders and WriteString write them; a
  // request that can sends both in one piece. True when everything was written.
  virtual bool WriteResponse(int status_code, const std::string& status_text,
                             const std::string& headers, std::string_view content);
  virtual std::string GetHeaderField(const std::string& name) = 0;

  // The body read at creation (variable 25) as a view, so that a large upload is
  // never copied; valid for the request's lifetime.
  virtual std::string_view ContentView() = 0;
  // Frees the body once nothing views it any more; ContentView and variable 25 are
  // empty afterwards. A request that holds no body of its own ignores it.
  virtual void ReleaseContent() {}

 protected:
  // Derives MethodType from the Method variable; called once by a derived constructor.
  void InitMethodType();

 private:
  TMethodType method_type_ = mtAny;
};

}  // namespace orvane
