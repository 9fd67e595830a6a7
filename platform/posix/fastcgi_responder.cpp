// A persistent responder over FastCGI: the same request cycle, many requests per process.
#include <malloc.h>
#include <netdb.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/fastcgi_connection.h"
#include "platform/posix/request_channels.h"

namespace orvane::platform {
namespace {

// A process manager hands the listening socket over as standard input.
constexpr int kStandardInputSocket = 0;
constexpr int kListenBacklog = 128;
constexpr std::size_t kTrimAbove = std::size_t{1} << 20;
// ":PORT" alone listens here: only what runs on this machine may send requests, as each
// names its own client address.
constexpr char kLocalHost[] = "127.0.0.1";

volatile std::sig_atomic_t g_stop_requested = 0;

// Ends the accept loop; an accept or a wait for a request under way returns at once (no
// SA_RESTART). A request under way is never cut short: the signals are blocked while one
// is answered.
void RequestStop(int) { g_stop_requested = 1; }

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, signal_number);
  return signals;
}

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal_number, &action, nullptr);
}

// One request's parameters and streams, as the standard channels see them.
class FastCgiChannels : public posix::RequestChannels {
 public:
  explicit FastCgiChannels(posix::FastCgiConnection& connection) : connection_(connection) {}

  std::optional<std::string> Parameter(const std::string& name) const override {
    const auto found = connection_.Parameters().find(name);
    if (found == connection_.Parameters().end()) return std::nullopt;
    return found->second;
  }

  // A server that went away mid-body ends the body early, as a closed pipe does in CGI.
  long Read(char* buffer, std::size_t count) override {
    return connection_.ReadBody(buffer, count);
  }

  long Write(const char* data, std::size_t count) override {
    return connection_.WriteOutput({data, count}) ? static_cast<long>(count) : -1;
  }

  void WriteError(std::string_view text) override { connection_.WriteError(text); }

 private:
  posix::FastCgiConnection& connection_;
};

int Listen(int socket, const sockaddr* address, socklen_t length) {
  const int on = 1;
  if (socket < 0) return -1;
  if (address->sa_family != AF_UNIX) setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(socket, address, length) == 0 && listen(socket, kListenBacklog) == 0) return socket;
  ::close(socket);
  return -1;
}

int ListenOnPath(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, path.data(), path.size());
  ::unlink(path.c_str());
  return Listen(::socket(AF_UNIX, SOCK_STREAM, 0), reinterpret_cast<sockaddr*>(&address),
                sizeof address);
}

// "HOST:PORT" with a numeric host ("[::]:PORT" for IPv6; no names are looked up), or
// ":PORT" on this machine only.
int ListenOnPort(const std::string& host_and_port) {
  const std::size_t colon = host_and_port.rfind(':');
  std::string host = host_and_port.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (host.empty()) host = kLocalHost;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), host_and_port.c_str() + colon + 1, &hints, &found) != 0) {
    return -1;
  }
  const int socket =
      Listen(::socket(found->ai_family, SOCK_STREAM, 0), found->ai_addr, found->ai_addrlen);
  freeaddrinfo(found);
  return socket;
}

int ListeningSocket(const std::string& address) {
  if (address.empty()) return kStandardInputSocket;
  if (address.find(':') == std::string::npos || address.front() == '/') {
    return ListenOnPath(address);
  }
  return ListenOnPort(address);
}

// The request's channels are in place exactly while it is answered; the reply is sent
// before the next request is waited for. Whether the connection serves another.
bool AnswerRequest(posix::FastCgiConnection& connection, const std::function<void()>& serve_one) {
  FastCgiChannels channels(connection);
  posix::SetActiveRequestChannels(&channels);
  serve_one();
  posix::SetActiveRequestChannels(nullptr);
  const bool keep = connection.EndRequest();
  // Memory a large request freed inside the heap goes back to the system, so that an idle
  // process stays small; a small request's few free bytes are kept for the next one.
  if (mallinfo2().fordblks > kTrimAbove) malloc_trim(0);
  return keep;
}

}  // namespace

// A listening socket has no peer.
bool StartedAsFastCgiResponder() {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  return getpeername(kStandardInputSocket, reinterpret_cast<sockaddr*>(&peer), &length) != 0 &&
         errno == ENOTCONN;
}

bool CanServeFastCgi() { return true; }

int ServeFastCgi(const std::string& address, long max_requests, long idle_seconds,
                 const std::function<void()>& serve_one) {
  const int socket = ListeningSocket(address);
  if (socket < 0) {
    WriteStderr("orvanegate: cannot listen on " + address + "\n");
    return 1;
  }
  PrepareStandardChannels();
  InstallStopHandlers();
  const sigset_t stop_signals = StopSignals();
  const int idle_milliseconds = static_cast<int>(idle_seconds * 1000);
  long served = 0;
  while (!g_stop_requested && (max_requests <= 0 || served < max_requests)) {
    const int accepted = ::accept(socket, nullptr, nullptr);
    if (accepted < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      break;
    }
    posix::FastCgiConnection connection(accepted, idle_milliseconds);
    while (!g_stop_requested && (max_requests <= 0 || served < max_requests) &&
           connection.NextRequest()) {
      sigprocmask(SIG_BLOCK, &stop_signals, nullptr);
      ++served;
      const bool keep = AnswerRequest(connection, serve_one);
      sigprocmask(SIG_UNBLOCK, &stop_signals, nullptr);
      if (!keep) break;
    }
  }
  return 0;
}

}  // namespace orvane::platform
