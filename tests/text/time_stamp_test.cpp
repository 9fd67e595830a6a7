#include "gate/text/time_stamp.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane {
namespace {

TEST(TimeStamp, EveryPartZeroPadded) {
  const platform::LocalDateTime early{2024, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(FormatRequestStamp(early), "20240102-030405-006");
  EXPECT_EQ(FormatRequestDay(early), "20240102");
  EXPECT_EQ(FormatLogTime(early), "20240102-03:04:05");
  const platform::LocalDateTime late{2025, 12, 31, 23, 59, 59, 999};
  EXPECT_EQ(FormatRequestStamp(late), "20251231-235959-999");
  EXPECT_EQ(FormatRequestDay(late), "20251231");
  EXPECT_EQ(FormatLogTime(late), "20251231-23:59:59");
  const platform::LocalDateTime old{999, 10, 10, 0, 0, 0, 0};
  EXPECT_EQ(FormatRequestStamp(old), "09991010-000000-000");
}

}  // namespace
}  // namespace orvane
