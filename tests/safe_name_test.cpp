#include "gate/safe_name.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace orvane {
namespace {

struct NameCase {
  const char* label;
  std::string name;
  bool posix_safe;
  bool windows_safe;
};

TEST(IsSafeFileNamePart, PosixAndWindowsRules) {
  const NameCase cases[] = {
      {"plain id", "taro", true, true},
      {"empty name", "", true, true},
      {"dots inside", "taro.yamada", true, true},
      {"slash", "a/b", false, false},
      {"backslash", "a\\b", false, false},
      {"colon", "c:x", false, false},
      {"control byte", "a\x01", false, false},
      {"parent directory", "../x", false, false},
      // 表 ends in the byte of a backslash; ー (0x81 0x5B) and − (0x81 0x7C) likewise hide
      // a bracket and a bar.
      {"second byte backslash", "\x95\x5c", true, true},
      {"second byte bar", "a\x81\x7c", true, true},
      {"slash after a lead byte", "\x81/x", false, false},
      {"colon after a lead byte", "\x81:x", false, false},
      {"question mark after a lead byte", "\x81?", true, false},
      {"lone lead byte at the end", "a\x81", true, true},
      {"device NUL", "NUL", true, false},
      {"device in lower case", "con", true, false},
      {"device with an extension", "Aux.txt", true, false},
      {"device with spaces before the extension", "prn  .x", true, false},
      {"COM1", "COM1", true, false},
      {"lpt9 with extension", "lpt9.jpg", true, false},
      {"console input", "conin$", true, false},
      {"clock device", "CLOCK$", true, false},
      {"COM0 is a name", "COM0", true, true},
      {"COM10 is a name", "COM10", true, true},
      {"device name as a prefix", "CONSOLE", true, true},
      {"device name as a suffix", "xnul", true, true},
      {"device name after a dot", "a.NUL", true, true},
      {"trailing dot", "taro.", true, false},
      {"trailing space", "taro ", true, false},
      {"only dots", "..", true, false},
      {"less than", "a<b", true, false},
      {"greater than", "a>b", true, false},
      {"double quote", "a\"b", true, false},
      {"bar", "a|b", true, false},
      {"question mark", "a?", true, false},
      {"asterisk", "*", true, false},
      {"entities of escaped text", "a&lt;b&nbsp;", true, true},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(IsSafeFileNamePart(c.name, FileNameRules::Posix), c.posix_safe);
    EXPECT_EQ(IsSafeFileNamePart(c.name, FileNameRules::Windows), c.windows_safe);
  }
}

TEST(IsSafeFileNamePart, FollowsTheSystemRules) {
  const FileNameRules expected =
      platform::PathDelimiter() == '\\' ? FileNameRules::Windows : FileNameRules::Posix;
  EXPECT_EQ(SystemFileNameRules(), expected);
  EXPECT_EQ(IsSafeFileNamePart("NUL"), expected == FileNameRules::Posix);
}

}  // namespace
}  // namespace orvane
