#include "gate/text/field_list.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/exception.h"
#include "platform/platform.h"
#include "tests/temp_dir.h"

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

TEST(FieldListSplitting, MoreLineBreakCases) {
  const struct {
    const char* label;
    std::string text;
    TFieldList lines;
  } cases[] = {
      {"lone CR is one empty line", "\r", {""}},
      {"two LF are two empty lines", "\n\n", {"", ""}},
      {"CR at the end ends the last line", "a\r", {"a"}},
      {"CR CR LF", "a\r\r\nb", {"a", "", "b"}},
      {"leading NUL gives nothing", std::string("\0a=1", 4), {}},
      {"double-byte characters untouched", "t=\x95\x5c\x82\x0d", {"t=\x95\x5c\x82"}},
      // The reader remembers where the next CR and LF are: these pass one before the other.
      {"many lone CR before one LF", "a\rb\rc\rd\ne", {"a", "b", "c", "d", "e"}},
      {"many lone LF before one CR", "a\nb\nc\rd", {"a", "b", "c", "d"}},
      {"CR LF pairs between lone ends", "a\r\nb\rc\r\nd\ne\r", {"a", "b", "c", "d", "e"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ParseFieldList(c.text), c.lines);
  }
}

// The splitting rule written as a scan that decides at each line-break byte.
TFieldList SplitByReference(const std::string& text) {
  TFieldList lines;
  std::string line;
  bool open = false;
  for (std::size_t i = 0; i < text.size() && text[i] != '\0'; ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      open = false;
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line.push_back(c);
      open = true;
    }
  }
  if (open) lines.push_back(line);
  return lines;
}

TEST(FieldListSplitting, AgreesWithTheRuleOnRandomTexts) {
  std::mt19937 random(3);
  const char kBytes[] = {'\r', '\n', '\0', 'a', '='};
  std::uniform_int_distribution<int> length(0, 10), pick(0, 4);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int n = length(random); n > 0; --n) text.push_back(kBytes[pick(random)]);
    const TFieldList lines = ParseFieldList(text);
    ASSERT_EQ(lines, SplitByReference(text));
    ASSERT_EQ(ParseFieldList(JoinFieldList(lines)), lines);
  }
}

TEST(FieldListLookup, NamesPositionsAndMissingNames) {
  const TFieldList list{"id=abc", "comment", "=x", "ID=def", "a b=1"};
  EXPECT_EQ(FieldName("id=abc"), "id");
  EXPECT_EQ(FieldName("comment"), "");
  EXPECT_EQ(FieldName("=x"), "");
  EXPECT_EQ(FieldName("a=b=c"), "a");
  EXPECT_EQ(FindField(list, "ID"), 0u);
  EXPECT_EQ(FindField(list, ""), 2u);
  EXPECT_EQ(FindField(list, "comment"), std::nullopt);
  EXPECT_EQ(FindField(list, "id2"), std::nullopt);
  EXPECT_EQ(FindField(list, "a b"), 4u);
  EXPECT_EQ(FindField(list, "ab"), std::nullopt);
  EXPECT_EQ(FieldValue(list, "id2"), "");
  EXPECT_EQ(FieldValue(TFieldList{"\xe9=1"}, "\xc9"), "");  // only ASCII letters fold
  EXPECT_EQ(FieldValueInText("x=1\r\n", "y"), "");
}

TEST(FieldListChange, SetKeepsLaterLinesAndLinesWithoutEquals) {
  TFieldList list{"note", "title=A", "TITLE=B"};
  SetFieldValue(list, "title", "C");
  EXPECT_EQ(list, (TFieldList{"note", "title=C", "TITLE=B"}));
  SetFieldValue(list, "title", "");
  EXPECT_EQ(list, (TFieldList{"note", "TITLE=B"}));
  SetFieldValue(list, "note", "");
  EXPECT_EQ(list, (TFieldList{"note", "TITLE=B"}));
  SetFieldValue(list, "v", "x=y");
  EXPECT_EQ(FieldValue(list, "V"), "x=y");
}

TEST(FieldListFiles, WrittenWholeAndReadBack) {
  testing::TempDir temp;
  const std::string file = temp.Path("record.txt");
  testing::WriteBytes(file, std::string(500, 'z'));
  WriteFieldFile(file, TFieldList{"id=abc", "pw=\x95\x5c"});
  EXPECT_EQ(testing::ReadBytes(file), "id=abc\r\npw=\x95\x5c\r\n");
  EXPECT_EQ(ReadFieldFile(file), (TFieldList{"id=abc", "pw=\x95\x5c"}));
  WriteFieldFile(file, TFieldList{});
  EXPECT_EQ(testing::ReadBytes(file), "");
}

TEST(FieldListFiles, MissingOrHeldFilesRaiseErrors) {
  testing::TempDir temp;
  EXPECT_THROW(ReadFieldFile(temp.Path("absent.txt")), EFOpenError);
  EXPECT_THROW(WriteFieldFile(temp.Path("no/dir.txt"), TFieldList{"a=1"}), EFCreateError);
  const std::string file = temp.Path("held.txt");
  testing::WriteBytes(file, "a=1\r\n");
  {
    const platform::File reader = platform::File::Open(file, platform::OpenMode::ReadShared);
    EXPECT_EQ(ReadFieldFile(file), TFieldList{"a=1"});
    EXPECT_THROW(WriteFieldFile(file, TFieldList{"a=2"}), EFCreateError);
  }
  {
    const platform::File writer =
        platform::File::Open(file, platform::OpenMode::ReadWriteExclusive);
    EXPECT_THROW(ReadFieldFile(file), EFOpenError);
  }
  EXPECT_EQ(ReadFieldFile(file), TFieldList{"a=1"});
}

}  // namespace
}  // namespace orvane
