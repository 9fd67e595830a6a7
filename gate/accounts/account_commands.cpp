// The account commands: registration, password change, the change-profile form and
// the profile save. Every rejected input answers with an error page, in check order.
#include <string>

#include "gate/accounts/member_records.h"
#include "gate/accounts/network_address.h"
#include "gate/accounts/password_guesses.h"
#include "gate/accounts/password_store.h"
#include "gate/entry_bounds.h"
#include "gate/text/cgi_text.h"
#include "gate/text/field_list.h"
#include "gate/text/safe_name.h"
#include "gate/web_module1.h"
#include "platform/exception.h"
#include "platform/platform.h"

namespace orvane {

namespace {

constexpr std::size_t kMinimumPasswordLength = 5;

constexpr char kUnusableId[] =
    "The ID contains characters that cannot be used. ＩＤに使用できない文字が含まれています";

}  // namespace

void TWebModule1::CommandRegistration(TWebResponse& response) {
  const std::string id = GetFieldValue(FormText, "id");
  const std::string pw = GetFieldValue(FormText, "pw");
  const std::string pw2 = GetFieldValue(FormText, "pw2");
  const std::string realname = GetFieldValue(FormText, "realname");
  const std::string mail = GetFieldValue(FormText, "mail");
  const std::string country = GetFieldValue(FormText, "country");
  const std::string session = GetFieldValue(FormText, "session");

  const auto error = [&](const std::string& message) {
    response.SetContent(BuildErrorPage(message));
  };
  if (id.empty() || pw.empty() || pw2.empty() || realname.empty() || mail.empty()) {
    return error("There is a blank. 空欄があります");
  }
  if (!IsSafeFileNamePart(id)) return error(kUnusableId);
  if (pw != pw2) return error("The password is wrong. パスワードの入力エラー");
  if (pw.size() < kMinimumPasswordLength) {
    return error("Password must be five or more characters. パスワードは５文字以上で");
  }
  if (FieldLineSize("id", id) + FieldLineSize("pw", pw) + FieldLineSize("realname", realname) +
          FieldLineSize("country", country) + FieldLineSize("mail", mail) >
      kMostRecordSize) {
    return error(kEntryTooLong);
  }
  const std::string record_path = MemberRecordPath(membersdb, id);
  const std::string already = "The same ID is already registered. 同じＩＤが既に登録されています";
  if (platform::FileExists(record_path)) return error(already);

  // Counted before the record is made, so that of many at once no more are made than
  // the network's hour allows; taken back where no record was made.
  const std::string address = GetEnv("REMOTE_ADDR");
  RegistrationCount registrations(membersdb, AddressNetwork(address, ParseIpv6Prefix(ipv6prefix)),
                                  ParseRegistrationsPerHour(registrationsperhour));
  if (!registrations.CountTry(platform::WallClockSeconds())) {
    platform::WriteStderr(
        RefusalLogLine("too many registrations", {{"address", address}, {"session", session}}));
    return error(kTooManyRegistrations);
  }
  const auto refused = [&](const std::string& message) {
    registrations.TakeBack();
    error(message);
  };
  FormText = "id=" + id + "\r\n" + PasswordLine(pw, PasswordStoreOf(passwordstore)) +
             "\r\nrealname=" + realname + "\r\ncountry=" + country + "\r\nmail=" + mail + "\r\n";
  // Created only when the name is free, so of two registrations at once one loses.
  try {
    if (!CreateMemberRecord(record_path, FormText)) return refused(already);
  } catch (const EOSFileError& failure) {
    registrations.TakeBack();
    // Only making the record tells whether its name fits this file system.
    if (!platform::IsNameTooLongError(failure.ErrorCode())) throw;
    return error(kUnusableId);
  }
  response.SetContent(BuildRegistrationAcceptedPage());
}

void TWebModule1::CommandChangePassword(TWebResponse& response) {
  const std::string id = GetFieldValue(FormText, "id");
  const std::string pw0 = GetFieldValue(FormText, "pw0");
  const std::string pw1 = GetFieldValue(FormText, "pw1");
  const std::string pw2 = GetFieldValue(FormText, "pw2");

  const auto error = [&](const std::string& message) {
    response.SetContent(BuildErrorPage(message));
  };
  if (id.empty() || pw0.empty() || pw1.empty() || pw2.empty()) {
    return error("There is a blank. 空欄があります");
  }
  if (!FindMemberRecord(membersdb, id)) return error("The ID does not exist. ＩＤが存在しません");
  if (pw1 != pw2) return error("A new password is different. 新パスワードの入力エラー");
  if (pw1.size() < kMinimumPasswordLength) {
    return error("Password must be five or more characters. パスワードは５文字以上で");
  }
  if (FieldLineSize("pw", pw1) > kMostRecordSize) return error(kEntryTooLong);
  const std::string not_changed = "password was not changed. 変更できませんでした";
  switch (CheckGuardedPassword(id, pw0, "changepw")) {
    case PasswordCheck::TooManyWrong:
      return error(kTooManyWrongPasswords);
    case PasswordCheck::Wrong:
      return error(not_changed);
    default:
      break;  // the change checks the password again while it holds the record
  }
  if (!ChangeMemberPassword(membersdb, id, pw0, pw1)) return error(not_changed);
  response.SetContent(BuildRegistrationAcceptedPage());
}

void TWebModule1::CommandChangeProfileForm(TWebResponse& response, const std::string& session) {
  const std::string id = GetFieldValue(FormText, "id");
  const std::string pw = GetFieldValue(FormText, "pw");

  if (id.empty() || pw.empty()) {
    return response.SetContent(BuildErrorPage("ID and password are required. ID,PWは必須です"));
  }
  if (!FindMemberRecord(membersdb, id)) {
    return response.SetContent(BuildErrorPage("ID does not exist. ＩＤが存在しません"));
  }
  switch (CheckGuardedPassword(id, pw, "changeprof1")) {
    case PasswordCheck::TooManyWrong:
      return response.SetContent(BuildErrorPage(kTooManyWrongPasswords));
    case PasswordCheck::Wrong:
      return response.SetContent(std::string());  // an empty form: the page stays empty
    default:
      response.SetContent(BuildChangeProfileForm(session, membersdb, id, pw));
  }
}

void TWebModule1::CommandChangeProfile(TWebResponse& response) {
  // Views into the form text: a long value is not copied before it is stored.
  const auto field = [this](std::string_view name) { return FieldValueInText(FormText, name); };
  const std::string_view id = field("id");
  const std::string_view pw = field("pw");

  if (id.empty() || pw.empty()) {
    return response.SetContent(BuildErrorPage("ID and password are required. ID,PWは必須です"));
  }
  if (!FindMemberRecord(membersdb, id)) {
    return response.SetContent(BuildErrorPage("ID does not exist. ＩＤが存在しません"));
  }
  // What the save brings is bounded, not the record it goes into: a record written
  // larger by hand or by an earlier gate still saves.
  std::size_t brought = FieldLineSize("id", id) + FieldLineSize("pw", pw);
  const MemberProfile profile{
      .realname = field("realname"),
      .mail = field("mail"),
      .comment = field("comment"),
      .country = field("country"),
      .url1 = field("url1"),
      .url2 = field("url2"),
      .url3 = field("url3"),
      .urlname1 = field("urlname1"),
      .urlname2 = field("urlname2"),
      .urlname3 = field("urlname3"),
  };
  for (const auto& [key, value] : ProfileItems(profile)) brought += FieldLineSize(key, value);
  if (brought > kMostRecordSize) return response.SetContent(BuildErrorPage(kEntryTooLong));
  const std::string not_changed = "profile was not changed. 変更できませんでした";
  switch (CheckGuardedPassword(id, std::string(pw), "changeprof2")) {
    case PasswordCheck::TooManyWrong:
      return response.SetContent(BuildErrorPage(kTooManyWrongPasswords));
    case PasswordCheck::Wrong:
      return response.SetContent(BuildErrorPage(not_changed));
    default:
      break;  // the save checks the password again while it holds the record
  }
  if (!UpdateMemberProfile(membersdb, id, pw, profile)) {
    return response.SetContent(BuildErrorPage(not_changed));
  }
  const std::string member(id);
  // The page is built from the stored record; the form text is not needed any more and
  // would otherwise be held beside the record and the page.
  FormText.clear();
  FormText.shrink_to_fit();
  response.SetContent(BuildProfilePage(membersdb, member));
}

}  // namespace orvane
