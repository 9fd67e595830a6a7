// The gate's configuration: config.txt beside the executable and the site settings.
#include "gate/configuration.h"

#include <optional>

#include "gate/text/field_list.h"
#include "gate/text/path_text.h"
#include "gate/text/safe_name.h"
#include "gate/web_module1.h"
#include "host/server_error_page.h"
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

// Every listed setting read from the file, or all unset when there is no file.
template <typename Settings>
Settings ReadSettings(const std::string& file, std::span<const SettingKey<Settings>> keys) {
  Settings settings;
  const std::optional<TFieldList> read = ReadFieldFileIfPresent(file);
  if (!read) return settings;
  for (const SettingKey<Settings>& setting : keys) {
    settings.*setting.member = setting.kind == SettingKind::Directory
                                   ? DirectorySetting(*read, setting.key)
                                   : FieldValue(*read, setting.key);
  }
  return settings;
}

}  // namespace

ConfigSettings ReadConfigSettings(const std::string& config_file) {
  return ReadSettings<ConfigSettings>(config_file, kConfigKeys);
}

SessionSettings ReadSessionSettings(const std::string& settings_file) {
  return ReadSettings<SessionSettings>(settings_file, kSessionKeys);
}

std::string UnsetDirectoryReason(const std::string& settings_file, std::string_view key) {
  const std::string file = "\"" + platform::FullPath(settings_file) + "\"";
  try {
    const std::optional<TFieldList> read = ReadFieldFileIfPresent(settings_file);
    if (!read) return file + " does not exist";
    const std::string value = FieldValue(*read, key);
    if (value.empty()) return file + " sets no " + std::string(key);
    return std::string(key) + " \"" + value + "\" of " + file + " names no directory";
  } catch (const Exception& e) {
    // Replaced meanwhile by something that cannot be read.
    return e.Message();
  }
}

std::string TWebModule1::GetExecutableDirectory() {
  const char delimiter = platform::PathDelimiter();
  return IncludeTrailingDelimiter(DirectoryPart(platform::ExecutablePath(), delimiter), delimiter);
}

// Each load first unsets what an earlier one read, so a file that cannot be read
// leaves no settings of another site behind.
void TWebModule1::LoadConfig() {
  ConfigSettings& settings = *this;
  settings = ConfigSettings();
  settings = ReadConfigSettings(GetExecutableDirectory() + "config.txt");
}

void TWebModule1::LogConfigurationFailure(TWebRequest& request, std::string_view failure,
                                          std::optional<std::string_view> session,
                                          std::string_view key) {
  std::string settings_file = GetExecutableDirectory() + "config.txt";
  if (session) {
    // A session without a settings file is the visitor's choice, not the operator's fault.
    if (session->empty() || !IsSafeFileNamePart(*session)) return;
    settings_file = sessiondb + std::string(*session) + ".txt";
    if (!platform::FileExists(settings_file)) return;
  }
  platform::WriteStderr(RequestLogLine(
      "configuration", std::string(failure) + ": " + UnsetDirectoryReason(settings_file, key),
      request.GetStringVariable(rvMethod), request.GetDispatchScriptName()));
}

void TWebModule1::LoadSessionSettings(const std::string& session) {
  SessionSettings& settings = *this;
  settings = SessionSettings();
  // A session name comes from the request; one that leaves the directory names no site.
  if (!IsSafeFileNamePart(session)) return;
  settings = ReadSessionSettings(sessiondb + session + ".txt");
}

}  // namespace orvane
