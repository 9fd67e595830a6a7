// The gate's web module: one action item whose handler does all of the gate's work,
// and the per-request settings and form fields it works on.
//
// Its methods are implemented by group, one file each in gate/:
//   constructor                     web_module1.cpp
//   request handler                 action_handler.cpp
//   command branches                account_commands.cpp, leaf_posting.cpp (CommandPostLeaf)
//   field operations                module_fields.cpp
//   configuration and settings      configuration.cpp
//   member records                  member_records.cpp, password_guesses.cpp (CheckGuardedPassword)
//   form body decoding              form_decoding.cpp
//   file naming of posted leaves    leaf_naming.cpp
//   pages                           pages.cpp
//   request logs                    request_logs.cpp
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "gate/accounts/member_profile.h"
#include "gate/accounts/password_store.h"
#include "gate/configuration.h"
#include "host/web_dispatcher.h"

namespace orvane {

// The settings are inherited members (sessiondb, path, membersdb, ...), declared with their
// keys in configuration.h: texts, empty when unset; directory settings end in a delimiter.
class TWebModule1 : public TWebModule, public ConfigSettings, public SessionSettings {
 public:
  // Builds the module from its stored description (one action item, WebActionItem1).
  TWebModule1();
  const char* ClassName() const override { return "TWebModule1"; }

  // The gate's request handler (the OnAction event of WebActionItem1).
  void WebModule1WebActionItem1Action(TComponent* Sender, TWebRequest& Request,
                                      TWebResponse& Response, bool& Handled);

  // Field operations on a text.
  std::string GetFieldValue(std::string_view text, std::string_view name);
  void RemoveField(std::string& text, std::string_view name);
  bool CheckRequiredFields(std::string_view text);

  // Configuration and site settings.
  std::string GetExecutableDirectory();
  void LoadConfig();
  void LoadSessionSettings(const std::string& session);
  // The operator's line on standard error (as the status-500 line) for a configuration
  // that ends the request with `failure`: config.txt (without a session) or the
  // session's settings file leaves the directory setting `key` unset. Nothing for a
  // session that has no settings file.
  void LogConfigurationFailure(TWebRequest& request, std::string_view failure,
                               std::optional<std::string_view> session, std::string_view key);

  // Member records. The answer of a password check; only CheckGuardedPassword answers
  // TooManyWrong.
  enum class PasswordCheck { Match, Wrong, NoRecord, TooManyWrong };
  PasswordCheck CheckMemberPassword(const std::string& members_dir, const std::string& id,
                                    const std::string& password);
  // The password checked as CheckMemberPassword does, unless the request's address
  // (REMOTE_ADDR) sent too many wrong ones for the id in a row: a wrong one is counted,
  // a right one clears the count, and both refusals write the operator's log line. The
  // record's text as read for the check is given in `record`, where asked for.
  PasswordCheck CheckGuardedPassword(std::string_view id, const std::string& password,
                                     std::string_view command,
                                     std::optional<std::string>* record = nullptr);
  // Stores a right password anew where the record (its text as just read) keeps it
  // otherwise than passwordstore asks (plain text, or a weaker hash, under argon2id); a
  // record stored so is not rewritten.
  void AdoptMemberPassword(const std::string& members_dir, const std::string& id,
                           const std::string& password, std::string_view record);
  bool ChangeMemberPassword(const std::string& members_dir, const std::string& id,
                            const std::string& old_password, const std::string& new_password);
  bool UpdateMemberProfile(const std::string& members_dir, std::string_view id,
                           std::string_view password, const MemberProfile& profile);

  // Form body decoding into FormText, UploadFileName and UploadData.
  void ParseMultipartBody(std::string_view body);
  void ParseMultipartPart(std::string_view part);
  void ParseUrlEncodedBody(std::string_view body);

  // File naming of posted leaves.
  std::string NextCounterFileName(const std::string& counter_file, const std::string& name_template,
                                  const std::string& dir, const std::string& image_ext,
                                  const std::string& record_ext);
  std::string NextTemplateFileName(const std::string& name_template, const std::string& dir,
                                   const std::string& image_ext, const std::string& record_ext);

  // Pages.
  std::string BuildErrorPage(const std::string& message);
  std::string BuildFileAcceptedPage();
  std::string BuildRegistrationAcceptedPage();
  std::string BuildProfilePage(const std::string& members_dir, const std::string& id);
  std::string BuildChangeProfileForm(const std::string& session, const std::string& members_dir,
                                     const std::string& id, const std::string& password);

  // Request logs.
  void WriteErrorLog(const std::string& message);
  void DumpBody(std::string_view body);

  // The request's decoded fields (a field list text) and its accepted image.
  std::string FormText;
  // Set by decoding when the fields would pass what the form text may hold; the form
  // text then holds only the fields before the one that did not fit.
  bool EntryTooLong = false;
  std::string UploadFileName;
  // A view of the image bytes: into the request body for an upload, into
  // UploadStorage for the default image; valid while the handler runs.
  std::string_view UploadData;
  std::string UploadStorage;

  // The request's local time "yyyymmdd-hhmmss-zzz" and date "yyyymmdd".
  std::string RequestStamp;
  std::string RequestDay;

  // The passwords checked in this request: a check repeated while the record is held
  // computes no second hash.
  PasswordChecks PasswordsChecked;

 private:
  // Command branches of the handler; each sets the response content.
  void CommandRegistration(TWebResponse& response);
  void CommandChangePassword(TWebResponse& response);
  void CommandChangeProfileForm(TWebResponse& response, const std::string& session);
  void CommandChangeProfile(TWebResponse& response);
  void CommandPostLeaf(TWebResponse& response);
};

}  // namespace orvane
