// The FastCGI connection reading what a web server sends. The input is the byte stream of
// one connection, fed through a socket pair as a server would send it; every request the
// connection yields is answered as the gate answers one (its body read to the end, a
// short reply). What goes back must be whole records; every request whose body came whole
// must end with its closed output stream and its end record, and no request ends twice.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "platform/posix/fastcgi_connection.h"

namespace {

using orvane::fuzz::Check;

constexpr std::uint8_t kEndRequest = 3;
constexpr std::uint8_t kStdout = 6;
constexpr std::uint8_t kStderr = 7;

// The server's side: sends the input, then ends its half of the connection, while it
// takes every reply byte until the gate's side closes.
std::string ServerSide(int fd, std::string_view input) {
  std::string reply;
  bool sending = true;
  for (;;) {
    if (sending && input.empty()) {
      shutdown(fd, SHUT_WR);
      sending = false;
    }
    pollfd ready{fd, static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0};
    if (poll(&ready, 1, -1) < 0) continue;
    if (ready.revents & (POLLIN | POLLHUP | POLLERR)) {
      char buffer[65536];
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got <= 0) return reply;
      reply.append(buffer, static_cast<std::size_t>(got));
    } else if (sending && (ready.revents & POLLOUT)) {
      const ssize_t put = send(fd, input.data(), input.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (put < 0) sending = false;
      if (put > 0) input.remove_prefix(static_cast<std::size_t>(put));
    }
  }
}

struct Reply {
  std::uint8_t type;
  std::uint16_t request_id;
  std::string_view content;
};

std::uint32_t Byte(std::string_view data, std::size_t at) {
  return static_cast<unsigned char>(data[at]);
}

// The reply as records: version 1, content and padding within the bytes, zero padding.
std::vector<Reply> RecordsOf(std::string_view reply) {
  std::vector<Reply> records;
  while (!reply.empty()) {
    Check(reply.size() >= 8 && Byte(reply, 0) == 1, "a reply record has a whole header");
    const std::size_t length = (Byte(reply, 4) << 8) | Byte(reply, 5);
    const std::size_t padding = Byte(reply, 6);
    Check(reply.size() - 8 >= length + padding, "a reply record is whole");
    Check(reply.substr(8 + length, padding).find_first_not_of('\0') == std::string_view::npos,
          "padding is zero bytes");
    records.push_back({static_cast<std::uint8_t>(Byte(reply, 1)),
                       static_cast<std::uint16_t>((Byte(reply, 2) << 8) | Byte(reply, 3)),
                       reply.substr(8, length)});
    reply.remove_prefix(8 + length + padding);
  }
  return records;
}

// An empty output record is written only where a request ends: each is followed by the
// request's end record (after its empty error record, if it wrote errors).
std::size_t EndedRequests(const std::vector<Reply>& records) {
  std::size_t ended = 0;
  for (std::size_t at = 0; at < records.size(); ++at) {
    if (records[at].type != kStdout || !records[at].content.empty()) continue;
    std::size_t next = at + 1;
    if (next < records.size() && records[next].type == kStderr) ++next;
    Check(next < records.size() && records[next].type == kEndRequest &&
              records[next].request_id == records[at].request_id &&
              records[next].content.size() == 8 && records[next].content[4] == 0,
          "a closed output stream is followed by its request's end");
    ++ended;
  }
  return ended;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) std::abort();
  std::string reply;
  std::thread server([&] { reply = ServerSide(ends[1], orvane::fuzz::AsView(data, size)); });

  std::size_t answered = 0;
  std::size_t whole_bodies = 0;
  {
    orvane::platform::posix::FastCgiConnection connection(ends[0], 0);
    while (connection.NextRequest()) {
      std::size_t parameter_bytes = 0;
      for (const auto& [name, value] : connection.Parameters()) {
        parameter_bytes += name.size() + value.size();
      }
      Check(parameter_bytes <= orvane::platform::posix::kMostParameterBytes,
            "parameters stay within their bound");
      std::size_t body = 0;
      char buffer[4096];
      long got = 0;
      while ((got = connection.ReadBody(buffer, sizeof buffer)) > 0) {
        body += static_cast<std::size_t>(got);
      }
      Check(body <= size, "the body holds no more than was sent");
      // A body cut short by the server's going away leaves nobody to answer.
      if (got == 0) ++whole_bodies;
      connection.WriteOutput("Status: 200 OK\r\n\r\n");
      if (connection.Parameters().count("ERRORS") != 0) connection.WriteError("logged");
      ++answered;
      if (!connection.EndRequest()) break;
    }
  }  // closing the gate's side ends the server's
  server.join();
  close(ends[1]);
  const std::size_t ended = EndedRequests(RecordsOf(reply));
  Check(whole_bodies <= ended && ended <= answered, "every request answered is ended once");
  return 0;
}
