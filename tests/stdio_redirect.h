// Test helpers that point the process's standard input or output at a temporary file
// for the lifetime of an object, so CGI input and output can be checked in-process.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orvane::testing {

// Replaces file descriptor fd with a temporary file; the destructor puts it back.
class FdRedirect {
 public:
  explicit FdRedirect(int fd) : fd_(fd), file_(std::tmpfile()) {
    if (file_ == nullptr) throw std::runtime_error("tmpfile failed");
    std::fflush(stdout);
    saved_ = ::dup(fd_);
    ::dup2(::fileno(file_), fd_);
  }
  ~FdRedirect() {
    Restore();
    std::fclose(file_);
  }
  FdRedirect(const FdRedirect&) = delete;
  FdRedirect& operator=(const FdRedirect&) = delete;

  void Restore() {
    if (saved_ < 0) return;
    ::dup2(saved_, fd_);
    ::close(saved_);
    saved_ = -1;
  }
  int FileDescriptor() const { return ::fileno(file_); }

 protected:
  int fd_;
  std::FILE* file_;
  int saved_ = -1;
};

// Standard input reads the given bytes, then ends.
class StdinBytes : public FdRedirect {
 public:
  explicit StdinBytes(std::string_view bytes) : FdRedirect(STDIN_FILENO) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t put = ::write(FileDescriptor(), bytes.data() + done, bytes.size() - done);
      if (put <= 0) throw std::runtime_error("write failed");
      done += static_cast<std::size_t>(put);
    }
    ::lseek(FileDescriptor(), 0, SEEK_SET);
  }
  // How many bytes have been taken from standard input so far.
  long Consumed() const { return static_cast<long>(::lseek(FileDescriptor(), 0, SEEK_CUR)); }
};

// Collects what is written to a descriptor; Take restores it and returns the bytes.
class FdCapture : public FdRedirect {
 public:
  explicit FdCapture(int fd) : FdRedirect(fd) {}
  std::string Take() {
    Restore();
    std::string bytes;
    ::lseek(FileDescriptor(), 0, SEEK_SET);
    char piece[4096];
    ssize_t got;
    while ((got = ::read(FileDescriptor(), piece, sizeof piece)) > 0) bytes.append(piece, got);
    return bytes;
  }
};

class StdoutCapture : public FdCapture {
 public:
  StdoutCapture() : FdCapture(STDOUT_FILENO) {}
};

class StderrCapture : public FdCapture {
 public:
  StderrCapture() : FdCapture(STDERR_FILENO) {}
};

// Bytes shown with control and non-ASCII bytes escaped, for failure messages.
inline std::string Escaped(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '\r')
      text += "\\r";
    else if (c == '\n')
      text += "\\n";
    else if (b < 0x20 || b >= 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      text += hex;
    } else {
      text += c;
    }
  }
  return text;
}

}  // namespace orvane::testing
