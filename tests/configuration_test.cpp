#include "gate/configuration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "gate/web_module1.h"
#include "host/ascii_case.h"
#include "platform/exception.h"
#include "platform/platform.h"
#include "tests/temp_dir.h"

namespace orvane {
namespace {

using testing::TempDir;
using testing::WriteBytes;

TEST(GetExecutableDirectory, DirectoryOfTheRunningProgramWithADelimiter) {
  TWebModule1 module;
  const std::string expected =
      std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/";
  EXPECT_EQ(module.GetExecutableDirectory(), expected);
}

// A member without a key row is never read, and two rows for one key or one member let
// a setting take another's value; keys in the files ignore case.
template <typename Settings, std::size_t N>
void ExpectOneRowPerMember(const SettingKey<Settings> (&keys)[N]) {
  EXPECT_EQ(N * sizeof(std::string), sizeof(Settings));
  for (std::size_t i = 0; i < N; ++i) {
    for (std::size_t j = i + 1; j < N; ++j) {
      EXPECT_FALSE(EqualsIgnoringAsciiCase(keys[i].key, keys[j].key)) << keys[i].key;
      EXPECT_NE(keys[i].member, keys[j].member) << keys[i].key;
    }
  }
}

TEST(SettingKeys, EveryMemberIsReadFromAKeyOfItsOwn) {
  ExpectOneRowPerMember(kConfigKeys);
  ExpectOneRowPerMember(kSessionKeys);
}

class ConfigurationFiles : public ::testing::Test {
 protected:
  TempDir temp;
  std::string sessions = temp.Path("sessions");
  std::string dumps = temp.Path("dumps");
  void SetUp() override {
    std::filesystem::create_directory(sessions);
    std::filesystem::create_directory(dumps);
  }
};

TEST_F(ConfigurationFiles, DirectoriesGetADelimiterWhenTheyExist) {
  WriteBytes(temp.Path("config.txt"), "sessiondb=" + sessions + "\r\ndumppath=" + dumps + "/\r\n");
  const ConfigSettings settings = ReadConfigSettings(temp.Path("config.txt"));
  EXPECT_EQ(settings.sessiondb, sessions + "/");
  EXPECT_EQ(settings.dumppath, dumps + "/");
}

TEST_F(ConfigurationFiles, MissingEmptyOrAbsentDirectoriesStayUnset) {
  const struct {
    const char* label;
    std::string content;
  } cases[] = {
      {"no lines", ""},
      {"empty values", "sessiondb=\r\ndumppath="},
      {"missing directories",
       "sessiondb=" + temp.Path("nothing") + "\ndumppath=" + temp.Path("x/y")},
      {"a file is no directory", "sessiondb=" + temp.Path("config.txt")},
      {"space before = is another name", "sessiondb =" + sessions + "\r\ndumppath =" + dumps},
      {"values are not trimmed", "sessiondb= " + sessions},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    WriteBytes(temp.Path("config.txt"), c.content);
    const ConfigSettings settings = ReadConfigSettings(temp.Path("config.txt"));
    EXPECT_EQ(settings.sessiondb, "");
    EXPECT_EQ(settings.dumppath, "");
  }
  const ConfigSettings none = ReadConfigSettings(temp.Path("absent.txt"));
  EXPECT_EQ(none.sessiondb, "");
  EXPECT_EQ(none.dumppath, "");
}

TEST_F(ConfigurationFiles, KeysIgnoreCaseAndTheFirstLineWins) {
  WriteBytes(temp.Path("config.txt"), "note\r\nSESSIONDB=" + sessions + "\nsessiondb=" + dumps +
                                          "\rDumpPath=" + temp.Path("nothing") +
                                          "\ndumppath=" + dumps);
  const ConfigSettings settings = ReadConfigSettings(temp.Path("config.txt"));
  EXPECT_EQ(settings.sessiondb, sessions + "/");
  EXPECT_EQ(settings.dumppath, "");  // the first dumppath names no directory
}

TEST_F(ConfigurationFiles, DirectoryNamedWithShiftJisBytesIsFound) {
  const std::string sjis = temp.Path("\x95\x5c");  // 表
  std::filesystem::create_directory(sjis);
  WriteBytes(temp.Path("config.txt"), "sessiondb=" + sjis);
  EXPECT_EQ(ReadConfigSettings(temp.Path("config.txt")).sessiondb, sjis + "/");
}

TEST_F(ConfigurationFiles, SessionSettingsDirectoriesCheckedOthersAsWritten) {
  WriteBytes(temp.Path("site.txt"),
             "Path=" + dumps + "\r\nMEMBERSDB=" + sessions +
                 "/\r\nnameorder=num3d\r\n"
                 "filenametemplate=img###\r\nFileNameCounter= c.txt\r\nDefaultImgFile=d=1.jpg\r\n"
                 "nameorder=other\r\nextra=kept\r\n");
  const SessionSettings settings = ReadSessionSettings(temp.Path("site.txt"));
  EXPECT_EQ(settings.path, dumps + "/");
  EXPECT_EQ(settings.membersdb, sessions + "/");
  EXPECT_EQ(settings.nameorder, "num3d");
  EXPECT_EQ(settings.FileNameTemplate, "img###");
  EXPECT_EQ(settings.FileNameCounter, " c.txt");
  EXPECT_EQ(settings.DefaultImgFile, "d=1.jpg");
}

TEST_F(ConfigurationFiles, SessionPathNamingNoDirectoryIsDropped) {
  WriteBytes(temp.Path("site.txt"), "path=" + temp.Path("gone") + "\nmembersdb=\nnameorder=\n");
  const SessionSettings settings = ReadSessionSettings(temp.Path("site.txt"));
  EXPECT_EQ(settings.path, "");
  EXPECT_EQ(settings.membersdb, "");
  EXPECT_EQ(settings.nameorder, "");
}

TEST_F(ConfigurationFiles, LoadSessionSettingsClearsWhatAnEarlierSiteSet) {
  WriteBytes(sessions + "/a.txt", "path=" + dumps + "\nmembersdb=" + dumps +
                                      "\nnameorder=num3d\n"
                                      "FileNameTemplate=t\nFileNameCounter=c\nDefaultImgFile=d\n");
  WriteBytes(sessions + "/b.txt", "path=" + dumps + "\n");
  WriteBytes(sessions + "/.txt", "membersdb=" + sessions + "\n");
  TWebModule1 module;
  module.sessiondb = sessions + "/";
  module.LoadSessionSettings("a");
  EXPECT_EQ(module.nameorder, "num3d");
  EXPECT_EQ(module.DefaultImgFile, "d");
  module.LoadSessionSettings("b");
  EXPECT_EQ(module.path, dumps + "/");
  EXPECT_EQ(module.membersdb, "");
  EXPECT_EQ(module.nameorder, "");
  EXPECT_EQ(module.FileNameTemplate, "");
  EXPECT_EQ(module.FileNameCounter, "");
  EXPECT_EQ(module.DefaultImgFile, "");
  module.LoadSessionSettings("");  // names the file ".txt"
  EXPECT_EQ(module.path, "");
  EXPECT_EQ(module.membersdb, sessions + "/");
  module.LoadSessionSettings("missing");
  EXPECT_EQ(module.membersdb, "");
}

TEST_F(ConfigurationFiles, SessionNameThatLeavesTheDirectoryNamesNoSite) {
  WriteBytes(temp.Path("outside.txt"), "path=" + dumps + "\nmembersdb=" + dumps + "\n");
  WriteBytes(sessions + "/\x95\x5c.txt", "path=" + dumps + "\n");  // 表.txt
  TWebModule1 module;
  module.sessiondb = sessions + "/";
  for (const char* name : {"../outside", "..\\outside", "x/../../outside", "C:outside"}) {
    SCOPED_TRACE(name);
    module.path = "stale";
    module.LoadSessionSettings(name);
    EXPECT_EQ(module.path, "");
    EXPECT_EQ(module.membersdb, "");
  }
  module.LoadSessionSettings("\x95\x5c");
  EXPECT_EQ(module.path, dumps + "/");
}

TEST_F(ConfigurationFiles, SettingsFileHeldForWritingIsAnError) {
  WriteBytes(temp.Path("site.txt"), "path=" + dumps);
  const platform::File held =
      platform::File::Open(temp.Path("site.txt"), platform::OpenMode::CreateExclusive);
  EXPECT_THROW(ReadSessionSettings(temp.Path("site.txt")), EFOpenError);
}

// Only a file is read: nothing at the path, or a directory, means no settings, while a
// file that cannot be read is an error.
TEST_F(ConfigurationFiles, WhatStandsAtTheSettingsPathDecidesBetweenNoneAndAnError) {
  ASSERT_EQ(mkfifo(temp.Path("fifo.txt").c_str(), 0666), 0);
  const struct {
    const char* label;
    std::string path;
    bool raises;
  } cases[] = {
      {"nothing", temp.Path("absent.txt"), false},
      {"below a missing directory", temp.Path("gone/site.txt"), false},
      {"a directory", sessions, false},
      {"below a file", temp.Path("fifo.txt/site.txt"), false},
      {"a FIFO", temp.Path("fifo.txt"), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.raises) {
      EXPECT_THROW(ReadConfigSettings(c.path), EInOutError);
      EXPECT_THROW(ReadSessionSettings(c.path), EInOutError);
      continue;
    }
    EXPECT_EQ(ReadConfigSettings(c.path).sessiondb, "");
    EXPECT_EQ(ReadSessionSettings(c.path).path, "");
  }
}

TEST(LoadConfig, ClearsBothSettingsWithoutAConfigFile) {
  TWebModule1 module;
  if (std::filesystem::exists(module.GetExecutableDirectory() + "config.txt")) {
    GTEST_SKIP() << "a config.txt lies beside the test program";
  }
  module.sessiondb = "stale/";
  module.dumppath = "stale/";
  module.LoadConfig();
  EXPECT_EQ(module.sessiondb, "");
  EXPECT_EQ(module.dumppath, "");
}

}  // namespace
}  // namespace orvane
