#include "gate/leaves/number_template.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace orvane {
namespace {

TEST(NumberTemplate, DigitsFillThePlaceholdersLeftToRight) {
  struct Case {
    const char* label;
    std::int64_t number;
    const char* name_template;
    const char* expected;
  };
  const Case cases[] = {
      {"padded", 7, "leaf###", "leaf007"},
      {"cut to lowest digits", 1234, "###", "234"},
      {"wraps to zeros", 1000, "###", "000"},
      {"scattered placeholders", 5, "a#b#", "a0b5"},
      {"exact width", 42, "n##", "n42"},
      {"zero", 0, "##", "00"},
      {"no placeholder", 99, "fixed", "fixed"},
      {"empty template", 3, "", ""},
      {"negative keeps its sign", -12, "x####", "x0-12"},
      {"negative cut", -1234, "###", "234"},
      {"negative exact", -12, "###", "-12"},
      {"largest number", std::numeric_limits<std::int64_t>::max(), "####", "5807"},
      // A lead byte before "#" does not hide it: "#" is never a second byte.
      {"double-byte text kept", 3, "\x83\x5C##",
       "\x83\x5C"
       "03"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ApplyNumberTemplate(c.number, c.name_template), c.expected);
  }
}

TEST(NumberTemplate, NameCountIsTenToThePlaceholderCount) {
  EXPECT_EQ(NumberTemplateNameCount("fixed"), 1u);
  EXPECT_EQ(NumberTemplateNameCount("a#b#"), 100u);
  EXPECT_EQ(NumberTemplateNameCount("leaf####"), 10000u);
  EXPECT_EQ(NumberTemplateNameCount(std::string(19, '#')), 10000000000000000000u);
  EXPECT_EQ(NumberTemplateNameCount(std::string(20, '#')),
            std::numeric_limits<std::uint64_t>::max());
}

}  // namespace
}  // namespace orvane
