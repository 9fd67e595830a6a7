#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "exact_bytes.h"
#include "gate/entry_bounds.h"
#include "gate/web_module1.h"

namespace orvane {
namespace {

using testing::ExactBytes;

using namespace std::string_literals;

struct Decoded {
  std::string form_text;
  std::string file_name;
  std::string data;
};

Decoded DecodeMultipart(std::string_view wire) {
  const ExactBytes body(wire);
  TWebModule1 module;
  module.ParseMultipartBody(body.View());
  if (!module.UploadData.empty()) {
    // The upload is a view into the body, never a copy of it.
    const std::string_view view = body.View();
    EXPECT_GE(module.UploadData.data(), view.data());
    EXPECT_LE(module.UploadData.data() + module.UploadData.size(), view.data() + view.size());
  }
  return {module.FormText, module.UploadFileName, std::string(module.UploadData)};
}

std::string DecodeUrlEncoded(std::string_view wire) {
  const ExactBytes body(wire);
  TWebModule1 module;
  module.ParseUrlEncodedBody(body.View());
  return module.FormText;
}

std::string Part(std::string_view header, std::string_view content) {
  return "--AaB03x\r\n"s.append(header).append("\r\n\r\n").append(content).append("\r\n");
}
std::string TextPart(std::string_view name, std::string_view value) {
  return Part("Content-Disposition: form-data; name=\""s.append(name).append("\""), value);
}
std::string FilePart(std::string_view name, std::string_view file_name, std::string_view type,
                     std::string_view content) {
  return Part("Content-Disposition: form-data; name=\""s.append(name)
                  .append("\"; filename=\"")
                  .append(file_name)
                  .append("\"\r\nContent-Type: ")
                  .append(type),
              content);
}
std::string Body(std::initializer_list<std::string> parts) {
  std::string body;
  for (const std::string& part : parts) body += part;
  return body + "--AaB03x--\r\n";
}

TEST(MultipartDecoding, TextValueIsTrimmedAtItsEndThenEscaped) {
  const struct {
    const char* label;
    std::string value;
    std::string stored;
  } cases[] = {
      {"spaces and markup", "a b <c>\r\n  ", "a&nbsp;b&nbsp;&lt;c&gt;"},
      {"inner CR LF", "line1\r\nline2", "line1<br>line2"},
      {"lone LF kept", "x\ny", "x\ny"},
      {"leading spaces kept", "  x", "&nbsp;&nbsp;x"},
      {"control and NUL bytes trimmed", "x\t\x01\x1f\0 "s, "x"},
      {"inner NUL kept", "a\0b"s, "a\0b"s},
      {"bytes above 0x80 kept", "x\xA1", "x\xA1"},
      {"double-byte character ending in 0x5C", "\x83\x5C", "\x83\x5C"},  // ソ
      {"quote and ampersand", "q\"&", "q&quot;&amp;"},
      {"only white space", " \r\n\t", ""},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Decoded decoded = DecodeMultipart(Body({TextPart("title", c.value)}));
    EXPECT_EQ(decoded.form_text, "title=" + c.stored + "\r\n");
    EXPECT_EQ(decoded.file_name, "");
  }
}

TEST(MultipartDecoding, FieldsKeepTheirBodyOrderAndNamesAreEscapedAsValuesAre) {
  const Decoded decoded = DecodeMultipart(
      Body({TextPart("session", "s1"), TextPart("a b&", "1"), TextPart("session", "s2")}));
  EXPECT_EQ(decoded.form_text, "session=s1\r\na&nbsp;b&amp;=1\r\nsession=s2\r\n");
}

TEST(MultipartDecoding, ImagePartSetsTheUploadAndAddsItsLine) {
  const std::string image = "\x89PNG\0\r\n&--AaB03\r\n"s;
  const Decoded decoded = DecodeMultipart(Body(
      {TextPart("session", "s1"), FilePart("upfile", "C:\\pics\\a.JPG", "image/jpeg", image)}));
  EXPECT_EQ(decoded.form_text, "session=s1\r\nupfile=a.JPG\r\n");
  EXPECT_EQ(decoded.file_name, "a.JPG");
  EXPECT_EQ(decoded.data, image);
}

TEST(MultipartDecoding, ImageContentKeepsEveryByteButTheCrLfBeforeTheDelimiter) {
  const struct {
    const char* label;
    std::string content;
  } cases[] = {
      {"ends in CR", "\x89PNG\r"},
      {"ends in CR LF", "abc\r\n"},
      {"ends in three CR LF pairs", "x\r\n\r\n\r\n"},
      {"only CR LF", "\r\n"},
      {"only CR", "\r"},
      {"zero bytes", "a\0\0"s},
      {"delimiter prefix at the end", "\r\n--AaB03"},
      {"delimiter-like text inside", "x--AaB03-x--AaB0--"},
      {"header-like text inside", "\r\n\r\nContent-Type: text/plain\r\n\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Decoded decoded =
        DecodeMultipart(Body({FilePart("up", "a.png", "image/png", c.content)}));
    EXPECT_EQ(decoded.data, c.content);
    EXPECT_EQ(decoded.form_text, "up=a.png\r\n");
  }
}

TEST(MultipartDecoding, AnyOfTheFourImageTypesIsAccepted) {
  for (const char* type : {"image/pjpeg", "image/jpeg", "image/x-png", "image/png", "image/pngfoo",
                           "image/jpeg; charset=x", "text/plain\r\nContent-Type: image/png"}) {
    SCOPED_TRACE(type);
    EXPECT_EQ(DecodeMultipart(Body({FilePart("up", "a.png", type, "data")})).data, "data");
  }
}

TEST(MultipartDecoding, RejectedFilePartsLeaveNoTrace) {
  const struct {
    const char* label;
    std::string part;
  } cases[] = {
      {"gif", FilePart("up", "a.gif", "image/gif", "GIF89a")},
      {"bmp", FilePart("up", "a.bmp", "image/bmp", "BM")},
      {"webp", FilePart("up", "a.webp", "image/webp", "RIFF")},
      {"text/plain field", FilePart("up", "a.txt", "text/plain", "hello")},
      {"type in upper case", FilePart("up", "a.png", "IMAGE/PNG", "data")},
      {"empty file name", FilePart("up", "", "image/png", "data")},
      {"file name that is only a directory", FilePart("up", "C:\\pics\\", "image/png", "data")},
      {"file name that is only a slash directory", FilePart("up", "pics/", "image/png", "data")},
      {"empty content", FilePart("up", "a.png", "image/png", "")},
      {"no space after the colon",
       Part("Content-Disposition: form-data; name=\"up\"; filename=\"a.png\"\r\n"
            "Content-Type:image/png",
            "data")},
      {"no filename attribute",
       Part("Content-Disposition: form-data; name=\"up\"\r\nContent-Type: image/png", "data")},
      {"unterminated filename quote",
       Part("Content-Type: image/png\r\nContent-Disposition: form-data; name=\"up\"; "
            "filename=\"a.png",
            "data")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Decoded decoded = DecodeMultipart(Body({c.part}));
    EXPECT_EQ(decoded.form_text, "");
    EXPECT_EQ(decoded.file_name, "");
    EXPECT_EQ(decoded.data, "");
  }
}

TEST(MultipartDecoding, FileNameKeepsOnlyItsLastPathComponent) {
  const struct {
    const char* label;
    std::string sent;
    std::string kept;
  } cases[] = {
      {"bare name", "a.jpg", "a.jpg"},
      {"drive and directories", "C:\\pics\\a.JPG", "a.JPG"},
      {"drive only", "C:a.jpg", "a.jpg"},
      {"network share", "\\\\server\\share\\b.png", "b.png"},
      // 表 is 95 5C: its second byte is no separator.
      {"second byte 0x5C", "C:\\\x95\x5C.jpg", "\x95\x5C.jpg"},
      // ソ 83 5C, 能 94 5C, 予 97 5C.
      {"only double-byte characters", "\x83\x5C\x94\x5C\x97\x5C.png",
       "\x83\x5C\x94\x5C\x97\x5C.png"},
      // 表 then a real backslash.
      {"separator after a 0x5C second byte", "\x95\x5C\\a.jpg", "a.jpg"},
      {"lead byte as second byte, then separator", "\x81\x81\\x.jpg", "x.jpg"},
      {"lone lead byte at the end", "a.jpg\x81", "a.jpg\x81"},
      {"slash directories", "dir/sub/a.png", "a.png"},
      {"climbing slashes", "../../etc/x.png", "x.png"},
      {"mixed separators", "a\\b/c:d.png", "d.png"},
      {"slash after a double-byte character", "\x95\x5C/x.png", "x.png"},
      {"slash after a stray lead byte", "\x81/x.png", "x.png"},
      {"colon after a stray lead byte", "\x81:x.png", "x.png"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Decoded decoded = DecodeMultipart(Body({FilePart("up", c.sent, "image/png", "data")}));
    EXPECT_EQ(decoded.file_name, c.kept);
    EXPECT_EQ(decoded.form_text, "up=" + c.kept + "\r\n");
  }
}

TEST(MultipartDecoding, TwoImagesBothAddLinesAndTheLastWins) {
  const Decoded decoded =
      DecodeMultipart(Body({FilePart("a", "one.png", "image/png", "11"), TextPart("t", "x"),
                            FilePart("b", "two.jpg", "image/pjpeg", "22")}));
  EXPECT_EQ(decoded.form_text, "a=one.png\r\nt=x\r\nb=two.jpg\r\n");
  EXPECT_EQ(decoded.file_name, "two.jpg");
  EXPECT_EQ(decoded.data, "22");
}

TEST(MultipartDecoding, HeaderWithoutExactContentTypeIsATextField) {
  const struct {
    const char* label;
    std::string header;
  } cases[] = {
      {"lower-case header name",
       "Content-Disposition: form-data; name=\"up\"; filename=\"x.jpg\"\r\n"
       "content-type: image/jpeg"},
      {"file name but no type", "Content-Disposition: form-data; name=\"up\"; filename=\"x.jpg\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Decoded decoded = DecodeMultipart(Body({Part(c.header, "\xFF\xD8 <&>\0\r\n\r\n"s)}));
    EXPECT_EQ(decoded.form_text, "up=\xFF\xD8&nbsp;&lt;&amp;&gt;\r\n");
    EXPECT_EQ(decoded.file_name, "");
    EXPECT_EQ(decoded.data, "");
  }
}

TEST(MultipartDecoding, NameAttributeQuirks) {
  const struct {
    const char* label;
    std::string header;
    std::string form_text;
  } cases[] = {
      {"no name attribute", "Content-Disposition: form-data", ""},
      {"unquoted name", "Content-Disposition: form-data; name=a", ""},
      {"name attribute in upper case", "Content-Disposition: form-data; NAME=\"a\"", ""},
      {"unterminated quote gives an empty name", "Content-Disposition: form-data; name=\"abc",
       "=v\r\n"},
      {"empty name", "Content-Disposition: form-data; name=\"\"", "=v\r\n"},
      {"first occurrence, inside filename", "X: filename=\"f\"; name=\"a\"", "f=v\r\n"},
      {"NUL byte in the header before the name", "\0Content-Disposition: form-data; name=\"ab\""s,
       "ab=v\r\n"},
      {"markup in a text field's name",
       "Content-Disposition: form-data; name=\"<script>x</script><b\"",
       "&lt;script&gt;x&lt;/script&gt;&lt;b=v\r\n"},
      {"markup in an image's name",
       "Content-Disposition: form-data; name=\"<i> &\"; filename=\"a.png\"\r\nContent-Type: "
       "image/png",
       "&lt;i&gt;&nbsp;&amp;=a.png\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(DecodeMultipart(Body({Part(c.header, "v")})).form_text, c.form_text);
  }
}

// A name that would split its own line is no name: an "=" would make the rest of the
// line, never escaped, the value of a shorter name.
TEST(MultipartDecoding, PartNamedWithAnEqualsSignOrAControlByteIsIgnored) {
  const struct {
    const char* label;
    std::string name;
  } cases[] = {
      {"markup after an equals sign", "realname=<script>alert(3)</script>"},
      {"equals sign alone", "="},
      {"equals sign first", "=realname"},
      {"NUL byte", "a\0b"s},
      {"line feed", "a\nrealname"},
      {"carriage return", "a\r"},
      {"unit separator", "a\x1F"},
      {"equals sign after a lead byte", "\x81=x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string header = "Content-Disposition: form-data; name=\"" + c.name + "\"";
    const std::string file_header = header + "; filename=\"a.png\"\r\nContent-Type: image/png";
    const Decoded decoded = DecodeMultipart(Body(
        {TextPart("a", "1"), Part(header, "<b>"), Part(file_header, "img"), TextPart("b", "2")}));
    EXPECT_EQ(decoded.form_text, "a=1\r\nb=2\r\n");
    EXPECT_EQ(decoded.file_name, "");
    EXPECT_EQ(decoded.data, "");
  }
}

TEST(MultipartDecoding, NamesWithOtherBytesStayUsable) {
  const struct {
    std::string name, stored;
  } cases[] = {{"a b", "a&nbsp;b"},
               {"\x83\x5C\x83\x40", "\x83\x5C\x83\x40"},
               {"x-y_z.1", "x-y_z.1"},
               {"\x7F\xFF", "\x7F\xFF"},
               {"<i>", "&lt;i&gt;"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeMultipart(Body({TextPart(c.name, "v")})).form_text, c.stored + "=v\r\n");
  }
}

// The upload keeps the name as sent, for its extension; the line it adds is escaped
// like every other value, since a page may show it as one.
TEST(MultipartDecoding, FileNameLineIsEscapedAndTheUploadKeepsTheNameAsSent) {
  const struct {
    const char* label;
    std::string sent, line;
  } cases[] = {
      {"markup", "<img src=x onerror=alert(4)>", "&lt;img&nbsp;src=x&nbsp;onerror=alert(4)&gt;"},
      {"markup before an extension", "a<b>&c.png", "a&lt;b&gt;&amp;c.png"},
      {"lead byte before markup", "\x81<svg>.jpg", "\x81&lt;svg&gt;.jpg"},
      {"character reference of a non-ASCII character", "Jos&#233;.png", "Jos&#233;.png"},
      {"valid Shift_JIS name", "\x95\x5C\x8E\xA6.png", "\x95\x5C\x8E\xA6.png"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Decoded decoded = DecodeMultipart(Body({FilePart("realname", c.sent, "image/png", "d")}));
    EXPECT_EQ(decoded.file_name, c.sent);
    EXPECT_EQ(decoded.form_text, "realname=" + c.line + "\r\n");
  }
}

TEST(MultipartDecoding, IgnoredPartsDoNotDisturbTheirNeighbours) {
  const std::string no_header_end =
      "--AaB03x\r\nContent-Disposition: form-data; name=\"lost\"\r\nvalue\r\n";
  const std::string no_name = Part("Content-Disposition: form-data", "v");
  const Decoded decoded =
      DecodeMultipart(Body({TextPart("a", "1"), no_header_end, no_name, TextPart("b", "2")}));
  EXPECT_EQ(decoded.form_text, "a=1\r\nb=2\r\n");
}

TEST(MultipartDecoding, DelimiterIsFoundAnywhereInTheBody) {
  // The delimiter inside a value ends the part there; the rest has no header end.
  const Decoded decoded =
      DecodeMultipart(Body({TextPart("a", "before--AaB03xafter"), TextPart("b", "2")}));
  EXPECT_EQ(decoded.form_text, "a=before\r\nb=2\r\n");
}

TEST(MultipartDecoding, BodiesThatYieldNothing) {
  const struct {
    const char* label;
    std::string body;
  } cases[] = {
      {"empty", ""},
      {"no line break", "session=s1&id=a"},
      {"first line empty", "\r\n" + TextPart("a", "1") + "--AaB03x--\r\n"},
      {"delimiter never recurs",
       "--AaB03x\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nvalue\r\n"},
      {"only the delimiter line", "--AaB03x\r\n"},
      {"lone CR LF", "\r\n"},
      {"no closing delimiter loses the last part", TextPart("a", "1")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Decoded decoded = DecodeMultipart(c.body);
    EXPECT_EQ(decoded.form_text, "");
    EXPECT_EQ(decoded.data, "");
  }
}

TEST(MultipartDecoding, BodyEdgesAroundTheDelimiter) {
  const std::string part = "Content-Disposition: form-data; name=\"a\"\r\n\r\n1";
  const struct {
    const char* label;
    std::string body;
    std::string form_text;
  } cases[] = {
      {"body ends right after a delimiter", "--AaB03x\r\n" + part + "\r\n--AaB03x", "a=1\r\n"},
      {"delimiter holding NUL bytes", "-\0-\r\n"s + part + "\r\n-\0-\r\n"s, "a=1\r\n"},
      {"epilogue after the closing delimiter", "--AaB03x\r\n" + part + "\r\n--AaB03x--\r\n" + part,
       "a=1\r\n"},
      {"two CR LF before the delimiter keep one", "--AaB03x\r\n" + part + "\r\n\r\n--AaB03x",
       "a=1\r\n"},
      {"two CR LF after the delimiter keep one", "--AaB03x\r\n\r\n" + part + "\r\n--AaB03x",
       "a=1\r\n"},
      {"no closing delimiter loses only the last part", TextPart("a", "1") + TextPart("b", "2"),
       "a=1\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(DecodeMultipart(c.body).form_text, c.form_text);
  }
}

TEST(MultipartDecoding, DecodingAppendsToTheFormTextAndKeepsAnEarlierUpload) {
  const ExactBytes body(Body({TextPart("b", "2"), FilePart("up", "x.gif", "image/gif", "G")}));
  TWebModule1 module;
  module.FormText = "a=1\r\n";
  module.UploadFileName = "keep.png";
  module.ParseMultipartBody(body.View());
  EXPECT_EQ(module.FormText, "a=1\r\nb=2\r\n");
  EXPECT_EQ(module.UploadFileName, "keep.png");
}

TEST(MultipartDecoding, HundredThousandTinyPartsDecodeInLinearTime) {
  constexpr int kParts = 100000;
  std::string wire;
  std::string expected;
  for (int i = 0; i < kParts; ++i) {
    wire += TextPart("f", "v");
    expected += "f=v\r\n";
  }
  wire += "--AaB03x--\r\n";
  // Processor time: <chrono> cannot be compiled for the Shift_JIS execution character set.
  const std::clock_t start = std::clock();
  const Decoded decoded = DecodeMultipart(wire);
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  EXPECT_EQ(decoded.form_text, expected);
  EXPECT_LT(seconds, 1.0);  // sanitizer build included
}

TEST(MultipartDecoding, HostileDelimiterDecodesInLinearTime) {
  // A plain skip search would compare the whole delimiter at every byte of this body.
  const std::string wire = "b" + std::string(64 << 10, 'a') + "\r\n" + std::string(4 << 20, 'a');
  const std::clock_t start = std::clock();
  EXPECT_EQ(DecodeMultipart(wire).form_text, "");
  EXPECT_LT(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC, 1.0);
}

std::string Repeated(std::string_view piece, std::size_t count) {
  std::string text;
  text.reserve(piece.size() * count);
  for (std::size_t i = 0; i < count; ++i) text.append(piece);
  return text;
}

// Fields are held escaped up to a bound: the one that would pass it stops decoding before
// it is escaped, so a value of quotes never grows to six times its size in memory.
TEST(FormDecoding, AFieldPassingTheFormTextBoundStopsDecoding) {
  constexpr std::size_t kBound = kMostFormTextSize;
  const std::string fits(kBound - 4, 'x');              // "a=" value CR LF: the bound exactly
  const std::string quotes_fit((kBound - 4) / 6, '"');  // each escaped to six bytes
  static_assert((kBound - 4) % 6 == 0);
  const std::string two_lines_fit(kBound - 4 - 5, 'x');  // after "s=1" CR LF
  const struct {
    const char* label;
    std::string body;
    bool multipart;
    bool too_long;
    std::size_t form_text_size;
  } cases[] = {
      {"value at the bound", Body({TextPart("a", fits)}), true, false, kBound},
      {"one byte more", Body({TextPart("a", fits + "x")}), true, true, 0},
      {"quotes at the bound", Body({TextPart("a", quotes_fit)}), true, false, kBound},
      {"one quote more", Body({TextPart("a", quotes_fit + "\"")}), true, true, 0},
      {"second field at the bound", Body({TextPart("s", "1"), TextPart("a", two_lines_fit)}), true,
       false, kBound},
      {"second field one byte over, the first kept",
       Body({TextPart("s", "1"), TextPart("a", two_lines_fit + "x"), TextPart("b", "2")}), true,
       true, 5},
      {"8 MiB of quotes",
       Body({TextPart("s", "1"), TextPart("realname", std::string(8 << 20, '"'))}), true, true, 5},
      {"escaped name over", Body({TextPart(std::string(kBound / 4, '<'), "v")}), true, true, 0},
      {"image's file name over",
       Body({FilePart("up", std::string(kBound / 4, '<') + ".png", "image/png", "d")}), true, true,
       0},
      {"encoded item at the bound", "a=" + fits, false, false, kBound},
      {"encoded item one byte more", "a=" + fits + "x", false, true, 0},
      {"encoded quotes over", "a=" + std::string(kBound / 3, '"'), false, true, 0},
      {"ampersands over", std::string(kBound, '&'), false, true, 0},
      {"escapes at the bound", Repeated("%41", kBound - 2), false, false, kBound},
      {"one escape more", Repeated("%41", kBound - 1), false, true, 0},
      {"8 MiB of encoded quotes", Repeated("%22", (8 << 20) / 3), false, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const ExactBytes body(c.body);
    TWebModule1 module;
    if (c.multipart) {
      module.ParseMultipartBody(body.View());
    } else {
      module.ParseUrlEncodedBody(body.View());
    }
    EXPECT_EQ(module.EntryTooLong, c.too_long);
    EXPECT_EQ(module.FormText.size(), c.form_text_size);
    EXPECT_LE(module.FormText.capacity(), 2 * kBound);
    EXPECT_TRUE(module.UploadData.empty());
  }
}

TEST(UrlEncodedDecoding, ItemsBecomeEscapedLines) {
  const struct {
    const char* label;
    std::string body;
    std::string form_text;
  } cases[] = {
      {"two items", "session=s1&id=a", "session=s1\r\nid=a\r\n"},
      {"encoded LF stays a lone LF", "a=x%0Ay", "a=x\ny\r\n"},
      {"encoded CR LF becomes a break", "a=x%0D%0Ay", "a=x<br>y\r\n"},
      {"last item escaped too", "t=%3Cb%3E+x&u=a%26b", "t=&lt;b&gt;&nbsp;x\r\nu=a&amp;b\r\n"},
      {"name escaped too", "a+b=c d", "a&nbsp;b=c&nbsp;d\r\n"},
      {"trailing space kept", "a=x ", "a=x&nbsp;\r\n"},
      {"percent at the very end", "a=1%", "a=1\0\r\n"s},
      {"percent and one digit at the end", "a=%4", "a=\x04\r\n"},
      {"malformed escape", "a=%zz", "a=\0\r\n"s},
      {"NUL bytes in the body", "a=\0b&c=%00"s, "a=\0b\r\nc=\0\r\n"s},
      {"empty items and a trailing ampersand", "a=1&&b=2&", "a=1\r\n\r\nb=2\r\n"},
      {"item without equals sign", "flag", "flag\r\n"},
      {"only white space", " \t\r\n ", ""},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(DecodeUrlEncoded(c.body), c.form_text);
  }
}

TEST(UrlEncodedDecoding, ReplacesTheFormTextAndLeavesTheUpload) {
  const ExactBytes body("id=a");
  TWebModule1 module;
  module.FormText = "old=1\r\n";
  module.UploadFileName = "a.png";
  module.UploadData = "data";
  module.ParseUrlEncodedBody(body.View());
  EXPECT_EQ(module.FormText, "id=a\r\n");
  EXPECT_EQ(module.UploadFileName, "a.png");
  EXPECT_EQ(module.UploadData, "data");
}

}  // namespace
}  // namespace orvane
