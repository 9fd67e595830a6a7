#include "host/server_error_page.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

#include "fake_web.h"
#include "host/web_dispatcher.h"
#include "platform/exception.h"
#include "stdio_redirect.h"

namespace orvane {
namespace {

using testing::FromHex;
using namespace std::string_literals;

// The page's three fixed parts around the substitutions, in Shift_JIS.
const std::string kHead =
    "<html><head><title>Internal Server Error 500</title></head>\r\n"
    "<h1>Internal Server Error 500</h1><hr>\r\n<h1>" +
    FromHex("83 54 81 5b 83 6f 81 5b 93 e0 95 94 83 47 83 89 81 5b") +  // サーバー内部エラー
    " 500</h1><hr>\r\nException: ";
const std::string kException = FromHex("97 e1 8a 4f") + " : ";                  // 例外
const std::string kMessage = FromHex("83 81 83 62 83 5a 81 5b 83 57") + " : ";  // メッセージ

std::string ExpectedPage(const std::string& class_name, const std::string& message) {
  return kHead + class_name + "<br>Message: " + message + "<br><hr>" + kException + class_name +
         "<br>" + kMessage + message + "<br></html>\r\n";
}

TEST(ServerErrorReply, BytesForAMessage) {
  // Lengths computed independently: len(page.encode('cp932')).
  EXPECT_EQ(ServerErrorReply({"EWebHostException", "abc"}),
            "Status: 500 abc\r\nContent-Type: text/html\r\nContent-Length: 247\r\n\r\n" +
                ExpectedPage("EWebHostException", "abc"));
}

TEST(ServerErrorReply, EmptyMessageKeepsTheBlankAfterTheStatusCode) {
  EXPECT_EQ(ServerErrorReply({"Exception", ""}),
            "Status: 500 \r\nContent-Type: text/html\r\nContent-Length: 225\r\n\r\n" +
                ExpectedPage("Exception", ""));
}

TEST(ServerErrorReply, LineBreaksInTheMessageDoNotSplitTheHeaderBlock) {
  // The status line carries blanks in their place; the page keeps the message as it is.
  EXPECT_EQ(ServerErrorReply({"EFOpenError", "a\r\nb"}),
            "Status: 500 a  b\r\nContent-Type: text/html\r\nContent-Length: 237\r\n\r\n" +
                ExpectedPage("EFOpenError", "a\r\nb"));
  const std::string lone = ServerErrorReply({"E", "x\ny\rz"});
  EXPECT_EQ(lone.substr(0, lone.find("\r\n")), "Status: 500 x y z");
}

TEST(ServerErrorReply, PlaceholdersInsideTheMessageAreNotSubstitutedAgain) {
  const std::string reply = ServerErrorReply({"EX", "%0:s %1:s"});
  EXPECT_NE(reply.find("Message: %0:s %1:s<br>"), std::string::npos);
  EXPECT_NE(reply.find("Exception: EX<br>"), std::string::npos);
}

// A message may carry request data (a path built from an id): the page quotes it escaped.
TEST(ServerErrorReply, MarkupInTheMessageIsEscapedInThePage) {
  const struct {
    std::string message, quoted;
  } cases[] = {
      {"<svg onload=alert(6)>", "&lt;svg onload=alert(6)&gt;"},
      {"a&b \"c\"", "a&amp;b &quot;c&quot;"},
      {"\x81<x>", "\x81&lt;x&gt;"},
      {"\x82\xA0 plain", "\x82\xA0 plain"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const std::string reply = ServerErrorReply({"EFCreateError", c.message});
    const std::string page = ExpectedPage("EFCreateError", c.quoted);
    EXPECT_EQ(reply, "Status: 500 " + c.message +
                         "\r\nContent-Type: text/html\r\nContent-Length: " +
                         std::to_string(page.size()) + "\r\n\r\n" + page);
  }
}

TEST(ServerErrorLogLine, OneLineWithClassMessageMethodAndScript) {
  const struct {
    const char* label;
    TExceptionReport report;
    std::string method, script, expected;
  } cases[] = {
      {"file error",
       {"EFCreateError", "cannot create x"},
       "POST",
       "/cgi/orvanegate.exe",
       "orvanegate: status 500: EFCreateError: cannot create x "
       "(request: POST /cgi/orvanegate.exe)\n"},
      {"line breaks become blanks",
       {"E", "a\r\nb\nc"},
       "GET\n",
       "/s\r",
       "orvanegate: status 500: E: a  b c (request: GET  /s )\n"},
      {"controls and NUL become blanks",
       {"E\t", "x\0y\x7F"s},
       "",
       "",
       "orvanegate: status 500: E : x y  (request:  )\n"},
      {"Shift_JIS bytes pass",
       {"E", "\x83\x74\x83\x40"},
       "PUT",
       "/a",
       "orvanegate: status 500: E: \x83\x74\x83\x40 (request: PUT /a)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ServerErrorLogLine(c.report, c.method, c.script), c.expected);
  }
}

TEST(WriteServerErrorPage, WritesTheReplyAndOneLogLineWithTheRequestVariables) {
  ::setenv("REQUEST_METHOD", "POST", 1);
  ::setenv("SCRIPT_NAME", "/cgi/gate.exe", 1);
  testing::StdoutCapture out;
  testing::StderrCapture err;
  WriteServerErrorPage(std::make_exception_ptr(EFCreateError("<x>", 2, false)));
  const std::string logged = err.Take();
  const std::string written = out.Take();
  ::unsetenv("REQUEST_METHOD");
  ::unsetenv("SCRIPT_NAME");
  EXPECT_EQ(written, ServerErrorReply({"EFCreateError", "<x>"}));
  EXPECT_EQ(logged, "orvanegate: status 500: EFCreateError: <x> (request: POST /cgi/gate.exe)\n");
}

TEST(DescribeException, ClassNamesAndMessages) {
  struct Case {
    const char* label;
    std::exception_ptr error;
    TExceptionReport expected;
  };
  const Case cases[] = {
      {"own error", std::make_exception_ptr(EWebHostException("m")), {"EWebHostException", "m"}},
      {"file error", std::make_exception_ptr(EFOpenError("f", 2, false)), {"EFOpenError", "f"}},
      {"out of memory", std::make_exception_ptr(std::bad_alloc()), {"EOutOfMemory", ""}},
      {"standard error",
       std::make_exception_ptr(std::runtime_error("secret")),
       {"EExternalException", ""}},
      {"anything", std::make_exception_ptr(42), {"EExternalException", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const TExceptionReport report = DescribeException(c.error);
    EXPECT_EQ(report.ClassName, c.expected.ClassName);
    EXPECT_EQ(report.Message, c.expected.Message);
  }
}

}  // namespace
}  // namespace orvane
