// A persistent responder over FastCGI: the same request cycle, many requests per process.
#include <fcgiapp.h>
#include <malloc.h>
#include <signal.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <string>

#include "platform/platform.h"
#include "platform/posix/request_channels.h"

namespace orvane::platform {
namespace {

// A process manager hands the listening socket over as standard input.
constexpr int kStandardInputSocket = 0;
constexpr int kListenBacklog = 128;
constexpr std::size_t kTrimAbove = std::size_t{1} << 20;

volatile std::sig_atomic_t g_stop_requested = 0;

// Ends the accept loop; an accept under way returns at once (no SA_RESTART). A request
// under way is never cut short: the signals are blocked while one is answered.
void RequestStop(int) {
  g_stop_requested = 1;
  FCGX_ShutdownPending();
}

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
  explicit FastCgiChannels(FCGX_Request& request) : request_(request) {}

  std::optional<std::string> Parameter(const std::string& name) const override {
    const char* value = FCGX_GetParam(name.c_str(), request_.envp);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  }

  // A server that went away mid-body ends the body early, as a closed pipe does in CGI.
  long Read(char* buffer, std::size_t count) override {
    const int wanted = static_cast<int>(std::min<std::size_t>(count, INT_MAX));
    const int got = FCGX_GetStr(buffer, wanted, request_.in);
    if (got <= 0 && FCGX_GetError(request_.in) != 0) return -1;
    return got;
  }

  long Write(const char* data, std::size_t count) override {
    return PutAll(data, count, request_.out);
  }

  void WriteError(std::string_view text) override {
    PutAll(text.data(), text.size(), request_.err);
  }

 private:
  static long PutAll(const char* data, std::size_t count, FCGX_Stream* stream) {
    std::size_t done = 0;
    while (done < count) {
      const int chunk = static_cast<int>(std::min<std::size_t>(count - done, INT_MAX));
      if (FCGX_PutStr(data + done, chunk, stream) != chunk) return -1;
      done += static_cast<std::size_t>(chunk);
    }
    return static_cast<long>(done);
  }

  FCGX_Request& request_;
};

int ListeningSocket(const std::string& address) {
  if (address.empty()) return kStandardInputSocket;
  return FCGX_OpenSocket(address.c_str(), kListenBacklog);
}

// The request's channels are in place exactly while it is answered; the reply is sent and
// the connection let go before the next request is waited for.
void AnswerRequest(FCGX_Request& request, const std::function<void()>& serve_one) {
  FastCgiChannels channels(request);
  posix::SetActiveRequestChannels(&channels);
  serve_one();
  posix::SetActiveRequestChannels(nullptr);
  FCGX_Finish_r(&request);
  // Memory a large request freed inside the heap goes back to the system, so that an idle
  // process stays small; a small request's few free bytes are kept for the next one.
  if (mallinfo2().fordblks > kTrimAbove) malloc_trim(0);
}

}  // namespace

bool StartedAsFastCgiResponder() { return FCGX_IsCGI() == 0; }

bool CanServeFastCgi() { return true; }

int ServeFastCgi(const std::string& address, long max_requests,
                 const std::function<void()>& serve_one) {
  const int socket = FCGX_Init() == 0 ? ListeningSocket(address) : -1;
  if (socket < 0) {
    WriteStderr("orvanegate: cannot listen on " + address + "\n");
    return 1;
  }
  PrepareStandardChannels();
  InstallStopHandlers();
  const sigset_t stop_signals = StopSignals();
  FCGX_Request request;
  FCGX_InitRequest(&request, socket, 0);
  for (long served = 0; max_requests <= 0 || served < max_requests; ++served) {
    if (g_stop_requested || FCGX_Accept_r(&request) < 0) break;
    sigprocmask(SIG_BLOCK, &stop_signals, nullptr);
    AnswerRequest(request, serve_one);
    sigprocmask(SIG_UNBLOCK, &stop_signals, nullptr);
  }
  FCGX_Finish_r(&request);
  return 0;
}

}  // namespace orvane::platform
