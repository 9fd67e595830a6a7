#include "gate/text/safe_name.h"

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
      // The bytes of COM¹ in code page 1252 and in UTF-8 spell COMﾙ and COMﾂﾙ in
      // Shift_JIS, which names reach the system in: no device.
      {"COM and a superscript one of code page 1252", "COM\xb9", true, true},
      {"LPT and a superscript two of UTF-8", "LPT\xc2\xb2.txt", true, true},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(IsSafeFileNamePart(c.name, FileNameRules::Posix), c.posix_safe);
    EXPECT_EQ(IsSafeFileNamePart(c.name, FileNameRules::Windows), c.windows_safe);
  }
}

// Where names reach the system in UTF-16, a name that converts to another spelling
// (or to none) would share a file with another name or fail; where names are bytes,
// each spelling is a file of its own.
TEST(IsSafeFileNamePart, RefusesOnWindowsNamesStoredUnderOtherBytes) {
  const struct {
    const char* label;
    std::string name;
    bool windows_safe;
  } cases[] = {
      {"hiragana", "\x82\xbd\x82\xeb\x82\xa4", true},
      {"second bytes of a backslash and a bar", "\x95\x5c\x83\x5c\x83\x7c", true},
      {"half-width katakana", "\xb1\xdd", true},
      {"the code a character converts back to", "\xfa\x5c", true},
      {"the other code of that character", "\xed\x40", false},
      {"a row-13 code of a character with a standard code", "\x87\x90", false},
      {"an undefined code", "a\x85\x40", false},
      {"a lead byte at the end", "x\x81", false},
      {"a lead byte before no second byte", "\x81\x7f", false},
      {"a byte that is no character", "\xa0x", false},
  };
  const bool windows = SystemFileNameRules() == FileNameRules::Windows;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(IsSafeFileNamePart(c.name), !windows || c.windows_safe);
    EXPECT_EQ(platform::NameRoundTrips(c.name), !windows || c.windows_safe);
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
