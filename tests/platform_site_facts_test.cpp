#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "temp_dir.h"

namespace orvane {
namespace {

using platform::Answer;
using testing::TempDir;
using testing::WriteBytes;

TEST(ListDirectory, NamesEveryEntryButDotAndDotDot) {
  TempDir dir;
  WriteBytes(dir.Path("a.txt"), "");
  WriteBytes(dir.Path(std::string("\x95\x5C.txt")), "");  // second byte 0x5C in the name
  ::mkdir(dir.Path("sub").c_str(), 0700);
  auto names = platform::ListDirectory(dir.Dir());
  ASSERT_TRUE(names.has_value());
  std::sort(names->begin(), names->end());
  EXPECT_EQ(*names, (std::vector<std::string>{"a.txt", "sub", "\x95\x5C.txt"}));
  EXPECT_FALSE(platform::ListDirectory(dir.Path("missing")).has_value());
  EXPECT_FALSE(platform::ListDirectory(dir.Path("a.txt")).has_value());
}

TEST(OpenToOtherAccounts, FollowsTheBitsForOtherAccounts) {
  struct Case {
    const char* label;
    bool directory;
    mode_t mode;
    Answer expected;
  };
  const Case cases[] = {
      {"private directory", true, 0700, Answer::No},
      {"group only", true, 0770, Answer::No},
      {"others may search", true, 0711, Answer::Yes},
      {"others may list", true, 0704, Answer::Yes},
      {"private file", false, 0600, Answer::No},
      {"file others may read", false, 0644, Answer::Yes},
      {"file others may only run", false, 0701, Answer::No},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = dir.Path(c.label);
    if (c.directory) {
      ::mkdir(path.c_str(), 0700);
    } else {
      WriteBytes(path, "x");
    }
    ::chmod(path.c_str(), c.mode);
    EXPECT_EQ(platform::OpenToOtherAccounts(path), c.expected);
  }
  EXPECT_EQ(platform::OpenToOtherAccounts(dir.Path("missing")), Answer::Unknown);
}

TEST(MayCreateFilesIn, NeedsAnExistingDirectory) {
  TempDir dir;
  WriteBytes(dir.Path("file"), "");
  EXPECT_EQ(platform::MayCreateFilesIn(dir.Dir()), Answer::Yes);
  EXPECT_EQ(platform::MayCreateFilesIn(dir.Path("missing")), Answer::No);
  EXPECT_EQ(platform::MayCreateFilesIn(std::string("a\0b", 3)), Answer::No);
  EXPECT_FALSE(platform::AccountName().empty());
}

}  // namespace
}  // namespace orvane
