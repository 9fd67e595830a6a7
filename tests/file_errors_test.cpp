#include "platform/file_errors.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane::platform {
namespace {

struct OpenFailureCase {
  const char* label;
  OpenMode mode;
  bool create_error;  // EFCreateError, else EFOpenError
};

TEST(FileErrors, AnOpenFailureNamesTheFileInFullWithTheSystemTextAndTheModesVerb) {
  const OpenFailureCase cases[] = {
      {"read shared", OpenMode::ReadShared, false},
      {"read-write exclusive", OpenMode::ReadWriteExclusive, false},
      {"create exclusive", OpenMode::CreateExclusive, true},
      {"create new exclusive", OpenMode::CreateNewExclusive, true},
      {"open always exclusive", OpenMode::OpenAlwaysExclusive, true},
  };
  const std::string path =
      "d\x95\x5c"
      "f.txt";  // a Shift_JIS character ending in 0x5C
  for (const OpenFailureCase& c : cases) {
    for (const int code : {kHeldByAnotherProcess, 5}) {
      SCOPED_TRACE(std::string(c.label) + ", code " + std::to_string(code));
      try {
        ThrowOpenFailure(path, c.mode, code);
      } catch (const EOSFileError& error) {
        EXPECT_STREQ(error.ClassName(), c.create_error ? "EFCreateError" : "EFOpenError");
        EXPECT_EQ(error.ErrorCode(), code);
        EXPECT_EQ(error.IsSharingViolation(), code == kHeldByAnotherProcess);
        EXPECT_EQ(error.Message(), "ファイル \"" + FullPath(path) + "\". " + ErrorCodeText(code) +
                                       (c.create_error ? " を作成できません" : " は開けません"));
      }
    }
  }
}

TEST(FileErrors, ReadingAndDevicesAreInOutErrorsThatNeverRetry) {
  try {
    ThrowInOut("f.txt", kHeldByAnotherProcess);
  } catch (const EInOutError& error) {
    EXPECT_FALSE(error.IsSharingViolation());
    EXPECT_EQ(error.Message(),
              "I/O error: \"" + FullPath("f.txt") + "\". " + ErrorCodeText(kHeldByAnotherProcess));
  }
  try {
    ThrowNotRegularFile("NUL", 87);
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), 87);
    EXPECT_EQ(error.Message(), "I/O error: \"" + FullPath("NUL") + "\". Not a regular file");
  }
}

TEST(FileErrors, EverySystemCodeHasAText) {
  for (const int code : {kHeldByAnotherProcess, 2, 5, 112, 999999}) {
    SCOPED_TRACE(code);
    EXPECT_FALSE(ErrorCodeText(code).empty());
  }
}

}  // namespace
}  // namespace orvane::platform
