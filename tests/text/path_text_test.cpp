#include "gate/text/path_text.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane {
namespace {

struct DelimiterCase {
  const char* label;
  std::string text;
  char delimiter;
  std::string expected;
};

TEST(IncludeTrailingDelimiter, TableOfCases) {
  const DelimiterCase cases[] = {
      {"backslash appended", "C:\\gate\\sessions", '\\', "C:\\gate\\sessions\\"},
      {"backslash kept", "C:\\gate\\", '\\', "C:\\gate\\"},
      // 表 ends in the byte of a backslash, which is not a delimiter.
      {"second byte 0x5C gets a delimiter", "C:\\\x95\x5c", '\\', "C:\\\x95\x5c\\"},
      {"delimiter after a double-byte character", "C:\\\x95\x5c\\", '\\', "C:\\\x95\x5c\\"},
      {"pair of lead bytes then a backslash", "\x81\x81\\", '\\', "\x81\x81\\"},
      {"lone lead byte at the end", "a\x81", '\\', "a\x81\\"},
      {"empty text", "", '\\', "\\"},
      {"slash appended", "/srv/gate", '/', "/srv/gate/"},
      {"slash kept", "/srv/gate/", '/', "/srv/gate/"},
      // A slash can never be a second byte: UTF-8 "あ/" ends in 0x82 then a slash.
      {"slash after a lead-like byte", "/home/\xe3\x81\x82/", '/', "/home/\xe3\x81\x82/"},
  };
  for (const DelimiterCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(IncludeTrailingDelimiter(c.text, c.delimiter), c.expected);
  }
}

TEST(DirectoryPart, TableOfCases) {
  const DelimiterCase cases[] = {
      {"drive and directories", "C:\\gate\\orvanegate.exe", '\\', "C:\\gate\\"},
      {"drive colon only", "C:orvanegate.exe", '\\', "C:"},
      {"second byte 0x5C does not cut", "C:\\\x95\x5cx.exe", '\\', "C:\\"},
      {"colon after a lead byte is a drive colon", "\x81:x.exe", '\\', "\x81:"},
      {"no delimiter", "orvanegate", '\\', ""},
      {"posix path", "/srv/cgi/orvanegate", '/', "/srv/cgi/"},
      {"colon is no delimiter on posix", "/srv/a:b", '/', "/srv/"},
      {"UTF-8 directory name", "/home/\xe3\x81\x82/x", '/', "/home/\xe3\x81\x82/"},
  };
  for (const DelimiterCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(DirectoryPart(c.text, c.delimiter), c.expected);
  }
}

}  // namespace
}  // namespace orvane
