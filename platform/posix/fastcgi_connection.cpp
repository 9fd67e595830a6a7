#include "platform/posix/fastcgi_connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace orvane::platform::posix {
namespace {

constexpr std::uint8_t kVersion = 1;
constexpr std::uint8_t kBeginRequest = 1;
constexpr std::uint8_t kAbortRequest = 2;
constexpr std::uint8_t kEndRequest = 3;
constexpr std::uint8_t kParams = 4;
constexpr std::uint8_t kStdin = 5;
constexpr std::uint8_t kStdout = 6;
constexpr std::uint8_t kStderr = 7;
constexpr std::uint8_t kGetValues = 9;
constexpr std::uint8_t kGetValuesResult = 10;
constexpr std::uint8_t kUnknownType = 11;
constexpr std::uint16_t kResponderRole = 1;
constexpr std::uint8_t kKeepConnection = 1;
constexpr std::uint8_t kRequestComplete = 0;
constexpr std::uint8_t kCantMultiplex = 1;
constexpr std::uint8_t kUnknownRole = 3;
constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kMostContent = 65535;
constexpr std::size_t kReceiveChunk = 65536;
constexpr std::size_t kSendAbove = 65536;

std::uint32_t Byte(std::string_view data, std::size_t at) {
  return static_cast<unsigned char>(data[at]);
}

// A name or value length: one byte below 128, else four with the top bit set.
bool ReadLength(std::string_view data, std::size_t& at, std::size_t& length) {
  if (at >= data.size()) return false;
  if ((Byte(data, at) & 0x80) == 0) {
    length = Byte(data, at++);
    return true;
  }
  if (data.size() - at < 4) return false;
  length = ((Byte(data, at) & 0x7f) << 24) | (Byte(data, at + 1) << 16) |
           (Byte(data, at + 2) << 8) | Byte(data, at + 3);
  at += 4;
  return true;
}

void AppendLength(std::string& out, std::size_t length) {
  if (length < 128) {
    out += static_cast<char>(length);
    return;
  }
  for (int shift : {24, 16, 8, 0}) {
    out += static_cast<char>(((length >> shift) & 0xff) | (shift == 24 ? 0x80 : 0));
  }
}

// The name-value pairs of a request. The first of a repeated name counts, and a value
// ends at a zero byte, as in a process environment.
bool ParsePairs(std::string_view data, std::map<std::string, std::string, std::less<>>& pairs) {
  std::size_t at = 0;
  while (at < data.size()) {
    std::size_t name_length = 0;
    std::size_t value_length = 0;
    if (!ReadLength(data, at, name_length) || !ReadLength(data, at, value_length)) return false;
    if (data.size() - at < name_length || data.size() - at - name_length < value_length) {
      return false;
    }
    std::string_view value = data.substr(at + name_length, value_length);
    value = value.substr(0, value.find('\0'));
    pairs.emplace(std::string(data.substr(at, name_length)), std::string(value));
    at += name_length + value_length;
  }
  return true;
}

// What a server asks of the application before it sends requests.
std::string ValuesOf(std::string_view asked) {
  std::map<std::string, std::string, std::less<>> names;
  std::string out;
  if (!ParsePairs(asked, names)) return out;
  for (const auto& [name, ignored] : names) {
    std::string value;
    if (name == "FCGI_MAX_CONNS" || name == "FCGI_MAX_REQS") value = "1";
    if (name == "FCGI_MPXS_CONNS") value = "0";
    if (value.empty()) continue;
    AppendLength(out, name.size());
    AppendLength(out, value.size());
    out += name + value;
  }
  return out;
}

std::string EndRequestBody(std::uint8_t protocol_status) {
  std::string body(8, '\0');
  body[4] = static_cast<char>(protocol_status);
  return body;
}

}  // namespace

FastCgiConnection::FastCgiConnection(int fd, int idle_milliseconds)
    : fd_(fd), idle_milliseconds_(idle_milliseconds > 0 ? idle_milliseconds : -1) {}

FastCgiConnection::~FastCgiConnection() { ::close(fd_); }

bool FastCgiConnection::WaitFor(short events) {
  struct pollfd ready {};
  ready.fd = fd_;
  ready.events = events;
  // A signal ends the wait, so that a process asked to stop does not wait for the server.
  if (::poll(&ready, 1, idle_milliseconds_) <= 0) broken_ = true;
  return !broken_;
}

bool FastCgiConnection::ReadExactly(char* data, std::size_t count) {
  while (count > 0) {
    if (received_at_ == received_.size()) {
      if (!WaitFor(POLLIN)) return false;
      received_.resize(kReceiveChunk);
      const ssize_t got = ::read(fd_, received_.data(), received_.size());
      received_.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
      received_at_ = 0;
      if (got <= 0) {
        broken_ = true;
        return false;
      }
    }
    const std::size_t take = std::min(count, received_.size() - received_at_);
    std::copy_n(received_.data() + received_at_, take, data);
    received_at_ += take;
    data += take;
    count -= take;
  }
  return true;
}

bool FastCgiConnection::ReadRecord(Record& record) {
  char header[kHeaderSize];
  if (broken_ || !ReadExactly(header, kHeaderSize)) return false;
  const std::string_view head(header, kHeaderSize);
  if (Byte(head, 0) != kVersion) {
    broken_ = true;
    return false;
  }
  record.type = static_cast<std::uint8_t>(Byte(head, 1));
  record.request_id = static_cast<std::uint16_t>((Byte(head, 2) << 8) | Byte(head, 3));
  const std::size_t length = (Byte(head, 4) << 8) | Byte(head, 5);
  record.content.resize(length + Byte(head, 6));
  if (!ReadExactly(record.content.data(), record.content.size())) return false;
  record.content.resize(length);
  return true;
}

// Records that are not the current request's: management questions are answered, other
// requests on the same connection refused, anything else of no request under way dropped.
bool FastCgiConnection::AnswerOtherRecord(const Record& record) {
  if (record.request_id == 0) {
    const bool put =
        record.type == kGetValues
            ? Append(kGetValuesResult, 0, ValuesOf(record.content))
            : Append(kUnknownType, 0,
                     std::string(1, static_cast<char>(record.type)) + std::string(7, '\0'));
    return put && Flush();
  }
  if (record.type == kBeginRequest) {
    return Append(kEndRequest, record.request_id, EndRequestBody(kCantMultiplex)) && Flush();
  }
  return true;
}

bool FastCgiConnection::AddParameters(std::string_view content) {
  if (content.size() > kMostParameterBytes - parameter_bytes_.size()) {
    broken_ = true;
    return false;
  }
  parameter_bytes_ += content;
  return true;
}

bool FastCgiConnection::NextRequest() {
  request_id_ = 0;
  parameter_bytes_.clear();
  parameters_.clear();
  Record record;
  while (ReadRecord(record)) {
    if (request_id_ == 0 && record.type == kBeginRequest && record.request_id != 0 &&
        record.content.size() >= 8) {
      const std::string_view body = record.content;
      if (((Byte(body, 0) << 8) | Byte(body, 1)) != kResponderRole) {
        if (!Append(kEndRequest, record.request_id, EndRequestBody(kUnknownRole)) || !Flush()) {
          return false;
        }
        continue;
      }
      request_id_ = record.request_id;
      keep_connection_ = (Byte(body, 2) & kKeepConnection) != 0;
      continue;
    }
    if (request_id_ == 0 || record.request_id != request_id_) {
      if (!AnswerOtherRecord(record)) return false;
      continue;
    }
    if (record.type == kAbortRequest) {
      // Ended before it began: nothing to answer but its end.
      if (!Append(kEndRequest, request_id_, EndRequestBody(kRequestComplete)) || !Flush()) {
        return false;
      }
      if (!keep_connection_) return false;
      request_id_ = 0;
      parameter_bytes_.clear();
      continue;
    }
    if (record.type != kParams) continue;
    if (!record.content.empty()) {
      if (!AddParameters(record.content)) return false;
      continue;
    }
    body_ended_ = false;
    error_written_ = false;
    pending_body_.clear();
    pending_at_ = 0;
    const bool parsed = ParsePairs(parameter_bytes_, parameters_);
    parameter_bytes_.clear();
    parameter_bytes_.shrink_to_fit();
    if (!parsed) broken_ = true;
    return parsed;
  }
  return false;
}

long FastCgiConnection::ReadBody(char* buffer, std::size_t count) {
  Record record;
  while (pending_at_ == pending_body_.size() && !body_ended_) {
    if (!ReadRecord(record)) return -1;
    if (record.request_id != request_id_) {
      if (!AnswerOtherRecord(record)) return -1;
      continue;
    }
    if (record.type == kAbortRequest) {
      // The server sends nothing more of this request.
      body_ended_ = true;
      return -1;
    }
    if (record.type != kStdin) continue;
    body_ended_ = record.content.empty();
    pending_body_.swap(record.content);
    pending_at_ = 0;
  }
  const std::size_t take = std::min(count, pending_body_.size() - pending_at_);
  std::copy_n(pending_body_.data() + pending_at_, take, buffer);
  pending_at_ += take;
  return static_cast<long>(take);
}

bool FastCgiConnection::Append(std::uint8_t type, std::uint16_t request_id,
                               std::string_view content) {
  const std::size_t padding = (8 - content.size() % 8) % 8;
  const char header[kHeaderSize] = {static_cast<char>(kVersion),
                                    static_cast<char>(type),
                                    static_cast<char>(request_id >> 8),
                                    static_cast<char>(request_id & 0xff),
                                    static_cast<char>(content.size() >> 8),
                                    static_cast<char>(content.size() & 0xff),
                                    static_cast<char>(padding),
                                    0};
  outgoing_.append(header, kHeaderSize).append(content).append(padding, '\0');
  return outgoing_.size() < kSendAbove || Flush();
}

bool FastCgiConnection::AppendStream(std::uint8_t type, std::string_view data) {
  while (!data.empty() && !broken_) {
    const std::string_view chunk = data.substr(0, kMostContent);
    if (!Append(type, request_id_, chunk)) return false;
    data.remove_prefix(chunk.size());
  }
  return !broken_;
}

bool FastCgiConnection::WriteOutput(std::string_view data) { return AppendStream(kStdout, data); }

bool FastCgiConnection::WriteError(std::string_view data) {
  error_written_ = error_written_ || !data.empty();
  return AppendStream(kStderr, data);
}

bool FastCgiConnection::Flush() {
  std::size_t done = 0;
  while (done < outgoing_.size() && !broken_) {
    // Never blocking in send: a server that takes none of the reply is waited for only as
    // long as the idle bound allows.
    const ssize_t put =
        ::send(fd_, outgoing_.data() + done, outgoing_.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
    } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
      broken_ = true;
    } else {
      WaitFor(POLLOUT);
    }
  }
  outgoing_.clear();
  if (outgoing_.capacity() > kSendAbove * 2) outgoing_.shrink_to_fit();
  return !broken_;
}

bool FastCgiConnection::EndRequest() {
  Append(kStdout, request_id_, {});
  if (error_written_) Append(kStderr, request_id_, {});
  Append(kEndRequest, request_id_, EndRequestBody(kRequestComplete));
  const bool sent = Flush();
  // The rest of a body that was not read is taken and dropped: closing the connection
  // with bytes unread would reset it and could lose the reply on the server's side.
  char rest[4096];
  while (sent && !body_ended_ && ReadBody(rest, sizeof rest) > 0) {
  }
  pending_body_.clear();
  pending_body_.shrink_to_fit();
  request_id_ = 0;
  return sent && keep_connection_;
}

}  // namespace orvane::platform::posix
