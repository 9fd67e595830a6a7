#include "gate/field_list.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(FieldListSplitting, LineBreaksOfEveryKindEndALine) {
  EXPECT_EQ(ParseFieldList("a\r\nb"), (TFieldList{"a", "b"}));
  EXPECT_EQ(ParseFieldList("a\nb"), (TFieldList{"a", "b"}));
  EXPECT_EQ(ParseFieldList("a\rb"), (TFieldList{"a", "b"}));
  EXPECT_EQ(ParseFieldList("a\n\rb"), (TFieldList{"a", "", "b"}));
  EXPECT_EQ(ParseFieldList("a\r\n\r\nb"), (TFieldList{"a", "", "b"}));
  EXPECT_EQ(ParseFieldList("a\r\n"), (TFieldList{"a"}));
  EXPECT_TRUE(ParseFieldList("").empty());
}

TEST(FieldListSplitting, NulByteEndsTheText) {
  EXPECT_EQ(ParseFieldList(std::string("a=1\r\nb=2\0c=3\r\n", 15)), (TFieldList{"a=1", "b=2"}));
}

TEST(FieldListLookup, FirstLineOfTheNameWinsIgnoringCase) {
  const TFieldList list{"note", "=x", "title=A", "TITLE=B", "comment=x=y"};
  EXPECT_EQ(FieldValue(list, "Title"), "A");
  EXPECT_EQ(FieldValue(list, "comment"), "x=y");
  EXPECT_EQ(FieldValue(list, ""), "x");
  EXPECT_EQ(FieldValue(list, "note"), "");
  EXPECT_EQ(FieldValueInText("id=abc\nID=def", "Id"), "abc");
}

TEST(FieldListChange, SetReplacesFirstLineAppendsOrDeletes) {
  TFieldList list{"title=A", "TITLE=B"};
  SetFieldValue(list, "Title", "D");
  EXPECT_EQ(list, (TFieldList{"Title=D", "TITLE=B"}));
  SetFieldValue(list, "mail", "m");
  EXPECT_EQ(list, (TFieldList{"Title=D", "TITLE=B", "mail=m"}));
  SetFieldValue(list, "title", "");
  EXPECT_EQ(list, (TFieldList{"TITLE=B", "mail=m"}));
  SetFieldValue(list, "absent", "");
  EXPECT_EQ(JoinFieldList(list), "TITLE=B\r\nmail=m\r\n");
}

}  // namespace
}  // namespace orvane
