#include "host/server_error_page.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

#include "fake_web.h"
#include "host/web_dispatcher.h"

namespace orvane {
namespace {

using testing::FromHex;

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
