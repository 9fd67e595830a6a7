#include "gate/operator/site_check.h"

#include <algorithm>
#include <optional>
#include <set>

#include "gate/accounts/password_store.h"
#include "gate/form/cross_site.h"
#include "gate/text/field_list.h"
#include "gate/text/safe_name.h"
#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane {
namespace {

using platform::Answer;

std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  return quoted.append(1, '"').append(text).append(1, '"');
}

// Why a directory value was dropped, as a request silently drops it.
std::string UnusableDirectory(std::string_view key, std::string_view value) {
  if (value.empty()) return std::string(key) + " is not set";
  return std::string(key) + " names no directory: " + Quoted(value) +
         " does not exist or is not a directory";
}

// The field list of a settings file, or none (reported) when it cannot be read.
std::optional<TFieldList> ReadSettingsFile(SiteReport& report, const std::string& file) {
  try {
    return ReadFieldFile(file);
  } catch (const Exception& e) {
    report.Error(file + " cannot be read: " + e.Message(),
                 "give the account " + platform::AccountName() + " read access to it");
    return std::nullopt;
  }
}

void CheckWritableDirectory(SiteReport& report, const std::string& directory, std::string_view key,
                            std::string_view consequence) {
  if (platform::MayCreateFilesIn(directory) != Answer::No) return;
  const std::string account = platform::AccountName();
  report.Error(
      "the account " + account + " cannot create files in " + std::string(key) + " " + directory +
          ": " + std::string(consequence),
      "give " + account + " write access to " + directory + " (for example as its owner or group)");
}

void CheckPrivateDirectory(SiteReport& report, const std::string& directory,
                           std::string_view holding) {
  if (platform::OpenToOtherAccounts(directory) != Answer::Yes) return;
  report.Warning(directory + " is readable by other accounts, and it holds " + std::string(holding),
                 "chmod o-rwx " + directory +
                     " (the web server's account keeps its access as owner or group)");
}

void CheckErrorLog(SiteReport& report, const std::string& executable_directory) {
  const std::string file = executable_directory + "error.txt";
  const bool writable = platform::FileExists(file)
                            ? platform::MayWrite(file) != Answer::No
                            : !platform::DirectoryExists(file) &&
                                  platform::MayCreateFilesIn(executable_directory) != Answer::No;
  report.Setting("error log", file, writable ? "writable" : "cannot be written");
  if (writable) return;
  report.Warning(file +
                     " cannot be written: a request that meets a sessiondb error fails "
                     "with status 500 instead of an empty page",
                 "let the account " + platform::AccountName() +
                     " create or rewrite error.txt beside the executable");
}

// The system's code page changes no name: names are converted from Shift_JIS explicitly.
void CheckCodePage(SiteReport& report) {
  const std::optional<int> code_page = platform::SystemCodePage();
  if (!code_page) return;
  report.Setting("system code page", std::to_string(*code_page),
                 "names are read as Shift_JIS (932) under any code page");
}

void CheckDumpDirectory(SiteReport& report, const TFieldList& config,
                        const ConfigSettings& settings) {
  const std::string value = FieldValue(config, "dumppath");
  report.Setting("dumppath", value,
                 settings.dumppath.empty() ? "no body dumps" : settings.dumppath);
  CheckAbsolutePath(report, "dumppath", value);
  if (settings.dumppath.empty()) {
    if (!value.empty()) {
      report.Warning(UnusableDirectory("dumppath", value) + ", so no body is dumped",
                     "create the directory, or remove the dumppath line");
    }
    return;
  }
  // Dumps are for chasing a fault, not for a site left open: every anonymous body is
  // kept whole, passwords included, and nothing bounds what they take on disk.
  report.Warning("request bodies are dumped to " + settings.dumppath +
                     ": they keep members' passwords, and any visitor can fill the disk",
                 "remove the dumppath line from config.txt once the dumps are no longer needed");
  CheckWritableDirectory(report, settings.dumppath, "dumppath",
                         "every request but a profile query fails with status 500");
  CheckPrivateDirectory(report, settings.dumppath, "request bodies with their passwords");
}

// The origins let in besides the site's own; an entry that is not one lets nothing in.
void CheckAllowedOrigins(SiteReport& report, const ConfigSettings& settings) {
  report.Setting("allowedorigins", settings.allowedorigins,
                 settings.allowedorigins.empty() ? "forms only from the site's own pages"
                                                 : "forms also from these pages");
  for (const std::string& entry : MalformedOrigins(settings.allowedorigins)) {
    report.Warning("allowedorigins holds " + entry +
                       ", which is not an origin: no form posted from it is accepted",
                   "write each entry as scheme://host or scheme://host:port, e.g. "
                   "https://www.example.com, separated by spaces");
  }
}

// The store of the passwords the gate writes, with a warning while they are kept readable.
void CheckPasswordStore(SiteReport& report, const std::string& setting) {
  const bool hashed = PasswordStoreOf(setting) == PasswordStore::Argon2id;
  report.Setting("passwordstore", setting, hashed ? "argon2id" : "plain");
  if (!IsKnownPasswordStore(setting)) {
    report.Warning("passwordstore " + setting + " is neither plain nor argon2id",
                   "set passwordstore=argon2id in config.txt");
  } else if (!hashed) {
    report.Warning(
        "passwords are written in plain text into the member records, where whoever reads "
        "a record or a backup of it reads them",
        "set passwordstore=argon2id in config.txt: each record then holds a hash from its "
        "owner's next right password on (a build older than this one opens no hashed record)");
  }
}

}  // namespace

void CheckAbsolutePath(SiteReport& report, std::string_view key, const std::string& value) {
  const std::string full = platform::FullPath(value);
  if (value.empty() || full == value) return;
  report.Warning(std::string(key) +
                     " is a relative path: a request resolves it against the web "
                     "server's working directory, which may not be where this check looked (" +
                     full + ")",
                 "write the full path");
}

namespace {

// The sessions to check: those named, or every settings file of the session directory.
std::vector<std::string> SessionsToCheck(SiteReport& report, const std::string& sessiondb,
                                         const std::vector<std::string>& named) {
  if (!named.empty()) return named;
  std::vector<std::string> sessions;
  const auto entries = platform::ListDirectory(sessiondb);
  if (!entries) {
    report.Error("the session directory " + sessiondb + " cannot be listed",
                 "give the account " + platform::AccountName() +
                     " read access to it, or name the sessions to check");
    return sessions;
  }
  for (const std::string& entry : *entries) {
    const std::string_view name(entry);
    if (name.size() > 4 && name.substr(name.size() - 4) == ".txt" &&
        platform::FileExists(sessiondb + entry)) {
      sessions.emplace_back(name.substr(0, name.size() - 4));
    }
  }
  std::sort(sessions.begin(), sessions.end());
  if (sessions.empty()) {
    report.Error("the session directory " + sessiondb +
                     " holds no settings file: every command "
                     "answers \"The session does not exist\"",
                 "add a file <session>.txt there with path= and membersdb= lines");
  }
  return sessions;
}

// A directory setting of a site: reported with what it resolved to; false when unusable.
bool CheckSiteDirectory(SiteReport& report, const TFieldList& list, std::string_view key,
                        const std::string& resolved, const std::string& file,
                        std::string_view when_unset) {
  const std::string value = FieldValue(list, key);
  report.Setting(key, value, resolved.empty() ? "unusable" : resolved);
  CheckAbsolutePath(report, key, value);
  if (!resolved.empty()) return true;
  report.Error(UnusableDirectory(key, value) + ": " + std::string(when_unset),
               "create the directory, or correct " + std::string(key) + " in " + file);
  return false;
}

void CheckDefaultImage(SiteReport& report, const std::string& image, const std::string& file) {
  report.Setting("DefaultImgFile", image, "");
  if (image.empty()) return;
  CheckAbsolutePath(report, "DefaultImgFile", image);
  if (!platform::FileExists(image)) {
    report.Error("DefaultImgFile " + Quoted(image) +
                     " does not exist: a posting without an "
                     "image answers \"There is no attached file\"",
                 "correct DefaultImgFile in " + file + ", or remove the line");
  } else if (platform::MayRead(image) == Answer::No) {
    report.Error("DefaultImgFile " + Quoted(image) + " cannot be read by the account " +
                     platform::AccountName() + ": a posting without an image fails with status 500",
                 "give the account read access to it");
  }
}

// Record directories already scanned: sites may share one, and its findings are listed once.
using ScannedDirectories = std::set<std::string>;

void CheckRecordsOnce(SiteReport& report, ScannedDirectories& scanned, const std::string& directory,
                      bool leaf_records, bool repair) {
  if (directory.empty() || !scanned.insert(directory).second) return;
  CheckRecordFiles(report, directory, leaf_records);
  CheckHeldFiles(report, directory, leaf_records, repair);
}

void CheckSession(SiteReport& report, const std::string& sessiondb, const std::string& session,
                  ScannedDirectories& scanned, bool repair) {
  const std::string file = sessiondb + session + ".txt";
  report.Section("session " + session + " (" + file + ")");
  if (!IsSafeFileNamePart(session)) {
    report.Error(
        "a request cannot name this session: the name holds a path delimiter, a colon, "
        "a control character or a code that the system would store under other bytes",
        "rename the settings file");
    return;
  }
  if (!platform::FileExists(file)) {
    report.Error(
        "the settings file does not exist: every command of this session answers "
        "\"The session does not exist\"",
        "create " + file + " with path= and membersdb= lines");
    return;
  }
  const auto list = ReadSettingsFile(report, file);
  if (!list) return;
  SessionSettings settings = ReadSessionSettings(file);
  if (CheckSiteDirectory(report, *list, "path", settings.path, file,
                         "every command answers \"The session does not exist\"")) {
    CheckWritableDirectory(report, settings.path, "path", "every posting fails with status 500");
  }
  if (CheckSiteDirectory(report, *list, "membersdb", settings.membersdb, file,
                         "every command answers \"MemberDB does not exist\"")) {
    CheckWritableDirectory(report, settings.membersdb, "membersdb",
                           "registration, changepw and changeprof2 fail with status 500");
    CheckPrivateDirectory(report, settings.membersdb, "member records with their passwords");
  }
  if (!settings.path.empty()) CheckLeafNaming(report, settings, file);
  CheckDefaultImage(report, settings.DefaultImgFile, file);
  CheckRecordsOnce(report, scanned, settings.membersdb, false, repair);
  CheckRecordsOnce(report, scanned, settings.path, true, repair);
}

}  // namespace

SiteReport CheckSite(const std::string& executable_directory,
                     const std::vector<std::string>& sessions, bool repair) {
  SiteReport report;
  report.Section("Site check of " + executable_directory + " as the account " +
                 platform::AccountName());
  report.Note("(access rights are checked for this account: run the check as the web server's)");
  const std::string config_file = executable_directory + "config.txt";
  report.Section("config.txt (" + config_file + ")");
  CheckErrorLog(report, executable_directory);
  CheckCodePage(report);
  if (!platform::FileExists(config_file)) {
    report.Error(
        "config.txt does not exist: every request answers an empty page and logs "
        "\"sessiondb error\"",
        "create " + config_file +
            " with a line sessiondb=<directory of the site "
            "settings files>");
    return report;
  }
  const auto config = ReadSettingsFile(report, config_file);
  if (!config) return report;
  const ConfigSettings settings = ReadConfigSettings(config_file);
  const std::string sessiondb = FieldValue(*config, "sessiondb");
  report.Setting("sessiondb", sessiondb,
                 settings.sessiondb.empty() ? "unusable" : settings.sessiondb);
  CheckAbsolutePath(report, "sessiondb", sessiondb);
  CheckDumpDirectory(report, *config, settings);
  CheckAllowedOrigins(report, settings);
  CheckPasswordStore(report, settings.passwordstore);
  if (settings.sessiondb.empty()) {
    report.Error(UnusableDirectory("sessiondb", sessiondb) +
                     ": every request answers an "
                     "empty page and logs \"sessiondb error\"",
                 "create the directory, or correct sessiondb in " + config_file);
    return report;
  }
  ScannedDirectories scanned;
  for (const std::string& session : SessionsToCheck(report, settings.sessiondb, sessions)) {
    CheckSession(report, settings.sessiondb, session, scanned, repair);
  }
  return report;
}

}  // namespace orvane
