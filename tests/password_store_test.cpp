#include "gate/password_store.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane {
namespace {

// A hash of Secret1 made by the Linux build; the Windows run of this test opens it too.
const std::string kHash =
    "$argon2id$v=19$m=19456,t=2,p=1$SQR5q+LmZ38dmwdvgVknHg$TmkwH59UCZCrT+HtDATaSXbtSCsMRs/"
    "3rqYV21h+zFI";
const std::string kTail = "$c2FsdHNhbHQ$aGFzaA";

TEST(PasswordStore, RecordIsReadByItsFirstHashLineElseItsFirstPwLine) {
  using Kind = StoredPasswordKind;
  const struct {
    const char* label;
    std::string record;
    Kind kind;
  } cases[] = {
      {"plain", "id=a\r\npw=x\r\npw=y\r\n", Kind::Plain},
      {"hash after pw", "pw=x\r\npwhash=" + kHash + "\r\npwhash=y\r\n", Kind::Hashed},
      {"stronger", "pwhash=$argon2id$v=19$m=65536,t=3,p=4" + kTail, Kind::Hashed},
      {"less memory", "pwhash=$argon2id$v=19$m=8192,t=2,p=1" + kTail, Kind::WeakerHash},
      {"one pass", "pwhash=$argon2id$v=19$m=19456,t=1,p=1" + kTail, Kind::WeakerHash},
      {"argon2i", "pwhash=$argon2i$v=19$m=19456,t=2,p=1" + kTail, Kind::Unreadable},
      {"memory past 32 bits", "pwhash=$argon2id$v=19$m=4294967296,t=2,p=1" + kTail,
       Kind::Unreadable},
      {"no hash part", "pwhash=$argon2id$v=19$m=19456,t=2,p=1$c2FsdA", Kind::Unreadable},
      {"empty hash beside pw", "pwhash=\r\npw=x\r\n", Kind::Unreadable},
      {"byte-order mark before pw", "\xEF\xBB\xBFpw=x\r\n", Kind::None},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(StoredPasswordInText(c.record).kind, c.kind);
    EXPECT_FALSE(PasswordChecks().Opens(c.record, "y"));
  }
}

TEST(PasswordStore, StoredLineTakesThePlaceOfThePasswordLineAndDropsTheOther) {
  const struct {
    std::string record;
    PasswordToStore line;
    std::string expected;
  } cases[] = {
      {"id=a\r\npw=x\r\nm=1", {kPasswordHashKey, "H"}, "id=a\r\npwhash=H\r\nm=1\r\n"},
      {"pw=x\r\nid=a\r\npwhash=G", {kPlainPasswordKey, "y"}, "id=a\r\npw=y\r\n"},
      {"id=a", {kPasswordHashKey, "H"}, "id=a\r\npwhash=H\r\n"},
  };
  for (const auto& c : cases) {
    TFieldEdits edits(c.record);
    StorePassword(edits, c.line);
    std::string text;
    edits.ForEachLine([&text](std::string_view line) { text.append(line).append("\r\n"); });
    EXPECT_EQ(text, c.expected) << c.record;
  }
}

TEST(PasswordStore, PasswordsOpenWhatStoresThemAndNothingElse) {
  PasswordChecks checks;
  EXPECT_TRUE(checks.Opens("pw=Secret1", "Secret1"));
  for (const char* wrong : {"Secret", "Secret12", "secret1", ""}) {
    EXPECT_FALSE(checks.Opens("pw=Secret1", wrong)) << wrong;
    EXPECT_FALSE(checks.Opens("pwhash=" + kHash, wrong)) << wrong;
  }
  EXPECT_TRUE(checks.Opens("pwhash=" + kHash, "Secret1"));
  const std::string fresh = PasswordLine("p&amp;w", PasswordStore::Argon2id);
  EXPECT_EQ(fresh.size(), kHash.size() + 7);
  EXPECT_NE(fresh, PasswordLine("p&amp;w", PasswordStore::Argon2id));  // a salt of its own
  EXPECT_TRUE(PasswordChecks().Opens(fresh, "p&amp;w"));
}

}  // namespace
}  // namespace orvane
