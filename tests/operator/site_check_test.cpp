#include "gate/operator/site_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_web.h"

namespace orvane {
namespace {

using testing::FromHex;

TEST(FindUnescapedMarkup, ReportsTheFirstMarkupOfEachLine) {
  struct Case {
    const char* label;
    std::string record;
    bool leaf;
    std::vector<std::size_t> lines;
    std::string first_what;
  };
  const Case cases[] = {
      {"escaped values", "id=a\r\nname=&lt;b&gt;&nbsp;&quot;\r\ncomment=x<br>y\r\n", false, {}, ""},
      {"raw <", "id=a\r\nname=<svg>\r\n", false, {2}, "a raw \"<\""},
      {"<BR> is not how line breaks are stored", "c=a<BR>\r\n", false, {1}, "a raw \"<\""},
      {"raw quote", "url1=x\" onmouseover=y\n", false, {1}, "a raw '\"'"},
      {"lead byte before <",
       "a=" + FromHex("81") + "<svg\r\n",
       false,
       {1},
       "a lead byte 0x81 before the byte 0x3C"},
      {"lead byte before space",
       "a=" + FromHex("E0") + " x\r\n",
       false,
       {1},
       "a lead byte 0xE0 before the byte 0x20"},
      {"second byte 0x5C and 0x3F-free kanji",
       "a=" + FromHex("95 5C 83 41") + "\r\n",
       false,
       {},
       ""},
      {"lead byte at the end of a line", "a=" + FromHex("81") + "\r\nb=c\r\n", false, {}, ""},
      {"lines split at CR, LF and CR LF", "a\rb\nc=<\r\n", false, {3}, "a raw \"<\""},
      {"leaf markers", "<qelkeys>\r\nsession=s\r\n\r\n</qelkeys>\r\n", true, {}, ""},
      {"markers in a member record", "<qelkeys>\r\n", false, {1}, "a raw \"<\""},
      {"file name in a leaf record",
       "<qelkeys>\r\nupfile=<img>.png\r\n\r\n</qelkeys>\r\n",
       true,
       {2},
       "a raw \"<\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const auto findings = FindUnescapedMarkup(c.record, c.leaf);
    std::vector<std::size_t> lines;
    for (const auto& finding : findings) lines.push_back(finding.line);
    EXPECT_EQ(lines, c.lines);
    if (!findings.empty()) {
      EXPECT_EQ(findings.front().what, c.first_what);
    }
  }
}

TEST(CountTakenTemplateNames, CountsEachNameOnceWhicheverFileTakesIt) {
  struct Case {
    const char* label;
    std::vector<std::string> entries;
    const char* name_template;
    std::uint64_t taken;
  };
  const Case cases[] = {
      {"image and record of one name", {"001.jpg", "001.txt", "002"}, "###", 2},
      {"other names", {"01.jpg", "0001.jpg", "abc.txt", "00a.jpg", "counter.txt"}, "###", 0},
      {"longer base name is not the name", {"0012.jpg", "001x.jpg"}, "###", 0},
      {"fixed text around the digits", {"leaf07.png", "lea07.png", "leaf7.png"}, "leaf##", 1},
      {"template without #", {"same.jpg", "same.txt", "other"}, "same", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(CountTakenTemplateNames(c.entries, c.name_template), c.taken);
  }
}

TEST(SiteReport, ResultFollowsTheErrors) {
  SiteReport report;
  report.Setting("dumppath", "", "no body dumps");
  report.Warning("w", "");
  EXPECT_EQ(report.Text(),
            "  dumppath = (not set) -> no body dumps\n  WARNING: w\n"
            "Result: 0 errors, 1 warning: the site can serve every command.\n");
  report.Error("e", "f");
  EXPECT_EQ(report.Errors(), 1);
  EXPECT_NE(report.Text().find("  ERROR: e\n    Fix: f\nResult: 1 error, 1 warning: the site "
                               "cannot serve every command.\n"),
            std::string::npos);
}

}  // namespace
}  // namespace orvane
