#include "gate/text/file_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/exception.h"
#include "platform/platform.h"
#include "tests/temp_dir.h"

namespace orvane {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// "ファイル \"" and "\". " and " は開けません" / " を作成できません" as Shift_JIS bytes.
const std::string kFilePrefix = "\x83\x74\x83\x40\x83\x43\x83\x8b\x20\x22";
const std::string kCannotOpen = "\x20\x82\xcd\x8a\x4a\x82\xaf\x82\xdc\x82\xb9\x82\xf1";
const std::string kCannotCreate =
    "\x20\x82\xf0\x8d\xec\x90\xac\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1";

bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}
bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(SaveStringToFile, OverALongerFileLeavesOnlyTheNewContent) {
  TempDir temp;
  const std::string file = temp.Path("f.txt");
  WriteBytes(file, std::string(1000, 'x'));
  SaveStringToFile("new", file);
  EXPECT_EQ(ReadBytes(file), "new");
  SaveStringToFile("", file);
  EXPECT_EQ(std::filesystem::file_size(file), 0u);
}

TEST(FileText, BinaryContentRoundTripsByteForByte) {
  TempDir temp;
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  bytes += "\r\n\r";
  SaveStringToFile(bytes, temp.Path("b.bin"));
  EXPECT_EQ(LoadFileToString(temp.Path("b.bin")), bytes);
  EXPECT_EQ(ReadBytes(temp.Path("b.bin")), bytes);
}

TEST(LoadFileToString, FileHeldForWritingIsRefusedWithItsPath) {
  TempDir temp;
  const std::string file = temp.Path("held.txt");
  platform::File held = platform::File::Open(file, platform::OpenMode::CreateExclusive);
  try {
    LoadFileToString(file);
    FAIL() << "no error";
  } catch (const EFOpenError& error) {
    EXPECT_TRUE(error.IsSharingViolation());
    EXPECT_EQ(error.ErrorCode(), platform::kHeldByAnotherProcess);
    EXPECT_TRUE(StartsWith(error.Message(), kFilePrefix + file + "\". ")) << error.Message();
    EXPECT_TRUE(EndsWith(error.Message(), kCannotOpen)) << error.Message();
  }
  held.Close();
  EXPECT_EQ(LoadFileToString(file), "");
}

TEST(LoadFileToString, MissingFileIsAnOpenError) {
  TempDir temp;
  EXPECT_THROW(LoadFileToString(temp.Path("absent.txt")), EFOpenError);
  EXPECT_THROW(LoadFileToString(temp.Dir()), EFOpenError);
}

TEST(SaveStringToFile, FileHeldByAReaderIsRefusedAndKept) {
  TempDir temp;
  const std::string file = temp.Path("read.txt");
  WriteBytes(file, "old content");
  const platform::File reader = platform::File::Open(file, platform::OpenMode::ReadShared);
  try {
    SaveStringToFile("new", file);
    FAIL() << "no error";
  } catch (const EFCreateError& error) {
    EXPECT_TRUE(error.IsSharingViolation());
    EXPECT_TRUE(StartsWith(error.Message(), kFilePrefix + file + "\". ")) << error.Message();
    EXPECT_TRUE(EndsWith(error.Message(), kCannotCreate)) << error.Message();
  }
  EXPECT_EQ(ReadBytes(file), "old content");
  // Readers share with readers.
  EXPECT_EQ(LoadFileToString(file), "old content");
}

TEST(SaveStringToFile, MissingDirectoryIsACreateError) {
  TempDir temp;
  EXPECT_THROW(SaveStringToFile("x", temp.Path("no/such.txt")), EFCreateError);
}

}  // namespace
}  // namespace orvane
