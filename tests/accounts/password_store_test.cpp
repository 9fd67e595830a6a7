#include "gate/accounts/password_store.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane {
namespace {

// A hash of Secret1 made by the Linux build; the Windows run of this test opens it too.
const std::string kHash =
    "$argon2id$v=19$m=19456,t=2,p=1$SQR5q+LmZ38dmwdvgVknHg$TmkwH59UCZCrT+HtDATaSXbtSCsMRs/"
    "3rqYV21h+zFI";
const std::string kTail = "$c2FsdHNhbHQ$aGFzaA";

TEST(PasswordStore, RecordIsOpenedByItsFirstHashLineElseItsFirstPwLine) {
  using Kind = StoredPasswordKind;
  const struct {
    const char* label;
    std::string record;
    Kind kind;
    bool opened;  // by Secret1 (never by Secret, Secret12 or y)
  } cases[] = {
      {"plain", "id=a\r\npw=Secret1\r\npw=y\r\n", Kind::Plain, true},
      {"hash after pw", "pw=y\r\npwhash=" + kHash + "\r\npwhash=y\r\n", Kind::Hashed, true},
      {"stronger", "pwhash=$argon2id$v=19$m=65536,t=3,p=4" + kTail, Kind::Hashed, false},
      {"less memory", "pwhash=$argon2id$v=19$m=8192,t=2,p=1" + kTail, Kind::WeakerHash, false},
      {"one pass", "pwhash=$argon2id$v=19$m=19456,t=1,p=1" + kTail, Kind::WeakerHash, false},
      {"argon2i", "pwhash=$argon2i$v=19$m=19456,t=2,p=1" + kTail, Kind::Unreadable, false},
      {"memory past 32 bits", "pwhash=$argon2id$v=19$m=4294967296,t=2,p=1" + kTail,
       Kind::Unreadable, false},
      {"no hash part", "pwhash=$argon2id$v=19$m=19456,t=2,p=1$c2FsdA", Kind::Unreadable, false},
      {"empty hash beside pw", "pwhash=\r\npw=Secret1\r\n", Kind::Unreadable, false},
      {"byte-order mark before pw", "\xEF\xBB\xBFpw=Secret1\r\n", Kind::None, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(StoredPasswordInText(c.record).kind, c.kind);
    PasswordChecks checks;
    EXPECT_EQ(checks.Opens(c.record, "Secret1"), c.opened);
    for (const char* wrong : {"Secret", "Secret12", "y", ""})
      EXPECT_FALSE(checks.Opens(c.record, wrong));
  }
}

TEST(PasswordStore, StoredLineTakesThePlaceOfThePasswordLineAndDropsTheOther) {
  const std::string hashed = PasswordLine("p&amp;w", PasswordStore::Argon2id);
  EXPECT_TRUE(PasswordChecks().Opens(hashed, "p&amp;w"));
  EXPECT_NE(hashed, PasswordLine("p&amp;w", PasswordStore::Argon2id));  // a salt of its own
  const struct {
    std::string record;
    PasswordToStore line;
    std::string expected;
  } cases[] = {
      {"id=a\r\npw=x\r\nm=1", {kPasswordHashKey, "H"}, "id=a\r\npwhash=H\r\nm=1\r\n"},
      {"pw=x\r\nid=a\r\npwhash=G", {kPlainPasswordKey, "y"}, "id=a\r\npw=y\r\n"},
  };
  for (const auto& c : cases) {
    TFieldEdits edits(c.record);
    StorePassword(edits, c.line);
    std::string text;
    edits.ForEachLine([&text](std::string_view line) { text.append(line).append("\r\n"); });
    EXPECT_EQ(text, c.expected) << c.record;
  }
}

}  // namespace
}  // namespace orvane
