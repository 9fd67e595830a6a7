// The error classes of the whole program. Every error carries a message (Shift_JIS
// bytes) and reports the name of its class, which the last-resort reply prints; some
// also carry a detail for the operator's log alone.
#pragma once

#include <string>
#include <utility>

namespace orvane {

class Exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  Exception(std::string message, std::string detail)
      : message_(std::move(message)), detail_(std::move(detail)) {}
  virtual ~Exception() = default;
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;

  const std::string& Message() const { return message_; }
  // What the log line adds to a message that does not say it (the file and the system's
  // reason of a write error); empty for most errors. The reply never shows it.
  const std::string& Detail() const { return detail_; }
  virtual const char* ClassName() const { return "Exception"; }

 private:
  std::string message_;
  std::string detail_;
};

// Declares an error class that differs from its base only in its name.
#define ORVANE_DECLARE_EXCEPTION(Name, Base)                 \
  class Name : public Base {                                 \
   public:                                                   \
    using Base::Base;                                        \
    const char* ClassName() const override { return #Name; } \
  }

ORVANE_DECLARE_EXCEPTION(EOutOfMemory, Exception);
ORVANE_DECLARE_EXCEPTION(EConvertError, Exception);
ORVANE_DECLARE_EXCEPTION(EStreamError, Exception);
ORVANE_DECLARE_EXCEPTION(EWriteError, EStreamError);
ORVANE_DECLARE_EXCEPTION(EReadError, EStreamError);

// A file-system error with the system's error code. IsSharingViolation tells a
// conflict with another process's open (retryable) from every other failure.
class EOSFileError : public EStreamError {
 public:
  EOSFileError(std::string message, int error_code, bool sharing_violation)
      : EStreamError(std::move(message)),
        error_code_(error_code),
        sharing_violation_(sharing_violation) {}
  const char* ClassName() const override { return "EOSFileError"; }
  int ErrorCode() const { return error_code_; }
  bool IsSharingViolation() const { return sharing_violation_; }

 private:
  int error_code_;
  bool sharing_violation_;
};

ORVANE_DECLARE_EXCEPTION(EFOpenError, EOSFileError);    // a file could not be opened for reading
ORVANE_DECLARE_EXCEPTION(EFCreateError, EOSFileError);  // a file could not be created or rewritten
ORVANE_DECLARE_EXCEPTION(EInOutError, EOSFileError);    // reading or rewriting an open file failed

}  // namespace orvane
