#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <string>

#include "gate/text/field_list.h"
#include "gate/web_module1.h"
#include "host/ascii_case.h"

namespace orvane {
namespace {

// The removal as the repeated delete of the first line of the name.
std::string RemoveByRepeatedDelete(const std::string& text, std::string_view name) {
  TFieldList list = ParseFieldList(text);
  while (const std::optional<std::size_t> found = FindField(list, name)) {
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(*found));
  }
  return JoinFieldList(list);
}

// The check as a lookup of every marked name from the start of the list.
bool CheckByLookup(const std::string& text) {
  const TFieldList list = ParseFieldList(text);
  for (const std::string& line : list) {
    const std::string_view name = FieldName(line);
    if (name.empty()) continue;
    if (LowerCaseAscii(name).find("blank-") != std::string::npos &&
        FieldValue(list, name).empty()) {
      return false;
    }
  }
  return true;
}

std::string RandomFieldText(std::mt19937& random) {
  static const char* const kPieces[] = {"blank-a", "BLANK-A", "Blank-b", "x",  "=",
                                        "=",       "v",       "\r\n",    "\n", "\r",
                                        "blank-",  "b",       "\x81",    "-",  "Xblank-a"};
  std::uniform_int_distribution<int> count(0, 14);
  std::uniform_int_distribution<int> pick(0, std::size(kPieces) - 1);
  std::string text;
  for (int n = count(random); n > 0; --n) text += kPieces[pick(random)];
  return text;
}

TEST(GetFieldValue, ValueOfTheFirstLineOfTheName) {
  TWebModule1 module;
  EXPECT_EQ(module.GetFieldValue("id=abc\r\ncomment=x=y", "comment"), "x=y");
  EXPECT_EQ(module.GetFieldValue("id=abc", "ID"), "abc");
  EXPECT_EQ(module.GetFieldValue("id=abc", "id2"), "");
  EXPECT_EQ(module.GetFieldValue("title=A\nTITLE=B", "Title"), "A");
  EXPECT_EQ(module.GetFieldValue("title\ntitle=B", "title"), "B");
  EXPECT_EQ(module.GetFieldValue(std::string("a=1\0b=2", 7), "b"), "");
  EXPECT_EQ(module.GetFieldValue("=x", ""), "x");
}

struct RemoveCase {
  const char* label;
  std::string text, name, expected;
};

TEST(RemoveField, TableOfCases) {
  const RemoveCase cases[] = {
      {"every line of the name, any case", "title=A\r\nTITLE=B\r\nx=1", "title", "x=1\r\n"},
      {"lone LF rewritten as CR LF", "a=1\nb=2\nc=3", "b", "a=1\r\nc=3\r\n"},
      {"rewritten also when nothing is removed", "a=1\rb=2", "z", "a=1\r\nb=2\r\n"},
      {"line without = stays", "command\r\ncommand=x", "command", "command\r\n"},
      {"=x removed only by the empty name", "=x\r\na=1", "", "a=1\r\n"},
      {"=x kept for another name", "=x", "a", "=x\r\n"},
      {"nothing after a NUL", std::string("a=1\r\nb=2\0c=3", 12), "a", "b=2\r\n"},
      {"empty lines kept", "a=1\n\nb=2", "a", "\r\nb=2\r\n"},
      {"empty text", "", "a", ""},
      {"only the name part counts", "command=x\r\nx=command", "command", "x=command\r\n"},
      // The text is rewritten in its own buffer: these grow or end it in awkward places.
      {"lone line ends widen past the old size", "a\nb\nc", "z", "a\r\nb\r\nc\r\n"},
      {"lone CR before a CR LF", "a\r\r\nb", "z", "a\r\n\r\nb\r\n"},
      {"lone LF then CR is an empty line", "a\n\rb=1", "b", "a\r\n\r\n"},
      {"every line removed", "a=1\na=2\r\n", "A", ""},
      {"unterminated line before a NUL", std::string("a=1\nb\0c", 7), "a", "b\r\n"},
      {"removed last line without a break", "x=1\r\na=2", "a", "x=1\r\n"},
  };
  TWebModule1 module;
  for (const RemoveCase& c : cases) {
    SCOPED_TRACE(c.label);
    std::string text = c.text;
    module.RemoveField(text, c.name);
    EXPECT_EQ(text, c.expected);
  }
}

TEST(RemoveField, NameMayViewTheTextItself) {
  TWebModule1 module;
  std::string text = "ab=1\r\nx=2\r\nAB=3";
  module.RemoveField(text, std::string_view(text).substr(0, 2));
  EXPECT_EQ(text, "x=2\r\n");
}

struct CheckCase {
  const char* label;
  std::string text;
  bool expected;
};

TEST(CheckRequiredFields, TableOfCases) {
  const CheckCase cases[] = {
      {"marked and empty", "blank-title=", false},
      {"marked and filled", "blank-title=x", true},
      {"mixed case counts as marked", "Blank-Title=", false},
      {"marker anywhere in the name", "myBLANK-x=\r\na=1", false},
      {"later empty duplicate does not count", "blank-title=x\r\nblank-title=", true},
      {"later filled duplicate does not help", "BLANK-TITLE=\r\nblank-title=x", false},
      {"marker in the value only", "a=blank-", true},
      {"marker without =", "blank-title", true},
      {"no marked names", "a=\r\nb=", true},
      {"empty text", "", true},
      {"after a NUL nothing is seen", std::string("a=1\0blank-x=", 12), true},
      {"blank without hyphen is not marked", "blank=", true},
  };
  TWebModule1 module;
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(module.CheckRequiredFields(c.text), c.expected);
  }
}

TEST(ModuleFields, AgreeWithTheLineByLineDefinitionsOnRandomTexts) {
  TWebModule1 module;
  std::mt19937 random(11);
  const char* const kNames[] = {"blank-a", "x", "", "b", "BLANK-"};
  for (int round = 0; round < 20000; ++round) {
    const std::string text = RandomFieldText(random);
    SCOPED_TRACE(text);
    ASSERT_EQ(module.CheckRequiredFields(text), CheckByLookup(text));
    const char* name = kNames[round % std::size(kNames)];
    std::string changed = text;
    module.RemoveField(changed, name);
    ASSERT_EQ(changed, RemoveByRepeatedDelete(text, name));
  }
}

TEST(ModuleFields, HundredThousandMarkedFieldsStayLinear) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "blank-" + std::to_string(i) + "=v\r\n";
  for (int i = 0; i < 100000; ++i) text += "blank-" + std::to_string(i) + "=\r\ncommand=x\r\n";
  TWebModule1 module;
  const std::clock_t start = std::clock();
  EXPECT_TRUE(module.CheckRequiredFields(text));
  module.RemoveField(text, "COMMAND");
  EXPECT_EQ(text.find("command"), std::string::npos);
  // A quadratic pass over 300,000 lines would take minutes; a linear one takes far less.
  EXPECT_LT(std::clock() - start, 20 * CLOCKS_PER_SEC);
}

}  // namespace
}  // namespace orvane
