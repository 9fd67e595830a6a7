// Standard input and output as binary byte channels.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix/request_channels.h"

namespace orvane::platform {
namespace {

// A web server may hand over non-blocking pipes: "not ready yet" means wait, not fail.
bool WaitUntilReady(int fd, short events) {
  if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
  struct pollfd ready {};
  ready.fd = fd;
  ready.events = events;
  while (::poll(&ready, 1, -1) < 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

void PrepareStandardChannels() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null_fd = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null_fd >= 0 && null_fd != fd) {
      ::dup2(null_fd, fd);
      ::close(null_fd);
    }
  }
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  sigaction(SIGPIPE, &action, nullptr);
}

long ReadStdin(char* buffer, std::size_t count) {
  if (posix::RequestChannels* request = posix::ActiveRequestChannels()) {
    return request->Read(buffer, count);
  }
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, buffer, count);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR && !WaitUntilReady(STDIN_FILENO, POLLIN)) return -1;
  }
}

long WriteStdout(const char* data, std::size_t count) {
  if (posix::RequestChannels* request = posix::ActiveRequestChannels()) {
    return request->Write(data, count);
  }
  std::size_t done = 0;
  while (done < count) {
    const ssize_t put = ::write(STDOUT_FILENO, data + done, count - done);
    if (put < 0) {
      if (errno == EINTR || WaitUntilReady(STDOUT_FILENO, POLLOUT)) continue;
      return -1;
    }
    done += static_cast<std::size_t>(put);
  }
  return static_cast<long>(done);
}

void WriteStderr(std::string_view text) {
  if (posix::RequestChannels* request = posix::ActiveRequestChannels()) {
    request->WriteError(text);
    return;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (put <= 0 && errno != EINTR) return;
    if (put > 0) done += static_cast<std::size_t>(put);
  }
}

}  // namespace orvane::platform
