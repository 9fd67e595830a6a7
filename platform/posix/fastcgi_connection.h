// One FastCGI connection from a web server: its records read and written, one request at a
// time, never waiting longer than a bound for the server and never holding more than a
// bound of parameters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace orvane::platform::posix {

// A request's parameters (name and value lengths included) beyond this are never held.
inline constexpr std::size_t kMostParameterBytes = std::size_t{1} << 20;

class FastCgiConnection {
 public:
  // idle_milliseconds: how long a read or write may wait for the server (0: no bound).
  FastCgiConnection(int fd, int idle_milliseconds);
  ~FastCgiConnection();
  FastCgiConnection(const FastCgiConnection&) = delete;
  FastCgiConnection& operator=(const FastCgiConnection&) = delete;

  // Waits for the next responder request and reads its parameters. False when the
  // connection is to be closed: it ended or broke, sent nothing within the bound, broke
  // the protocol or sent parameters over kMostParameterBytes (refused as they come).
  bool NextRequest();
  const std::map<std::string, std::string, std::less<>>& Parameters() const { return parameters_; }
  // Body bytes of the request: 0 at its end, -1 when the server aborted it or went away.
  long ReadBody(char* buffer, std::size_t count);
  // Appends to the reply's output or error stream; false once the connection broke.
  bool WriteOutput(std::string_view data);
  bool WriteError(std::string_view data);
  // Closes the request's streams and ends it; whether the connection serves another.
  bool EndRequest();

 private:
  struct Record {
    std::uint8_t type = 0;
    std::uint16_t request_id = 0;
    std::string content;
  };

  bool WaitFor(short events);
  bool ReadExactly(char* data, std::size_t count);
  bool ReadRecord(Record& record);
  bool AnswerOtherRecord(const Record& record);
  bool AddParameters(std::string_view content);
  bool Append(std::uint8_t type, std::uint16_t request_id, std::string_view content);
  bool AppendStream(std::uint8_t type, std::string_view data);
  bool Flush();

  int fd_;
  int idle_milliseconds_;
  bool broken_ = false;
  std::uint16_t request_id_ = 0;  // 0: no request under way
  bool keep_connection_ = false;
  bool body_ended_ = false;
  bool error_written_ = false;
  std::string parameter_bytes_;
  std::map<std::string, std::string, std::less<>> parameters_;
  std::string pending_body_;
  std::size_t pending_at_ = 0;
  std::string received_;
  std::size_t received_at_ = 0;
  std::string outgoing_;
};

}  // namespace orvane::platform::posix
