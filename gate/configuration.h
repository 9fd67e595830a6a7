// Reading config.txt and a site's settings file into plain settings.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace orvane {

// How a setting's value is taken from its line.
enum class SettingKind {
  Text,       // as written, empty when unset
  Directory,  // with a trailing delimiter, and unset unless it names a directory
};

// One setting of a settings file: its key, how its value is read and where it is kept.
template <typename Settings>
struct SettingKey {
  std::string_view key;
  SettingKind kind;
  std::string Settings::*member;
};

// A setting is a member of one of these structs and a row in the key list that follows it;
// the module holds both structs, so every command reads the setting by its member's name.
struct ConfigSettings {
  std::string sessiondb;
  std::string dumppath;
  std::string allowedorigins;
  // How the gate writes passwords: "plain" (also when unset) or "argon2id".
  std::string passwordstore;
  std::string ipv6prefix;
};

inline constexpr SettingKey<ConfigSettings> kConfigKeys[] = {
    {"sessiondb", SettingKind::Directory, &ConfigSettings::sessiondb},
    {"dumppath", SettingKind::Directory, &ConfigSettings::dumppath},
    {"allowedorigins", SettingKind::Text, &ConfigSettings::allowedorigins},
    {"passwordstore", SettingKind::Text, &ConfigSettings::passwordstore},
    {"ipv6prefix", SettingKind::Text, &ConfigSettings::ipv6prefix},
};

struct SessionSettings {
  std::string path;
  std::string membersdb;
  std::string nameorder;
  std::string FileNameTemplate;
  std::string FileNameCounter;
  std::string DefaultImgFile;
  std::string registrationsperhour;
};

inline constexpr SettingKey<SessionSettings> kSessionKeys[] = {
    {"path", SettingKind::Directory, &SessionSettings::path},
    {"membersdb", SettingKind::Directory, &SessionSettings::membersdb},
    {"nameorder", SettingKind::Text, &SessionSettings::nameorder},
    {"FileNameTemplate", SettingKind::Text, &SessionSettings::FileNameTemplate},
    {"FileNameCounter", SettingKind::Text, &SessionSettings::FileNameCounter},
    {"DefaultImgFile", SettingKind::Text, &SessionSettings::DefaultImgFile},
    {"registrationsperhour", SettingKind::Text, &SessionSettings::registrationsperhour},
};

// The settings of a config.txt; all unset when the file does not exist. Directory
// settings are kept, with a trailing delimiter, only when they name a directory.
ConfigSettings ReadConfigSettings(const std::string& config_file);
// The same for a site settings file.
SessionSettings ReadSessionSettings(const std::string& settings_file);

// Why a settings file leaves the directory setting `key` unset, for the operator's log:
// the file does not exist, does not set the key, or the value names no directory.
std::string UnsetDirectoryReason(const std::string& settings_file, std::string_view key);

}  // namespace orvane
