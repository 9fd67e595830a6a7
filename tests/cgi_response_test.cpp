#include "host/cgi_response.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/cgi_request.h"
#include "host/cookie.h"
#include "host/memory_stream.h"
#include "stdio_redirect.h"

namespace orvane {
namespace {

using testing::Escaped;

// A request that records each write the response makes.
class RecordingRequest : public TWebRequest {
 public:
  explicit RecordingRequest(std::string protocol = "HTTP/1.1") : protocol_(std::move(protocol)) {}

  std::string GetStringVariable(int index) override {
    return index == rvProtocolVersion ? protocol_ : std::string();
  }
  double GetDateVariable(int) override { return -1; }
  std::int32_t GetIntegerVariable(int) override { return -1; }
  std::int32_t ReadBytes(char*, std::int32_t) override { return 0; }
  std::string ReadString(std::int32_t) override { return {}; }
  std::string MapUriToPath(const std::string& uri) override { return uri; }
  std::int32_t WriteBytes(const char* buffer, std::int32_t count) override {
    writes.emplace_back(buffer, static_cast<std::size_t>(count));
    return count;
  }
  bool WriteString(std::string_view text) override {
    if (text.empty()) return false;
    writes.emplace_back(text);
    return true;
  }
  bool WriteHeaders(int, const std::string& status_text, const std::string& headers) override {
    return WriteString("Status: " + status_text + "\r\n" + headers);
  }
  std::string GetHeaderField(const std::string&) override { return {}; }
  std::string_view ContentView() override { return {}; }

  std::string Output() const {
    std::string all;
    for (const std::string& write : writes) all += write;
    return all;
  }

  std::vector<std::string> writes;

 private:
  std::string protocol_;
};

// Expected and actual bytes, escaped, so a difference in CR LF or NUL is visible.
#define EXPECT_BYTES(actual, expected) EXPECT_EQ(Escaped(actual), Escaped(expected))

TEST(CgiResponse, FreshResponseWritesStatusContentTypeAndContentLineOnly) {
  RecordingRequest request;
  TCGIResponse response(request);
  EXPECT_FALSE(response.IsSent());
  response.SendResponse();
  EXPECT_TRUE(response.IsSent());
  ASSERT_EQ(request.writes.size(), 1u);
  EXPECT_BYTES(request.writes[0], "Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n");
  EXPECT_EQ(response.GetStringVariable(svVersion), "");
}

TEST(CgiResponse, EmptyProtocolWritesOnlyTheBody) {
  RecordingRequest request("");
  TCGIResponse response(request);
  EXPECT_EQ(response.GetStringVariable(svVersion), "1.0");
  response.SetStatusCode(404);
  response.SetStringVariable(svLocation, "/x");
  response.SetContent(std::string("body\0\r\n", 7));
  response.SendResponse();
  ASSERT_EQ(request.writes.size(), 1u);
  EXPECT_BYTES(request.writes[0], std::string("body\0\r\n", 7));
  EXPECT_TRUE(response.IsSent());
}

TEST(CgiResponse, UsualPageGoesOutInTwoWrites) {
  RecordingRequest request;
  TCGIResponse response(request);
  response.SetStringVariable(svContentType, "text/html");
  response.SetContent(std::string(1234, 'p'));
  response.SendResponse();
  ASSERT_EQ(request.writes.size(), 2u);
  EXPECT_BYTES(request.writes[0],
               "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 1234\r\n"
               "Content:\r\n\r\n");
  EXPECT_EQ(request.writes[1], std::string(1234, 'p'));
}

TEST(CgiResponse, StatusLineFollowsTheReasonTable) {
  const struct {
    int code;
    const char* status_line;
  } cases[] = {{404, "Status: 404 Not Found\r\n"},
               {299, "Status: 200 OK\r\n"},
               {500, "Status: 500 Internal Server Error\r\n"},
               {412, "Status: 412 Unless True\r\n"},
               {0, "Status: 200 OK\r\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    RecordingRequest request;
    TCGIResponse response(request);
    response.SetStatusCode(c.code);
    response.SendResponse();
    EXPECT_TRUE(request.Output().starts_with(c.status_line)) << Escaped(request.Output());
  }
}

TEST(CgiResponse, HandSetReasonSurvivesTheSameCodeOnly) {
  RecordingRequest request;
  TCGIResponse response(request);
  EXPECT_EQ(response.GetStatusCode(), 200);
  EXPECT_EQ(response.GetStringVariable(svReasonString), "OK");
  response.SetStringVariable(svReasonString, "Fine");
  response.SetStatusCode(200);
  EXPECT_EQ(response.GetStringVariable(svReasonString), "Fine");
  response.SetStatusCode(299);
  EXPECT_EQ(response.GetStringVariable(svReasonString), "");
  response.SetStringVariable(svReasonString, "Custom");
  response.SendResponse();
  EXPECT_TRUE(request.Output().starts_with("Status: 299 Custom\r\n"));
  response.SetStatusCode(-5);
  response.SetStringVariable(svReasonString, "Negative");
  response.SendResponse();
  EXPECT_TRUE(request.writes.back().starts_with("Status: 200 OK\r\n"));
}

TEST(CgiResponse, EveryHeaderInItsFixedOrder) {
  RecordingRequest request;
  TCGIResponse response(request);
  response.SetStringVariable(svTitle, "T");
  response.SetStringVariable(svContentEncoding, "gzip");
  response.SetStringVariable(svContentVersion, "2");
  response.SetStringVariable(svDerivedFrom, "D");
  response.SetStringVariable(svWWWAuthenticate, "Basic");
  response.SetStringVariable(svRealm, "site");
  response.SetStringVariable(svAllow, "GET");
  response.SetStringVariable(svLocation, "/l");
  response.SetStringVariable(svContentType, "image/png");
  response.SetStringVariable(svUnused2, "not written");
  response.SetDateVariable(dvDate, 5);
  response.SetDateVariable(dvExpires, 1);
  response.SetDateVariable(dvLastModified, 46362 + 31858 / 86400.0);
  TCookie& first = response.Cookies().Add();
  first.Name = "id";
  first.Value = "7";
  TCookie& second = response.Cookies().Add();
  second.Name = "s";
  second.Value = "x";
  second.Secure = true;
  response.CustomHeaders() = {"X-A=1", "x-a=2", "X-Empty=", "X-B=b=c"};
  response.SetContent("abc");
  response.SendResponse();
  ASSERT_EQ(request.writes.size(), 2u);
  EXPECT_BYTES(request.writes[0],
               "Status: 200 OK\r\n"
               "Location: /l\r\n"
               "Allow: GET\r\n"
               "Set-Cookie: id=7\r\n"
               "Set-Cookie: s=x; secure\r\n"
               "Derived-From: D\r\n"
               "Expires: Sun, 31 Dec 1899 00:00:00 GMT\r\n"
               "Last-Modified: Sun, 06 Dec 2026 08:50:58 GMT\r\n"
               "Title: T\r\n"
               "WWW-Authenticate: Basic Realm=site\r\n"
               "X-A: 1\r\n"
               "x-a: 1\r\n"
               "X-Empty: \r\n"
               "X-B: b=c\r\n"
               "Content-Version: 2\r\n"
               "Content-Encoding: gzip\r\n"
               "Content-Type: image/png\r\n"
               "Content-Length: 3\r\n"
               "Content:\r\n\r\n");
  EXPECT_EQ(request.writes[1], "abc");
}

TEST(CgiResponse, RealmWithoutSchemeAndDatesAtOrBelowZero) {
  RecordingRequest request;
  TCGIResponse response(request);
  response.SetStringVariable(svRealm, "r");
  response.SetDateVariable(dvExpires, 0);
  response.SetDateVariable(dvLastModified, -0.5);
  response.SendResponse();
  EXPECT_BYTES(request.Output(),
               "Status: 200 OK\r\nWWW-Authenticate:  Realm=r\r\nContent-Type: text/html\r\n"
               "Content:\r\n\r\n");
}

TEST(CgiResponse, VariablesOutsideTheirRangesAreIgnored) {
  RecordingRequest request;
  TCGIResponse response(request);
  for (const int index : {-1, 12}) {
    response.SetStringVariable(index, "x");
    EXPECT_EQ(response.GetStringVariable(index), "");
  }
  response.SetIntegerVariable(1, 9);
  EXPECT_EQ(response.GetIntegerVariable(1), -1);
  response.SetDateVariable(3, 9);
  EXPECT_EQ(response.GetDateVariable(3), -1);
  for (const int index : {dvDate, dvExpires, dvLastModified}) {
    EXPECT_EQ(response.GetDateVariable(index), -1);
  }
  EXPECT_EQ(response.GetStringVariable(svContentType), "text/html");
  EXPECT_EQ(response.GetIntegerVariable(ivContentLength), 0);
  response.SetLogMessage("ignored");
  EXPECT_EQ(response.GetLogMessage(), "");
}

TEST(CgiResponse, StreamGoesOutInPiecesFromItsPositionAndIsFreedAfterwards) {
  RecordingRequest request;
  TCGIResponse response(request);
  std::string bytes(20100, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
  auto stream = std::make_unique<TMemoryStream>(bytes);
  stream->Seek(100);
  response.SetContent("short");
  response.SetContentStream(std::move(stream));
  EXPECT_EQ(response.GetIntegerVariable(ivContentLength), 20100);
  response.SetContent("still short");
  EXPECT_EQ(response.GetIntegerVariable(ivContentLength), 20100);
  response.SendResponse();
  EXPECT_EQ(response.ContentStream(), nullptr);
  EXPECT_EQ(response.GetIntegerVariable(ivContentLength), 11);
  ASSERT_EQ(request.writes.size(), 4u);
  EXPECT_TRUE(request.writes[0].ends_with("Content-Length: 20100\r\nContent:\r\n\r\n"));
  EXPECT_EQ(request.writes[1].size(), 8192u);
  EXPECT_EQ(request.writes[2].size(), 8192u);
  EXPECT_EQ(request.writes[3].size(), 20000u - 2 * 8192u);
  EXPECT_TRUE(request.writes[1] + request.writes[2] + request.writes[3] == bytes.substr(100));
}

TEST(CgiResponse, SettingTheCurrentStreamAgainChangesNothing) {
  RecordingRequest request;
  TCGIResponse response(request);
  response.SetContentStream(std::make_unique<TMemoryStream>("12345"));
  TStream* current = response.ContentStream();
  response.SetIntegerVariable(ivContentLength, 99);
  response.SetContentStream(std::unique_ptr<TStream>(current));
  EXPECT_EQ(response.ContentStream(), current);
  EXPECT_EQ(response.GetIntegerVariable(ivContentLength), 99);
  response.SetContentStream(nullptr);
  EXPECT_EQ(response.GetIntegerVariable(ivContentLength), 0);
  // None replaced by none is the current state again: the length set by hand stays.
  response.SetIntegerVariable(ivContentLength, 42);
  response.SetContentStream(nullptr);
  EXPECT_EQ(response.GetIntegerVariable(ivContentLength), 42);
}

TEST(CgiResponse, RedirectSendsTheMovedPageWithTheUriUnescaped) {
  RecordingRequest request;
  TCGIResponse response(request);
  const std::string uri = "/a\"b?c=1&d";
  response.SetStringVariable(svContentType, "text/plain");
  response.SendRedirect(uri);
  // Japanese parts as cp932 bytes: "オブジェクトは移動しました。", "オブジェクトは", "ここ",
  // "に移動しました。".
  const std::string moved =
      "\x83\x49\x83\x75\x83\x57\x83\x46\x83\x4E\x83\x67\x82\xCD\x88\xDA\x93\xAE\x82\xB5\x82\xDC"
      "\x82\xB5\x82\xBD\x81\x42";
  const std::string object = "\x83\x49\x83\x75\x83\x57\x83\x46\x83\x4E\x83\x67\x82\xCD";
  const std::string here = "\x82\xB1\x82\xB1";
  const std::string went = "\x82\xC9\x88\xDA\x93\xAE\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42";
  const std::string page =
      "<head><title>Document Moved 302</title></head>\r\n"
      "<body><h1>Object Moved</h1><hr><h1>" +
      moved +
      "</h1><hr>\r\n"
      "This Object may be found <a href=\"" +
      uri + "\">here.</a><br>" + object + "<a href=\"" + uri + "\">" + here + "</a>" + went +
      "<br>\r\n"
      "<br></body></html>\r\n";
  ASSERT_EQ(request.writes.size(), 2u);
  EXPECT_BYTES(request.writes[0], "Status: 302 Moved Temporarily\r\nLocation: " + uri +
                                      "\r\nContent-Type: text/html\r\nContent-Length: " +
                                      std::to_string(page.size()) + "\r\nContent:\r\n\r\n");
  EXPECT_BYTES(request.writes[1], page);
  EXPECT_TRUE(response.IsSent());
}

TEST(Cookie, SetCookieTextTable) {
  const struct {
    const char* label;
    TCookie cookie;
    const char* expected;
  } cases[] = {
      {"path only", {"id", "7", "", "/", -1, false}, "id=7; path=/"},
      {"secure", {"id", "7", "", "/", -1, true}, "id=7; path=/; secure"},
      {"expires at day 0",
       {"id", "7", "", "", 0, false},
       "id=7; expires=Sat, 30 Dec 1899 00:00:00 GMT"},
      {"no expires at -1", {"id", "7", "", "", -1, false}, "id=7"},
      {"expires just above -1",
       {"id", "7", "", "", -0.5, false},
       "id=7; expires=Sat, 30 Dec 1899 12:00:00 GMT"},
      {"encoded name and value", {"a b", "x&y", "", "", -1, false}, "a+b=x%26y"},
      {"domain and path unencoded",
       {"n", "v", "ex ample.jp", "/a b", -1, false},
       "n=v; domain=ex ample.jp; path=/a b"},
      {"all attributes",
       {"n", "v", "d", "/", 1, true},
       "n=v; domain=d; path=/; expires=Sun, 31 Dec 1899 00:00:00 GMT; secure"},
      {"empty", {"", "", "", "", -1, false}, "="},
      {"Shift_JIS value", {"n", "\x95\x5C", "", "", -1, false}, "n=%95%5C"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.cookie.SetCookieText(), c.expected);
  }
}

TEST(Cookie, CollectionKeepsOrderAndAssignmentCopiesEveryField) {
  RecordingRequest request;
  TCGIResponse response(request);
  TCookieCollection& cookies = response.Cookies();
  EXPECT_EQ(&cookies.Response(), &response);
  cookies.Add().Name = "first";
  cookies.Add().Name = "second";
  ASSERT_EQ(cookies.Count(), 2u);
  EXPECT_EQ(cookies[0].Name, "first");
  EXPECT_EQ(cookies[1].Name, "second");
  const TCookie source{"n", "v", "d", "/p", 3.5, true};
  cookies[0] = source;
  EXPECT_EQ(cookies[0].SetCookieText(), source.SetCookieText());
}

// The whole road through a real CGI request to standard output.
TEST(CgiResponseOverStandardOutput, BytesAreWrittenExactly) {
  setenv("SERVER_PROTOCOL", "HTTP/1.1", 1);
  unsetenv("CONTENT_LENGTH");
  unsetenv("HTTP_CONTENT_LENGTH");
  TCGIRequest request;
  TCGIResponse response(request);
  const std::string page("<p>\0\r\n\x82\xA0</p>", 12);
  response.SetContent(page);
  testing::StdoutCapture output;
  response.SendResponse();
  const std::string bytes = output.Take();
  unsetenv("SERVER_PROTOCOL");
  EXPECT_BYTES(bytes,
               "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 12\r\n"
               "Content:\r\n\r\n" +
                   page);
}

// Standard output as a packet socket: every write arrives as one packet, so the packets
// show how many writes the reply took.
class StdoutPackets {
 public:
  StdoutPackets() {
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends_), 0);
    saved_ = dup(STDOUT_FILENO);
    dup2(ends_[0], STDOUT_FILENO);
  }
  ~StdoutPackets() {
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    close(ends_[0]);
    close(ends_[1]);
  }
  std::vector<std::string> Take() {
    std::vector<std::string> packets;
    std::string buffer(1 << 20, '\0');
    for (ssize_t got; (got = recv(ends_[1], buffer.data(), buffer.size(), MSG_DONTWAIT)) >= 0;) {
      packets.emplace_back(buffer.data(), static_cast<std::size_t>(got));
    }
    return packets;
  }

 private:
  int ends_[2] = {-1, -1};
  int saved_ = -1;
};

TEST(CgiResponseOverStandardOutput, WholeReplyLeavesInOneWrite) {
  setenv("SERVER_PROTOCOL", "HTTP/1.1", 1);
  unsetenv("CONTENT_LENGTH");
  unsetenv("HTTP_CONTENT_LENGTH");
  for (const std::size_t size : {std::size_t{0}, std::size_t{12}, std::size_t{60000}}) {
    SCOPED_TRACE(size);
    TCGIRequest request;
    TCGIResponse response(request);
    const std::string page(size, '\x82');
    response.SetContent(page);
    StdoutPackets output;
    response.SendResponse();
    const std::vector<std::string> packets = output.Take();
    ASSERT_EQ(packets.size(), 1u);
    const std::string length = size == 0 ? "" : "Content-Length: " + std::to_string(size) + "\r\n";
    EXPECT_BYTES(packets[0], "Status: 200 OK\r\nContent-Type: text/html\r\n" + length +
                                 "Content:\r\n\r\n" + page);
  }
  unsetenv("SERVER_PROTOCOL");
}

}  // namespace
}  // namespace orvane
