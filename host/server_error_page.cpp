#include "host/server_error_page.h"

#include <new>

#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane {
namespace {

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// A line break in the status text would end the header block early.
std::string StatusLineText(std::string message) {
  for (char& c : message) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return message;
}

void AppendWithoutControls(std::string& line, std::string_view text) {
  for (const char c : text) {
    line.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c);
  }
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        result.append("&amp;");
        break;
      case '<':
        result.append("&lt;");
        break;
      case '>':
        result.append("&gt;");
        break;
      case '"':
        result.append("&quot;");
        break;
      default:
        result.push_back(c);
    }
  }
  return result;
}

std::string RequestLogLine(std::string_view what, std::string_view text, std::string_view method,
                           std::string_view script_name) {
  std::string line = "orvanegate: ";
  AppendWithoutControls(line, what);
  line.append(": ");
  AppendWithoutControls(line, text);
  line.append(" (request: ");
  AppendWithoutControls(line, method);
  line.push_back(' ');
  AppendWithoutControls(line, script_name);
  line.append(")\n");
  return line;
}

std::string ServerErrorLogLine(const TExceptionReport& report, std::string_view method,
                               std::string_view script_name) {
  std::string text = report.ClassName + ": " + report.Message;
  if (!report.Detail.empty()) text.append(": ").append(report.Detail);
  return RequestLogLine("status 500", text, method, script_name);
}

void LogServerError(const TExceptionReport& report, std::string_view method,
                    std::string_view script_name) {
  platform::WriteStderr(ServerErrorLogLine(report, method, script_name));
}

TExceptionReport DescribeException(const Exception& error) {
  return {error.ClassName(), error.Message(), error.Detail()};
}

TExceptionReport DescribeException(std::exception_ptr error) {
  if (!error) return {"Exception", ""};
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    return DescribeException(e);
  } catch (const std::bad_alloc&) {
    return {"EOutOfMemory", ""};
  } catch (...) {
    return {"EExternalException", ""};
  }
}

std::string ServerErrorReply(const TExceptionReport& report) {
  const std::string page_template =
      "<html><head><title>Internal Server Error 500</title></head>\r\n"
      "<h1>Internal Server Error 500</h1><hr>\r\n"
      "<h1>サーバー内部エラー 500</h1><hr>\r\n"
      "Exception: %0:s<br>Message: %1:s<br><hr>例外 : %0:s<br>メッセージ : %1:s<br></html>\r\n";
  // The class name is substituted first: it never contains "%1:s", a message may hold "%0:s".
  const std::string page =
      ReplaceAll(ReplaceAll(page_template, "%0:s", EscapeHtml(report.ClassName)), "%1:s",
                 EscapeHtml(report.Message));
  return "Status: 500 " + StatusLineText(report.Message) +
         "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) +
         "\r\n\r\n" + page;
}

void WriteServerErrorPage(std::exception_ptr error) {
  const TExceptionReport report = DescribeException(error);
  const std::string reply = ServerErrorReply(report);
  platform::WriteStdout(reply.data(), reply.size());
  // The request object may be the part that failed, so the variables come straight from
  // the environment.
  LogServerError(report, platform::GetEnvironment("REQUEST_METHOD").value_or(""),
                 platform::GetEnvironment("SCRIPT_NAME").value_or(""));
}

}  // namespace orvane
