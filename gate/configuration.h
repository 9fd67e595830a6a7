// Reading config.txt and a site's settings file into plain settings.
#pragma once

#include <string>

namespace orvane {

struct ConfigSettings {
  std::string sessiondb;
  std::string dumppath;
};

struct SessionSettings {
  std::string path;
  std::string membersdb;
  std::string nameorder;
  std::string FileNameTemplate;
  std::string FileNameCounter;
  std::string DefaultImgFile;
};

// The settings of a config.txt; all unset when the file does not exist. Directory
// settings are kept, with a trailing delimiter, only when they name a directory.
ConfigSettings ReadConfigSettings(const std::string& config_file);
// The same for a site settings file.
SessionSettings ReadSessionSettings(const std::string& settings_file);

}  // namespace orvane
