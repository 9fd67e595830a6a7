#include "host/cgi_request.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <thread>

#include "exact_bytes.h"
#include "host/byte_buffer.h"
#include "platform/exception.h"
#include "stdio_redirect.h"

// Lets the sanitizer hand back a failed allocation instead of stopping the test.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace orvane {
namespace {

using testing::ExactBytes;

using testing::Escaped;
using testing::StdinBytes;
using testing::StdoutCapture;

constexpr const char* kVariableNames[] = {"REQUEST_METHOD",
                                          "SERVER_PROTOCOL",
                                          "URL",
                                          "QUERY_STRING",
                                          "PATH_INFO",
                                          "PATH_TRANSLATED",
                                          "HTTP_CACHE_CONTROL",
                                          "HTTP_DATE",
                                          "HTTP_ACCEPT",
                                          "HTTP_FROM",
                                          "HTTP_HOST",
                                          "HTTP_IF_MODIFIED_SINCE",
                                          "HTTP_REFERER",
                                          "HTTP_USER_AGENT",
                                          "HTTP_CONTENT_ENCODING",
                                          "CONTENT_TYPE",
                                          "CONTENT_LENGTH",
                                          "HTTP_CONTENT_VERSION",
                                          "HTTP_DERIVED_FROM",
                                          "HTTP_EXPIRES",
                                          "HTTP_TITLE",
                                          "REMOTE_ADDR",
                                          "REMOTE_HOST",
                                          "SCRIPT_NAME",
                                          "SERVER_PORT",
                                          "",
                                          "HTTP_CONNECTION",
                                          "HTTP_COOKIE",
                                          "HTTP_AUTHORIZATION"};

// Every request variable and its fallback name starts unset.
class CgiRequestTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearEnvironment(); }
  void TearDown() override { ClearEnvironment(); }

  static void ClearEnvironment() {
    for (const std::string name : kVariableNames) {
      if (name.empty()) continue;
      unsetenv(name.c_str());
      unsetenv(name.starts_with("HTTP_") ? name.substr(5).c_str() : ("HTTP_" + name).c_str());
    }
    unsetenv("http_accept");
    unsetenv("HTTP_http_accept");
    unsetenv("accept");
  }
  static void Set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }
};

TEST_F(CgiRequestTest, WithoutContentLengthNothingIsReadFromStandardInput) {
  StdinBytes input("unread body");
  TCGIRequest request;
  EXPECT_EQ(request.GetIntegerVariable(rvContentLength), -1);
  EXPECT_EQ(request.ContentView(), "");
  EXPECT_EQ(request.GetStringVariable(rvContent), "");
  EXPECT_EQ(input.Consumed(), 0);
}

TEST_F(CgiRequestTest, MalformedOrNegativeContentLengthReadsNoBody) {
  for (const char* length : {"12 ", "1 2", "abc", "-5", "0", "99999999999"}) {
    SCOPED_TRACE(length);
    Set("CONTENT_LENGTH", length);
    StdinBytes input("unread body");
    TCGIRequest request;
    EXPECT_EQ(request.ContentView(), "");
    EXPECT_EQ(input.Consumed(), 0);
  }
}

TEST_F(CgiRequestTest, ShortBodyIsKeptAndLaterReadsAreEmpty) {
  Set("CONTENT_LENGTH", "12");
  StdinBytes input("12345");
  TCGIRequest request;
  EXPECT_EQ(request.ContentView(), "12345");
  EXPECT_EQ(request.GetIntegerVariable(rvContentLength), 12);
  EXPECT_EQ(request.ReadString(7), "");
  EXPECT_EQ(request.ReadString(7), "");
}

TEST_F(CgiRequestTest, BodyWithNulAndCrLfIsReadByteForByteUpToTheDeclaredLength) {
  const std::string body("a\0b\r\n\r\nc\r\0\n\xFF\x5C", 14);
  const std::string rest("\r\nrest\0", 7);
  Set("CONTENT_LENGTH", std::to_string(body.size()));
  StdinBytes input(body + rest);
  TCGIRequest request;
  EXPECT_EQ(Escaped(request.ContentView()), Escaped(body));
  EXPECT_EQ(request.GetStringVariable(rvContent), body);
  EXPECT_EQ(request.ContentView().data(), request.ContentView().data());
  EXPECT_EQ(input.Consumed(), static_cast<long>(body.size()));
  EXPECT_EQ(request.ReadString(3), "\r\nr");
  EXPECT_EQ(request.ReadString(100), std::string("est\0", 4));
  EXPECT_EQ(request.ReadString(100), "");
  EXPECT_EQ(request.ReadString(0), "");
  request.ReleaseContent();  // the body is gone, the variables stay
  EXPECT_EQ(request.ContentView(), "");
  EXPECT_EQ(request.GetStringVariable(rvContent), "");
  EXPECT_EQ(request.GetIntegerVariable(rvContentLength), 14);
  EXPECT_EQ(request.ReadString(-1), "");
}

TEST_F(CgiRequestTest, LargeBodyArrivesWholeAndTheRestThroughReadString) {
  const std::size_t size = 24u << 20;
  std::string body(size + 300000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 131 + (i >> 13));
  Set("CONTENT_LENGTH", std::to_string(size));
  StdinBytes input(body);
  TCGIRequest request;
  ASSERT_EQ(request.ContentView().size(), size);
  EXPECT_TRUE(request.ContentView() == std::string_view(body).substr(0, size));
  // The rest is larger than the first piece of ReadString's growing buffer.
  const std::string rest = request.ReadString(INT32_MAX);
  EXPECT_TRUE(rest == std::string_view(body).substr(size));
}

TEST_F(CgiRequestTest, HugeDeclaredLengthWithAShortBodyKeepsWhatArrived) {
  Set("CONTENT_LENGTH", "2147483647");
  StdinBytes input("hello");
  TCGIRequest request;
  EXPECT_EQ(request.ContentView(), "hello");
  EXPECT_EQ(request.ReadString(INT32_MAX - 5), "");
}

TEST_F(CgiRequestTest, NonBlockingInputWaitsForALateBody) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ASSERT_EQ(::fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
  const int saved = ::dup(STDIN_FILENO);
  ::dup2(ends[0], STDIN_FILENO);
  ::close(ends[0]);
  std::thread late([fd = ends[1]] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(::write(fd, "hello", 5), 5);
    ::close(fd);
  });
  Set("CONTENT_LENGTH", "5");
  const std::string content(TCGIRequest().ContentView());
  late.join();
  ::dup2(saved, STDIN_FILENO);
  ::close(saved);
  EXPECT_EQ(content, "hello");
}

TEST(ByteBuffer, RoomThatCannotBeReservedRaisesOutOfMemory) {
  try {
    TByteBuffer::Allocate(SIZE_MAX / 2);
    ADD_FAILURE() << "no error";
  } catch (const EOutOfMemory& error) {
    EXPECT_STREQ(error.ClassName(), "EOutOfMemory");
    EXPECT_NE(error.Message().find("Out of memory"), std::string::npos);
  }
  TByteBuffer buffer = TByteBuffer::Allocate(3);
  buffer.SetSize(10);
  EXPECT_EQ(buffer.Size(), 3u);
}

TEST(RequestVariableInteger, ValidityRules) {
  const struct {
    std::string text;
    std::int32_t expected;
  } cases[] = {
      {"42", 42},
      {" 42", 42},
      {"   -42", -42},
      {"+42", 42},
      {"0", 0},
      {"-0", 0},
      {"000000000000000042", 42},
      {"$2A", 42},
      {"$2a", 42},
      {"x2A", 42},
      {"X2a", 42},
      {"0x2A", 42},
      {"0X2a", 42},
      {"-$2A", -42},
      {" +0x10", 16},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"$7FFFFFFF", INT32_MAX},
      {"-$80000000", INT32_MIN},
      {"2147483648", -1},
      {"-2147483649", -1},
      {"$80000000", -1},
      {"$FFFFFFFF", -1},
      {"99999999999999999999", -1},
      {"", -1},
      {" ", -1},
      {"+", -1},
      {"-", -1},
      {"$", -1},
      {"0x", -1},
      {"x", -1},
      {"42 ", -1},
      {"4 2", -1},
      {"- 4", -1},
      {"+-4", -1},
      {"\t42", -1},
      {"$-1", -1},
      {"0x0x1", -1},
      {"$G", -1},
      {"1e3", -1},
      {"0b1", -1},
      {"4.0", -1},
      {"\xEF\xBC\x94", -1},
      {std::string("4\0", 2), -1},
      {"0x2A ", -1},
      {"00x2A", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("[").append(Escaped(c.text)).append("]"));
    // Parsing stops at the text's end: an over-read of the exact copy would be reported.
    const ExactBytes exact(c.text);
    EXPECT_EQ(RequestVariableInteger(exact.View()), c.expected);
  }
}

// A client header reaches the gate as an HTTP_ variable: it never stands in for the
// server's own length, type or path, whichever name is asked for.
TEST_F(CgiRequestTest, ServerOnlyVariablesIgnoreTheirHttpCopies) {
  const struct {
    int index;
    const char* server;
    const char* client;
  } cases[] = {
      {rvContentLength, "CONTENT_LENGTH", "HTTP_CONTENT_LENGTH"},
      {rvContentType, "CONTENT_TYPE", "HTTP_CONTENT_TYPE"},
      {rvPathInfo, "PATH_INFO", "HTTP_PATH_INFO"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server);
    ClearEnvironment();
    Set(c.client, "9");
    StdinBytes input(std::string(50, 'z'));
    TCGIRequest alone;
    EXPECT_EQ(alone.GetStringVariable(c.index), "");
    EXPECT_EQ(alone.GetHeaderField(c.server), "");
    EXPECT_EQ(alone.GetHeaderField(c.client), "");
    EXPECT_EQ(input.Consumed(), 0);
    Set(c.server, "4");
    TCGIRequest both;
    EXPECT_EQ(both.GetStringVariable(c.index), "4");
    EXPECT_EQ(both.GetHeaderField(c.client), "4");
  }
}

TEST_F(CgiRequestTest, ContentLengthIsTheServersEvenWhenAClientCopyIsSet) {
  Set("CONTENT_LENGTH", " 42");
  EXPECT_EQ(TCGIRequest().GetIntegerVariable(rvContentLength), 42);
  Set("HTTP_CONTENT_LENGTH", "");
  EXPECT_EQ(TCGIRequest().GetIntegerVariable(rvContentLength), 42);
  Set("HTTP_CONTENT_LENGTH", "$2A");
  Set("CONTENT_LENGTH", "7");
  StdinBytes input(std::string(50, 'z'));
  TCGIRequest request;
  EXPECT_EQ(request.ContentView().size(), 7u);
  EXPECT_EQ(request.GetIntegerVariable(rvContentLength), 7);
}

TEST_F(CgiRequestTest, MethodTypeIgnoresAsciiCaseOnly) {
  const struct {
    const char* method;
    TMethodType expected;
  } cases[] = {{"post", mtPost}, {"GET", mtGet},   {"gEt", mtGet},
               {"PUT", mtPut},   {"Head", mtHead}, {"DELETE", mtAny},
               {"", mtAny},      {"POST ", mtAny}, {"POS", mtAny}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method);
    Set("REQUEST_METHOD", c.method);
    EXPECT_EQ(TCGIRequest().MethodType(), c.expected);
  }
  unsetenv("REQUEST_METHOD");
  EXPECT_EQ(TCGIRequest().MethodType(), mtAny);
  Set("HTTP_REQUEST_METHOD", "put");
  EXPECT_EQ(TCGIRequest().MethodType(), mtPut);
}

TEST_F(CgiRequestTest, HeaderFieldFallsBackBetweenHttpAndPlainNames) {
  TCGIRequest request;
  Set("CONTENT_ENCODING", "gzip");
  EXPECT_EQ(request.GetStringVariable(rvContentEncoding), "gzip");
  Set("HTTP_CONTENT_ENCODING", "br");
  EXPECT_EQ(request.GetStringVariable(rvContentEncoding), "br");
  Set("REFERER", "http://r/");
  EXPECT_EQ(request.GetStringVariable(rvReferer), "http://r/");
  Set("HTTP_QUERY_STRING", "a=1");
  EXPECT_EQ(request.GetStringVariable(rvQuery), "a=1");
  Set("QUERY_STRING", "b=2");
  EXPECT_EQ(request.GetStringVariable(rvQuery), "b=2");
  // The prefix test is case-sensitive: a lower-case name gets "HTTP_" put in front.
  Set("accept", "wrong");
  Set("HTTP_http_accept", "right");
  EXPECT_EQ(request.GetHeaderField("http_accept"), "right");
  Set("http_accept", "own");
  EXPECT_EQ(request.GetHeaderField("http_accept"), "own");
}

TEST_F(CgiRequestTest, EveryIndexReadsItsEnvironmentVariable) {
  for (int index = 0; index <= 28; ++index) {
    if (index == rvContent) continue;
    Set(kVariableNames[index], std::string("v").append(std::to_string(index)));
  }
  TCGIRequest request;
  for (int index = 0; index <= 28; ++index) {
    if (index == rvContent) continue;
    SCOPED_TRACE(index);
    EXPECT_EQ(request.GetStringVariable(index), "v" + std::to_string(index));
  }
  for (const int index : {-1, 29, 1000}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(request.GetStringVariable(index), "");
    EXPECT_EQ(request.GetIntegerVariable(index), -1);
    EXPECT_EQ(request.GetDateVariable(index), -1);
  }
  EXPECT_EQ(request.GetDispatchPathInfo(), "v4");
  EXPECT_EQ(request.GetDispatchScriptName(), "v23");
}

TEST_F(CgiRequestTest, DateViewReadsHttpDatesAndPassesErrorsOn) {
  TCGIRequest request;
  EXPECT_EQ(request.GetDateVariable(rvIfModifiedSince), -1);
  Set("HTTP_IF_MODIFIED_SINCE", "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_NEAR(request.GetDateVariable(rvIfModifiedSince), 34644 + 31777 / 86400.0, 1e-9);
  Set("HTTP_DATE", "yesterday");
  EXPECT_THROW(request.GetDateVariable(rvDate), EConvertError);
}

TEST_F(CgiRequestTest, MapUriToPathReplacesTheMatchingPathInfoTail) {
  const struct {
    const char* translated;
    const char* path_info;
    const char* expected;
  } cases[] = {
      {"/srv/site/extra/path", "/extra/path", "/srv/site/img/a.gif"},
      {"/srv/site/extra/path", "/Extra/path", "/img/a.gif"},
      {"/srv/site/extra/path", "", "/srv/site/extra/path/img/a.gif"},
      {"", "/extra/path", "/img/a.gif"},
      {"/x", "/longer/than/x", "/img/a.gif"},
      {"C:\\site\\extra", "\\extra", "C:\\site/img/a.gif"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.translated) + " | " + c.path_info);
    Set("PATH_TRANSLATED", c.translated);
    Set("PATH_INFO", c.path_info);
    EXPECT_EQ(TCGIRequest().MapUriToPath("/img/a.gif"), c.expected);
  }
}

TEST_F(CgiRequestTest, WritesGoToStandardOutputUnchanged) {
  TCGIRequest request;
  StdoutCapture output;
  const bool headers_written = request.WriteHeaders(200, "200 OK", "Content-Type: text/html\r\n");
  const bool empty_written = request.WriteString("");
  const std::int32_t bytes_written = request.WriteBytes("\0\r\n\x80", 4);
  const std::int32_t negative = request.WriteBytes("x", -1);
  const std::string bytes = output.Take();
  EXPECT_TRUE(headers_written);
  EXPECT_FALSE(empty_written);
  EXPECT_EQ(bytes_written, 4);
  EXPECT_EQ(negative, -1);
  EXPECT_EQ(Escaped(bytes),
            Escaped(std::string("Status: 200 OK\r\nContent-Type: text/html\r\n\0\r\n\x80", 45)));
}

TEST_F(CgiRequestTest, ReadBytesTakesOneReadFromStandardInput) {
  StdinBytes input(std::string("ab\0c", 4));
  TCGIRequest request;
  char buffer[8] = {};
  EXPECT_EQ(request.ReadBytes(buffer, 3), 3);
  EXPECT_EQ(std::string(buffer, 3), std::string("ab\0", 3));
  EXPECT_EQ(request.ReadBytes(buffer, 8), 1);
  EXPECT_EQ(request.ReadBytes(buffer, 8), 0);
  EXPECT_EQ(request.ReadBytes(buffer, -1), -1);
}

}  // namespace
}  // namespace orvane
