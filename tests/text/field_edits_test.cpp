#include "gate/text/field_edits.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "gate/text/field_list.h"

namespace orvane {
namespace {

using Change = std::pair<std::string, std::string>;  // name, value ("" removes)

// The edited text as the record writer joins it.
std::string Joined(const TFieldEdits& edits) {
  std::string text;
  edits.ForEachLine([&text](std::string_view line) { text.append(line).append("\r\n"); });
  return text;
}

// Makes the changes both ways, the edits and the list they stand for, and compares every
// value asked for on the way and the lines given out at the end.
void ExpectSameAsList(const std::string& text, const std::vector<Change>& changes) {
  TFieldEdits edits(text);
  TFieldList list = ParseFieldList(text);
  for (const auto& [name, value] : changes) {
    ASSERT_EQ(edits.Value(name), FieldValue(list, name)) << "before setting " << name;
    edits.Set(name, value);
    SetFieldValue(list, name, value);
    ASSERT_EQ(edits.Value(name), FieldValue(list, name)) << "after setting " << name;
  }
  EXPECT_EQ(Joined(edits), JoinFieldList(list));
}

TEST(FieldEdits, ChangesGiveWhatTheSameChangesToTheListGive) {
  const struct {
    const char* label;
    std::string text;
    std::vector<Change> changes;
  } cases[] = {
      {"nothing changed, line ends made CR LF", "a=1\nb=2\rc=3\r\n\r\nd", {}},
      {"replace keeps the place", "id=t\r\npw=x\r\nmail=m\r\n", {{"pw", "y"}}},
      {"missing names are appended in order", "id=t\r\n", {{"b", "2"}, {"a", "1"}}},
      {"empty value removes the first line only", "a=1\r\na=2\r\n", {{"a", ""}, {"a", ""}}},
      {"removing an absent name adds nothing", "a=1\r\n", {{"z", ""}}},
      {"names match ignoring case", "Mail=old\r\n", {{"MAIL", "new"}}},
      {"set twice, then removed", "a=1\r\n", {{"a", "2"}, {"a", "3"}, {"a", ""}}},
      {"appended, changed, removed", "", {{"n", "1"}, {"n", "2"}, {"n", ""}, {"n", "4"}}},
      {"a line without = is no field", "pw\r\npw=x\r\n", {{"pw", "y"}}},
      {"NUL ends the text", std::string("a=1\r\n\0b=2\r\n", 11), {{"b", "3"}}},
      {"value holding =", "a=b=c\r\n", {{"a", "d=e"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ExpectSameAsList(c.text, c.changes);
  }
}

TEST(FieldEdits, RandomTextsAndChangesMatchTheList) {
  const char* const pieces[] = {"a=1", "A=2", "b=", "b=x", "c", "=v", "\r\n", "\r", "\n", "\r\n"};
  const char* const names[] = {"a", "b", "c", "B", "d"};
  const char* const values[] = {"", "v", "w=1", ""};
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (int i = static_cast<int>(random() % 12); i > 0; --i) text += pieces[random() % 10];
    std::vector<Change> changes;
    for (int i = static_cast<int>(random() % 6); i > 0; --i) {
      changes.emplace_back(names[random() % 5], values[random() % 4]);
    }
    SCOPED_TRACE(text);
    ExpectSameAsList(text, changes);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace orvane
