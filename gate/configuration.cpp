// The gate's configuration: config.txt beside the executable and the site settings.
#include "gate/configuration.h"

#include <optional>

#include "gate/field_list.h"
#include "gate/path_text.h"
#include "gate/safe_name.h"
#include "gate/web_module1.h"
#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane {
namespace {

// A directory value with its trailing delimiter, or unset when it names no directory.
std::string DirectorySetting(const TFieldList& list, std::string_view key) {
  const std::string value = FieldValue(list, key);
  if (value.empty()) return std::string();
  std::string directory = IncludeTrailingDelimiter(value);
  return platform::DirectoryExists(directory) ? directory : std::string();
}

// The fields of a settings file, or none when no file stands at the path. The file is
// opened straight away: only a failed open asks whether a file is there, so a missing
// file gives no settings and every other failure is raised.
std::optional<TFieldList> ReadFieldFileIfPresent(const std::string& path) {
  try {
    return ReadFieldFile(path);
  } catch (const EOSFileError&) {
    if (platform::FileExists(path)) throw;
    return std::nullopt;
  }
}

}  // namespace

ConfigSettings ReadConfigSettings(const std::string& config_file) {
  ConfigSettings settings;
  const std::optional<TFieldList> read = ReadFieldFileIfPresent(config_file);
  if (!read) return settings;
  const TFieldList& list = *read;
  settings.sessiondb = DirectorySetting(list, "sessiondb");
  settings.dumppath = DirectorySetting(list, "dumppath");
  return settings;
}

SessionSettings ReadSessionSettings(const std::string& settings_file) {
  SessionSettings settings;
  const std::optional<TFieldList> read = ReadFieldFileIfPresent(settings_file);
  if (!read) return settings;
  const TFieldList& list = *read;
  settings.path = DirectorySetting(list, "path");
  settings.membersdb = DirectorySetting(list, "membersdb");
  settings.nameorder = FieldValue(list, "nameorder");
  settings.FileNameTemplate = FieldValue(list, "FileNameTemplate");
  settings.FileNameCounter = FieldValue(list, "FileNameCounter");
  settings.DefaultImgFile = FieldValue(list, "DefaultImgFile");
  return settings;
}

std::string TWebModule1::GetExecutableDirectory() {
  const char delimiter = platform::PathDelimiter();
  return IncludeTrailingDelimiter(DirectoryPart(platform::ExecutablePath(), delimiter), delimiter);
}

void TWebModule1::LoadConfig() {
  sessiondb.clear();
  dumppath.clear();
  ConfigSettings settings = ReadConfigSettings(GetExecutableDirectory() + "config.txt");
  sessiondb = std::move(settings.sessiondb);
  dumppath = std::move(settings.dumppath);
}

void TWebModule1::LoadSessionSettings(const std::string& session) {
  path.clear();
  membersdb.clear();
  nameorder.clear();
  FileNameTemplate.clear();
  FileNameCounter.clear();
  DefaultImgFile.clear();
  // A session name comes from the request; one that leaves the directory names no site.
  if (!IsSafeFileNamePart(session)) return;
  SessionSettings settings = ReadSessionSettings(sessiondb + session + ".txt");
  path = std::move(settings.path);
  membersdb = std::move(settings.membersdb);
  nameorder = std::move(settings.nameorder);
  FileNameTemplate = std::move(settings.FileNameTemplate);
  FileNameCounter = std::move(settings.FileNameCounter);
  DefaultImgFile = std::move(settings.DefaultImgFile);
}

}  // namespace orvane
