// The last-resort reply: a status-500 header block and page written straight to
// standard output when the request cycle itself failed.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace orvane {

class Exception;

struct TExceptionReport {
  std::string ClassName;
  std::string Message;      // empty for an object that is not an Exception
  std::string Detail = {};  // the log line's addition to the message (Exception::Detail)
};

TExceptionReport DescribeException(std::exception_ptr error);
TExceptionReport DescribeException(const Exception& error);
// The header block and the page, as bytes. The page quotes the class name and the
// message HTML-escaped: a message may carry request data, such as a path built from an id.
std::string ServerErrorReply(const TExceptionReport& report);
// Writes the reply unbuffered, and the operator's log line to standard error with the
// method and script name of the environment; a failed write is ignored.
void WriteServerErrorPage(std::exception_ptr error);

// The text with "&", "<", ">" and the double quote written as entities, for quoting
// text of unknown origin in a page.
std::string EscapeHtml(std::string_view text);

// The one line a failure leaves for the operator on standard error, which a CGI server
// puts in its error log: "orvanegate: ", what failed, the text, the request method and
// script name, ending in LF. Controls in the parts become spaces, so the line stays one
// line.
std::string RequestLogLine(std::string_view what, std::string_view text, std::string_view method,
                           std::string_view script_name);
// The line of an internal failure (status 500): class, message and detail.
std::string ServerErrorLogLine(const TExceptionReport& report, std::string_view method,
                               std::string_view script_name);
void LogServerError(const TExceptionReport& report, std::string_view method,
                    std::string_view script_name);

}  // namespace orvane
