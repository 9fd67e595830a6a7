// The process state a CGI request reads, set up in-process for the fuzz targets: the
// environment is replaced for every input, standard input is an in-memory file holding
// the body and standard output goes to the null device.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "host/cgi_request.h"

namespace orvane::fuzz {

// A declared length above this is not run: the request reserves the declared length at
// once, which a fuzzer's allocation limit would report although the memory is never used.
inline constexpr std::int32_t kLargestDeclaredLength = 1 << 24;

class CgiProcess {
 public:
  CgiProcess() {
    const int body = memfd_create("body", 0);
    const int null = open("/dev/null", O_WRONLY);
    if (body < 0 || null < 0 || dup2(body, 0) < 0 || dup2(null, 1) < 0) std::abort();
    close(body);
    close(null);
  }

  void ClearEnvironment() { clearenv(); }
  // False for a name the environment cannot hold.
  bool Set(std::string_view name, std::string_view value) {
    if (name.empty() || name.find_first_of("=\0", 0, 2) != std::string_view::npos ||
        value.find('\0') != std::string_view::npos) {
      return false;
    }
    return setenv(std::string(name).c_str(), std::string(value).c_str(), 1) == 0;
  }

  // Standard input holds exactly the body, read from its start.
  void SetBody(std::string_view body) {
    if (ftruncate(0, 0) != 0 || lseek(0, 0, SEEK_SET) != 0) std::abort();
    for (std::size_t done = 0; done < body.size();) {
      const ssize_t wrote = write(0, body.data() + done, body.size() - done);
      if (wrote <= 0) std::abort();
      done += static_cast<std::size_t>(wrote);
    }
    if (lseek(0, 0, SEEK_SET) != 0) std::abort();
  }

  // Whether the declared length, under either name, stays within kLargestDeclaredLength.
  static bool DeclaredLengthIsModest() {
    for (const char* name : {"CONTENT_LENGTH", "HTTP_CONTENT_LENGTH"}) {
      const char* value = getenv(name);
      if (value != nullptr && RequestVariableInteger(value) > kLargestDeclaredLength) return false;
    }
    return true;
  }
};

}  // namespace orvane::fuzz
