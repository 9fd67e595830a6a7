// The last-resort reply: a status-500 header block and page written straight to
// standard output when the request cycle itself failed.
#pragma once

#include <exception>
#include <string>

namespace orvane {

struct TExceptionReport {
  std::string ClassName;
  std::string Message;  // empty for an object that is not an Exception
};

TExceptionReport DescribeException(std::exception_ptr error);
// The header block and the page, as bytes.
std::string ServerErrorReply(const TExceptionReport& report);
// Writes the reply unbuffered; a failed write is ignored.
void WriteServerErrorPage(std::exception_ptr error);

}  // namespace orvane
