// The gate's request handler: configuration, the profile query, the refusal of a form
// from another site, the body, its decoding and dump, the site settings and the routing
// to a command.
#include <cstdint>
#include <string>
#include <string_view>

#include "gate/entry_bounds.h"
#include "gate/form/cross_site.h"
#include "gate/text/cgi_text.h"
#include "gate/text/time_stamp.h"
#include "gate/web_module1.h"
#include "platform/platform.h"

namespace orvane {

namespace {

// UploadData may view the body, which lives only while the handler runs.
class UploadDataReset {
 public:
  explicit UploadDataReset(std::string_view& data) : data_(data) {}
  ~UploadDataReset() { data_ = {}; }
  UploadDataReset(const UploadDataReset&) = delete;
  UploadDataReset& operator=(const UploadDataReset&) = delete;

 private:
  std::string_view& data_;
};

// The body read at creation, completed with whatever more the client sends up to the
// declared length; rest holds the bytes only when more had to be read.
std::string_view ReadWholeBody(TWebRequest& request, std::string& rest) {
  const std::string_view content = request.ContentView();
  std::int64_t missing = static_cast<std::int64_t>(request.GetIntegerVariable(rvContentLength)) -
                         static_cast<std::int64_t>(content.size());
  if (missing <= 0) return content;
  std::string more = request.ReadString(static_cast<std::int32_t>(missing));
  if (more.empty()) return content;  // the client has nothing more to send
  rest.assign(content);
  do {
    rest += more;
    missing -= static_cast<std::int64_t>(more.size());
    more = missing > 0 ? request.ReadString(static_cast<std::int32_t>(missing)) : std::string();
  } while (!more.empty());
  return rest;
}

// A query naming a member and a site is answered with the member's profile, without
// reading the body; true when it was.
bool AnswerProfileQuery(TWebModule1& module, TWebRequest& request, TWebResponse& response) {
  const std::string query = GetEnv("QUERY_STRING");
  if (query.empty()) return false;
  TFieldList items;
  SplitQueryString(query, &items);
  const std::string showuser = FieldValue(items, "showuser");
  const std::string session = FieldValue(items, "session");
  if (showuser.empty() || session.empty()) return false;
  module.LoadSessionSettings(session);
  if (module.membersdb.empty()) {
    module.LogConfigurationFailure(request, "MemberDB does not exist", session, "membersdb");
  }
  const std::string id = UrlDecode(showuser);
  response.SetContent(module.BuildProfilePage(module.membersdb, id));
  return true;
}

// The request's fields from the body: multipart first, URL-encoded when that gave none.
void DecodeBody(TWebModule1& module, std::string_view body) {
  module.UploadFileName.clear();
  module.FormText.clear();
  module.UploadData = {};
  module.EntryTooLong = false;
  module.PasswordsChecked.Forget();
  module.ParseMultipartBody(body);
  if (module.FormText.empty() && !module.EntryTooLong) module.ParseUrlEncodedBody(body);
}

}  // namespace

void TWebModule1::WebModule1WebActionItem1Action(TComponent* /*Sender*/, TWebRequest& Request,
                                                 TWebResponse& Response, bool& /*Handled*/) {
  LoadConfig();
  if (sessiondb.empty()) {
    LogConfigurationFailure(Request, "sessiondb error", std::nullopt, "sessiondb");
    WriteErrorLog("sessiondb error");
    return;
  }
  Response.SetStringVariable(svContentType, "text/html");

  if (AnswerProfileQuery(*this, Request, Response)) return;
  if (RefuseCrossSitePost(allowedorigins)) {
    Response.SetStatusCode(403);
    Response.SetContent(BuildErrorPage(kCrossSiteRefused));
    return;
  }

  std::string body_rest;
  const std::string_view body = ReadWholeBody(Request, body_rest);

  // One reading for both, so that a dump never lands in the day directory after its own.
  // A stamp that an earlier request took is not waited out: its names take a suffix.
  const platform::LocalDateTime now = platform::LocalNow();
  RequestStamp = FormatRequestStamp(now);
  RequestDay = FormatRequestDay(now);

  const UploadDataReset upload_reset(UploadData);
  DecodeBody(*this, body);

  DumpBody(body);  // nothing without a dump directory
  // The fields are copies; only an upload still views the body. A long value is then
  // not held as sent beside its escaped form, the stored record and the page.
  if (UploadData.empty()) {
    Request.ReleaseContent();
    std::string().swap(body_rest);
  }

  // Refused before any field is read: the form text holds only part of the request.
  if (EntryTooLong) {
    Response.SetContent(BuildErrorPage(kEntryTooLong));
    return;
  }
  if (FormText.empty()) {
    Response.SetContent(BuildErrorPage("no data データがありません"));
    return;
  }

  // A session name that would leave the settings directory loads no settings.
  const std::string session = GetFieldValue(FormText, "session");
  LoadSessionSettings(session);
  if (path.empty()) {
    LogConfigurationFailure(Request, "The session does not exist", session, "path");
    Response.SetContent(BuildErrorPage("The session does not exist. セッションが存在しません"));
    return;
  }
  if (membersdb.empty()) {
    LogConfigurationFailure(Request, "MemberDB does not exist", session, "membersdb");
    Response.SetContent(BuildErrorPage("MemberDB does not exist. メンバーデータが存在しません"));
    return;
  }

  const std::string command = GetFieldValue(FormText, "command");
  RemoveField(FormText, "command");

  if (command == "registration") {
    CommandRegistration(Response);
  } else if (command == "changepw") {
    CommandChangePassword(Response);
  } else if (command == "changeprof1") {
    CommandChangeProfileForm(Response, session);
  } else if (command == "changeprof2") {
    CommandChangeProfile(Response);
  } else if (command == "postleaf") {
    CommandPostLeaf(Response);
  }
}

}  // namespace orvane
