// The request of a CGI process: variables from the environment, the body from
// standard input, the reply to standard output.
#pragma once

#include <string>

#include "host/byte_buffer.h"
#include "host/web_request.h"

namespace orvane {

class TCGIRequest : public TWebRequest {
 public:
  // Reads the declared body from standard input at once; raises EOutOfMemory when
  // room for the declared length cannot be reserved.
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
  // Status line, headers and content in one write, so the web server gets the whole
  // reply at once; a content over 64 KiB goes in a second write behind the headers
  // rather than being copied.
  bool WriteResponse(int status_code, const std::string& status_text, const std::string& headers,
                     std::string_view content) override;
  std::string GetHeaderField(const std::string& name) override;
  std::string_view ContentView() override { return content_.View(); }
  void ReleaseContent() override { content_ = TByteBuffer(); }

 private:
  // Reads until count bytes have arrived or input ends or fails; returns the count read.
  std::size_t ReadInput(char* buffer, std::size_t count);

  TByteBuffer content_;
  bool input_ended_ = false;
};

// The integer view of a request variable: optional leading blanks, an optional sign,
// then decimal digits or hexadecimal digits after "$", "x", "X", "0x" or "0X", to the
// end of the text and within the 32-bit signed range; -1 for anything else.
std::int32_t RequestVariableInteger(std::string_view text);

}  // namespace orvane
