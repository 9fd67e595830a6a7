#include <optional>
#include <string>
#include <string_view>

#include "gate/accounts/member_records.h"
#include "gate/text/field_list.h"
#include "gate/web_module1.h"
#include "host/ascii_case.h"

namespace orvane {
namespace {

constexpr std::string_view kMetaLine =
    "<META http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\"></head>";
constexpr std::string_view kDoctype =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\"";
constexpr std::string_view kDtdAddress = "\"http://www.w3.org/TR/html4/loose.dtd\"";

// The change-profile form's geometry, as every earlier reply drew it: sites style and
// frame their pages around these sizes, and browsers keep the layout members know.
constexpr std::string_view kRowHeight = "30";        // each input row, in pixels
constexpr std::string_view kButtonRowHeight = "50";  // the row of the submit button
constexpr std::string_view kLabelWidth = "160";      // the label column, in pixels
constexpr std::string_view kGapWidth = "6";          // between label and input
constexpr std::string_view kNameInput = "20";        // id, name and country, in characters
constexpr std::string_view kPasswordInput = "15";
constexpr std::string_view kCommentInput = "100";
constexpr std::string_view kAddressInput = "50";  // mail, the URLs and their titles

// Appends the pieces and ends the line with CR LF.
template <typename... Pieces>
void Line(std::string& page, const Pieces&... pieces) {
  (page.append(pieces), ...);
  page += "\r\n";
}

std::string ShortPage(std::string_view title, std::string_view heading,
                      std::string_view extra_line = {}) {
  std::string page;
  Line(page, "<html><head><title>", title, "</title>");
  Line(page, kMetaLine);
  Line(page, "<body><h3>", heading, "</h3>");
  if (!extra_line.empty()) Line(page, extra_line);
  Line(page, "</body></html>");
  return page;
}

// The text of a member's record, or nothing when the directory is unset or there is no
// record. Values are read from it as views: a record of many lines is not split up.
std::optional<std::string> LoadRecordText(const std::string& members_dir, const std::string& id) {
  return LoadMemberRecordText(members_dir, id);
}

bool IsAsciiSpaceOrControl(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// A stored URL may serve as a link target only with an http or https scheme or none
// at all; anything else (javascript:, data:, ...) would run or load from the page.
bool IsSafeLinkTarget(std::string_view url) {
  std::string cleaned;
  cleaned.reserve(url.size());
  for (char c : url) {
    if (c != '\t' && c != '\r' && c != '\n') cleaned += c;
  }
  std::string_view rest = cleaned;
  while (!rest.empty() && IsAsciiSpaceOrControl(rest.front())) rest.remove_prefix(1);
  const std::size_t end = rest.find_first_of(":/?#");
  if (end == std::string_view::npos || rest[end] != ':') return true;
  const std::string_view scheme = rest.substr(0, end);
  return EqualsIgnoringAsciiCase(scheme, "http") || EqualsIgnoringAsciiCase(scheme, "https");
}

// The label cell of a profile row; the value line follows.
void ProfileRowStart(std::string& page, std::string_view label) {
  Line(page,
       "<tr><td width=\"6%\" bgcolor=\"#999999\" align=\"left\"><font size=\"2\" "
       "color=\"#F0F0F0\"><b>");
  Line(page, label);
  Line(page,
       "</b></font></td><td width=\"90%\" bgcolor=\"#CCCCCC\" align=\"left\"><font size=\"2\">");
}

void ProfileRow(std::string& page, std::string_view label, std::string_view value) {
  ProfileRowStart(page, label);
  Line(page, value, "</font></td></tr>");
}

void LinkRow(std::string& page, std::string_view label, std::string_view url) {
  const std::string_view target = IsSafeLinkTarget(url) ? url : std::string_view();
  ProfileRowStart(page, label);
  Line(page, "<a href=\"", target, "\"  target=\"_blank\"> ", url, "</a></font></td></tr>");
}

// A stored value as the change-profile form writes it into a Value attribute. A browser
// reads "&nbsp;" there as a no-break space, which a Shift_JIS page can only send back
// as "&#160;", and "<br>" as those four characters; either would be escaped once more
// by every save. Both are written as the plain space that a text input can hold, which
// posts back as the stored "&nbsp;". Neither "&" nor "<" is ever a second byte of a
// double-byte character, so the bytes are searched directly.
std::string FormValue(std::string_view stored) {
  constexpr std::string_view kSpace = "&nbsp;", kBreak = "<br>";
  std::string value;
  value.reserve(stored.size());
  for (std::size_t i = 0; i < stored.size();) {
    const std::string_view rest = stored.substr(i);
    if (rest.starts_with(kSpace) || rest.starts_with(kBreak)) {
      value += ' ';
      i += rest.starts_with(kSpace) ? kSpace.size() : kBreak.size();
    } else {
      value += stored[i++];
    }
  }
  return value;
}

// One labelled input of the change-profile form; a hint, when given, follows the input.
void InputRow(std::string& page, std::string_view label, std::string_view type,
              std::string_view field, std::string_view size, std::string_view value,
              std::string_view hint = {}) {
  Line(page, "    <tr><td height=\"", kRowHeight, "\" width=\"", kLabelWidth,
       "\" align=\"right\">&nbsp; ", label, "</td>");
  Line(page, "    <td width=\"", kGapWidth, "\"></td>");
  const std::string_view input_start = "    <td><input type=\"";
  if (hint.empty()) {
    Line(page, input_start, type, "\" name=\"", field, "\" size=\"", size, "\" Value=\"",
         FormValue(value), "\"></td></tr>");
  } else {
    Line(page, input_start, type, "\" name=\"", field, "\" size=\"", size, "\" Value=\"",
         FormValue(value), "\"> ", hint);
    Line(page, "    </td></tr>");
  }
  Line(page);
}

}  // namespace

std::string TWebModule1::BuildErrorPage(const std::string& message) {
  std::string heading = "ERROR: ";
  heading += message;
  return ShortPage("error", heading);
}

std::string TWebModule1::BuildFileAcceptedPage() {
  return ShortPage("File acceptance", "ACCEPTED. ファイルを受け付けました");
}

std::string TWebModule1::BuildRegistrationAcceptedPage() {
  return ShortPage(
      "Registration acceptance", "ACCEPTED. 登録を受け付けました",
      "<form><input type=\"button\" value=\"close 閉じる\" onclick=\"window.close()\"></form>");
}

std::string TWebModule1::BuildProfilePage(const std::string& members_dir, const std::string& id) {
  const std::optional<std::string> text = LoadMemberRecordText(members_dir, id);
  // A locked member's profile answers as an id without a record does.
  if (!text || StoredPasswordInText(*text).locked) return std::string();
  // Values are views into the record's text, so a long value is copied only into the page.
  const std::string& record = *text;
  const auto value = [&record](std::string_view key) { return FieldValueInText(record, key); };
  std::string page;
  // Every value comes from the record, a link's address twice: room enough at once.
  page.reserve(2 * record.size() + id.size() + 4096);
  Line(page, kDoctype, " ", kDtdAddress,
       "><html lang=\"ja\"> <head><title>Profile <#filename></title><META "
       "http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\"><base "
       "target=\"_self\"></head><body>");
  Line(page, "<table border=\"0\" width=\"100%\" cellspacing=\"1\" cellpadding=\"2\">");
  ProfileRow(page, "id", id);
  ProfileRow(page, "name", value("realname"));
  ProfileRow(page, "country", value("country"));
  ProfileRow(page, "profile", value("comment"));
  LinkRow(page, value("urlname1"), value("url1"));
  LinkRow(page, value("urlname2"), value("url2"));
  LinkRow(page, value("urlname3"), value("url3"));
  Line(page, "</table></body></html>");
  return page;
}

std::string TWebModule1::BuildChangeProfileForm(const std::string& session,
                                                const std::string& members_dir,
                                                const std::string& id,
                                                const std::string& password) {
  const std::optional<std::string> record = LoadRecordText(members_dir, id);
  if (!record) return std::string();
  if (!PasswordsChecked.Opens(*record, password)) return std::string();
  const auto value = [&record](std::string_view key) { return FieldValueInText(*record, key); };

  std::string page;
  Line(page, kDoctype);
  Line(page, " ", kDtdAddress, "><html lang=\"ja\">");
  Line(page, "<head><title>Orvane Change Profile<#filename></title>");
  Line(page, kMetaLine);
  Line(page, "<body bgcolor=\"#FFFFFF\"><h4>■プロフィール変更</h4>");
  Line(page);
  Line(page,
       "<form name=\"SendForm\" action=\"/cgi/orvanegate.exe\" method=\"POST\" "
       "ENCTYPE=\"multipart/form-data\">");
  Line(page, "<input type=hidden name=\"session\" value=\"", FormValue(session), "\">");
  Line(page, "<input type=hidden name=\"command\" value=\"changeprof2\">");
  Line(page);
  Line(page, "<font size=\"2\">");
  Line(page, "<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\" width=\"100%\">");
  Line(page);
  InputRow(page, "ＩＤ", "text", "id", kNameInput, id);
  InputRow(page, "パスワード", "password", "pw", kPasswordInput, password);
  InputRow(page, "名前", "text", "realname", kNameInput, value("realname"));
  InputRow(page, "国", "text", "country", kNameInput, value("country"));
  InputRow(page, "一行自己紹介", "text", "comment", kCommentInput, value("comment"));
  InputRow(page, "メールアドレス", "text", "mail", kAddressInput, value("mail"));
  Line(page, "    <tr><td></td><td></td><td>");
  Line(page, "    ●ＵＲＬは、ホームページ、ブログ、ＳＮＳなどのアドレス(省略可)<br>");
  Line(page, "    </td></tr>");
  Line(page);
  InputRow(page, "URL1のタイトル", "text", "urlname1", kAddressInput, value("urlname1"),
           "例: サンプルSNS");
  InputRow(page, "URL1", "text", "url1", kAddressInput, value("url1"),
           "例：https://sns.example.jp/yourname");
  InputRow(page, "URL2のタイトル", "text", "urlname2", kAddressInput, value("urlname2"));
  InputRow(page, "URL2", "text", "url2", kAddressInput, value("url2"));
  InputRow(page, "URL3のタイトル", "text", "urlname3", kAddressInput, value("urlname3"));
  InputRow(page, "URL3", "text", "url3", kAddressInput, value("url3"));
  Line(page, "    <tr><td height=\"", kButtonRowHeight, "\" width=\"", kLabelWidth,
       "\"></td><td width=\"", kGapWidth, "\"></td>");
  Line(page, "    <td><input type=submit value=\"　　登録　　\"></td></tr>");
  Line(page);
  Line(page, "</table></font></form></body></html>");
  return page;
}

}  // namespace orvane
