#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>

#include "gate/web_module1.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

// Every page line ends in CR LF, the last one included.
std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) text.append(line).append("\r\n");
  return text;
}

class PagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pages_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    members_ = dir_.string() + "/";
  }
  void TearDown() override { fs::remove_all(dir_); }

  void WriteRecord(const std::string& id, std::string_view text) {
    std::ofstream(dir_ / (id + ".txt"), std::ios::binary) << text;
  }

  TWebModule1 module_;
  fs::path dir_;
  std::string members_;
};

TEST_F(PagesTest, ErrorPageInsertsTheMessageUnchanged) {
  // There is a blank. 空欄があります
  const std::string message =
      "There is a blank. \x8b\xf3\x97\x93\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb7";
  EXPECT_EQ(
      module_.BuildErrorPage(message),
      Lines({
          "<html><head><title>error</title>",
          "<META http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\"></head>",
          "<body><h3>ERROR: There is a blank. "
          "\x8b\xf3\x97\x93\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb7</h3>",  // 空欄があります
          "</body></html>",
      }));
}

TEST_F(PagesTest, AcceptancePagesAreFixedTexts) {
  EXPECT_EQ(module_.BuildFileAcceptedPage(),
            Lines({
                "<html><head><title>File acceptance</title>",
                "<META http-equiv=\"Content-Type\" content=\"text/html; "
                "charset=Shift_JIS\"></head>",
                "<body><h3>ACCEPTED. \x83t\x83@\x83"
                "C\x83\x8b\x82\xf0\x8e\xf3\x82\xaf\x95t\x82\xaf\x82\xdc"
                "\x82\xb5\x82\xbd</h3>",  // ファイルを受け付けました
                "</body></html>",
            }));
  EXPECT_EQ(module_.BuildRegistrationAcceptedPage(),
            Lines({
                "<html><head><title>Registration "
                "acceptance</title>",
                "<META http-equiv=\"Content-Type\" "
                "content=\"text/html; "
                "charset=Shift_JIS\"></head>",
                "<body><h3>ACCEPTED. "
                "\x93o\x98^"
                "\x82\xf0\x8e\xf3\x82\xaf\x95t\x82\xaf\x82\xdc"
                "\x82\xb5\x82\xbd</h3>",  // 登録を受け付けました
                "<form><input type=\"button\" value=\"close "
                "\x95\xc2\x82\xb6\x82\xe9\" "
                "onclick=\"window.close()\"></form>",  // 閉じる
                "</body></html>",
            }));
}

TEST_F(PagesTest, ProfilePageOfAMinimalRecordHasEmptyCellsAndLinks) {
  WriteRecord("taro",
              "id=taro\r\npw=secret\r\nrealname=Taro\r\ncountry=\r\nmail=t@example.com\r\n");
  EXPECT_EQ(
      module_.BuildProfilePage(members_, "taro"),
      Lines({
          "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\" "
          "\"http://www.w3.org/TR/html4/loose.dtd\"><html lang=\"ja\"> <head><title>Profile "
          "<#filename></title><META http-equiv=\"Content-Type\" content=\"text/html; "
          "charset=Shift_JIS\"><base target=\"_self\"></head><body>",
          "<table border=\"0\" width=\"100%\" cellspacing=\"1\" cellpadding=\"2\">",
          "<tr><td width=\"6%\" bgcolor=\"#999999\" align=\"left\"><font size=\"2\" "
          "color=\"#F0F0F0\"><b>",
          "id",
          "</b></font></td><td width=\"90%\" bgcolor=\"#CCCCCC\" align=\"left\"><font size=\"2\">",
          "taro</font></td></tr>",
          "<tr><td width=\"6%\" bgcolor=\"#999999\" align=\"left\"><font size=\"2\" "
          "color=\"#F0F0F0\"><b>",
          "name",
          "</b></font></td><td width=\"90%\" bgcolor=\"#CCCCCC\" align=\"left\"><font size=\"2\">",
          "Taro</font></td></tr>",
          "<tr><td width=\"6%\" bgcolor=\"#999999\" align=\"left\"><font size=\"2\" "
          "color=\"#F0F0F0\"><b>",
          "country",
          "</b></font></td><td width=\"90%\" bgcolor=\"#CCCCCC\" align=\"left\"><font size=\"2\">",
          "</font></td></tr>",
          "<tr><td width=\"6%\" bgcolor=\"#999999\" align=\"left\"><font size=\"2\" "
          "color=\"#F0F0F0\"><b>",
          "profile",
          "</b></font></td><td width=\"90%\" bgcolor=\"#CCCCCC\" align=\"left\"><font size=\"2\">",
          "</font></td></tr>",
          "<tr><td width=\"6%\" bgcolor=\"#999999\" align=\"left\"><font size=\"2\" "
          "color=\"#F0F0F0\"><b>",
          "",
          "</b></font></td><td width=\"90%\" bgcolor=\"#CCCCCC\" align=\"left\"><font size=\"2\">",
          "<a href=\"\"  target=\"_blank\"> </a></font></td></tr>",
          "<tr><td width=\"6%\" bgcolor=\"#999999\" align=\"left\"><font size=\"2\" "
          "color=\"#F0F0F0\"><b>",
          "",
          "</b></font></td><td width=\"90%\" bgcolor=\"#CCCCCC\" align=\"left\"><font size=\"2\">",
          "<a href=\"\"  target=\"_blank\"> </a></font></td></tr>",
          "<tr><td width=\"6%\" bgcolor=\"#999999\" align=\"left\"><font size=\"2\" "
          "color=\"#F0F0F0\"><b>",
          "",
          "</b></font></td><td width=\"90%\" bgcolor=\"#CCCCCC\" align=\"left\"><font size=\"2\">",
          "<a href=\"\"  target=\"_blank\"> </a></font></td></tr>",
          "</table></body></html>",
      }));
}

TEST_F(PagesTest, ProfilePageShowsStoredValuesButNeverPasswordOrMail) {
  WriteRecord("hana",
              "ID=other\nPW=hidden-pw\nMAIL=hidden@example.com\nREALNAME=Hana&nbsp;Sato\n"
              "comment=a&amp;b\nurlname2=Blog\nurl2=https://example.com/x?a=1&amp;b=2\n");
  // A directory without its final delimiter reads the same record.
  const std::string page = module_.BuildProfilePage(dir_.string(), "hana");
  EXPECT_NE(page.find("\r\nHana&nbsp;Sato</font></td></tr>\r\n"), std::string::npos);
  EXPECT_NE(page.find("\r\na&amp;b</font></td></tr>\r\n"), std::string::npos);
  EXPECT_NE(page.find("\r\nBlog\r\n"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"https://example.com/x?a=1&amp;b=2\"  target=\"_blank\"> "
                      "https://example.com/x?a=1&amp;b=2</a>"),
            std::string::npos);
  EXPECT_NE(page.find("\r\nhana</font></td></tr>\r\n"), std::string::npos);
  EXPECT_EQ(page.find("hidden"), std::string::npos);
  EXPECT_EQ(page.find("other"), std::string::npos);
}

TEST_F(PagesTest, RecordPagesAreEmptyWithoutARecord) {
  WriteRecord("taro", "id=taro\r\npw=secret\r\n");
  EXPECT_EQ(module_.BuildProfilePage(members_, "nobody"), "");
  EXPECT_EQ(module_.BuildProfilePage("", "taro"), "");
  EXPECT_EQ(module_.BuildChangeProfileForm("site1", members_, "nobody", "secret"), "");
  EXPECT_EQ(module_.BuildChangeProfileForm("site1", "", "taro", "secret"), "");
}

// A stored URL whose scheme is not http or https keeps its link text but loses its target.
TEST_F(PagesTest, ProfileLinkTargetKeepsOnlyWebAndRelativeAddresses) {
  struct Case {
    const char* url;
    bool kept;
  };
  const Case cases[] = {
      {"javascript:alert(1)", false},
      {"JavaScript:alert(1)", false},
      {" javascript:alert(1)", false},
      {"\x01\x1f javascript:alert(1)", false},
      {"java\tscript:alert(1)", false},
      {"\tjava\tscript:alert(1)", false},
      {"vbscript:msgbox(1)", false},
      {"data:text/html,x", false},
      {"mailto:taro@example.com", false},
      {":x", false},
      {"http://example.com/", true},
      {"HTTPS://example.com/", true},
      {"HtTp:relative", true},
      {"a/b:c", true},
      {"?x:y", true},
      {"#a:b", true},
      {"javascript&amp;#58;alert(1)", true},
      {"&nbsp;page.html", true},
      {"\x83\x5c\x83t\x83g/a:b", true},  // ソフト/a:b
      {"", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    WriteRecord("u", std::string("pw=p\r\nurlname1=Home\r\nurl1=") + c.url + "\r\n");
    const std::string target = c.kept ? c.url : "";
    const std::string expected =
        "\r\n<a href=\"" + target + "\"  target=\"_blank\"> " + c.url + "</a></font></td></tr>\r\n";
    const std::string page = module_.BuildProfilePage(members_, "u");
    EXPECT_NE(page.find(expected), std::string::npos) << page;
  }
}

TEST_F(PagesTest, ChangeProfileFormIsFilledFromTheRecord) {
  WriteRecord("taro",
              "id=taro\r\npw=Secret1\r\nrealname=Taro&nbsp;Yamada\r\ncountry=Japan\r\n"
              "mail=t@example.com\r\ncomment=a&amp;b\r\nurl1=http://example.com/taro\r\n"
              "url2=https://example.org/p\r\nurlname1=Blog\r\nurlname2=Photos\r\n");
  EXPECT_EQ(
      module_.BuildChangeProfileForm("site1", members_, "taro", "Secret1"),
      Lines({
          "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\"",
          " \"http://www.w3.org/TR/html4/loose.dtd\"><html lang=\"ja\">",
          "<head><title>Orvane Change Profile<#filename></title>",
          "<META http-equiv=\"Content-Type\" content=\"text/html; "
          "charset=Shift_JIS\"></head>",
          "<body bgcolor=\"#FFFFFF\"><h4>\x81\xa1\x83v\x83\x8d\x83t\x83"
          "B\x81[\x83\x8b\x95\xcf\x8dX</h4>",  // <body
          // bgcolor="#FFFFFF"><h4>■プロフィール変更</h4>
          "",
          "<form name=\"SendForm\" action=\"/cgi/orvanegate.exe\" method=\"POST\" "
          "ENCTYPE=\"multipart/form-data\">",
          "<input type=hidden name=\"session\" value=\"site1\">",
          "<input type=hidden name=\"command\" value=\"changeprof2\">",
          "",
          "<font size=\"2\">",
          "<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\" width=\"100%\">",
          "",
          "    <tr><td height=\"30\" width=\"160\" align=\"right\">&nbsp; \x82h\x82"
          "c</td>",  //     <tr><td height="30" width="160" align="right">&nbsp; ＩＤ</td>
          "    <td width=\"6\"></td>",
          "    <td><input type=\"text\" name=\"id\" size=\"20\" "
          "Value=\"taro\"></td></tr>",
          "",
          "    <tr><td height=\"30\" width=\"160\" align=\"right\">&nbsp; "
          "\x83p\x83X\x83\x8f\x81[\x83h</td>",  //     <tr><td height="30" width="160"
                                                //     align="right">&nbsp;
                                                //     パスワード</td>
          "    <td width=\"6\"></td>",
          "    <td><input type=\"password\" name=\"pw\" size=\"15\" "
          "Value=\"Secret1\"></td></tr>",
          "",
          "    <tr><td height=\"30\" width=\"160\" align=\"right\">&nbsp; "
          "\x96\xbc\x91O</td>",  //     <tr><td height="30" width="160"
                                 //     align="right">&nbsp; 名前</td>
          "    <td width=\"6\"></td>",
          "    <td><input type=\"text\" name=\"realname\" size=\"20\" "
          "Value=\"Taro Yamada\"></td></tr>",
          "",
          "    <tr><td height=\"30\" width=\"160\" align=\"right\">&nbsp; \x8d\x91</td>",  //     <tr><td height="30" width="160" align="right">&nbsp; 国</td>
          "    <td width=\"6\"></td>",
          "    <td><input type=\"text\" name=\"country\" size=\"20\" "
          "Value=\"Japan\"></td></tr>",
          "",
          "    <tr><td height=\"30\" width=\"160\" align=\"right\">&nbsp; "
          "\x88\xea\x8ds\x8e\xa9\x8c\xc8\x8f\xd0\x89\xee</td>",  //     <tr><td
                                                                 //     height="30"
                                                                 //     width="160"
                                                                 //     align="right">&nbsp;
                                                                 //     一行自己紹介</td>
          "    <td width=\"6\"></td>",
          "    <td><input type=\"text\" name=\"comment\" size=\"100\" "
          "Value=\"a&amp;b\"></td></tr>",
          "",
          "    <tr><td height=\"30\" width=\"160\" align=\"right\">&nbsp; "
          "\x83\x81\x81[\x83\x8b\x83"
          "A\x83h\x83\x8c\x83X</td>",  //     <tr><td height="30" width="160"
                                       //     align="right">&nbsp; メールアドレス</td>
          "    <td width=\"6\"></td>",
          "    <td><input type=\"text\" name=\"mail\" size=\"50\" "
          "Value=\"t@example.com\"></td></tr>",
          "",
          "    <tr><td></td><td></td><td>",
          "    \x81\x9c\x82t\x82q\x82k\x82\xcd\x81"
          "A\x83z\x81[\x83\x80\x83y\x81[\x83W\x81"
          "A\x83u\x83\x8d\x83O\x81"
          "A\x82r\x82m\x82r\x82\xc8\x82\xc7\x82\xcc\x83"
          "A\x83h\x83\x8c\x83X(\x8f\xc8\x97\xaa\x89\xc2)<br>",  //     ●ＵＲＬは、ホームページ、ブログ、ＳＮＳなどのアドレス(省略可)<br>
          "    </td></tr>",
          "",
          "    <tr><td height=\"30\" width=\"160\" align=\"right\">&nbsp; "
          "URL1\x82\xcc\x83^\x83"
          "C\x83g\x83\x8b</td>",  //     <tr><td height="30" width="160"
                                  //     align="right">&nbsp; URL1のタイトル</td>
          "    <td width=\"6\"></td>",
          "    <td><input type=\"text\" name=\"urlname1\" size=\"50\" Value=\"Blog\"> "
          "\x97\xe1: \x83T\x83\x93\x83v\x83\x8bSNS",  //     <td><input type="text"
                                                      //     name="urlname1" size="50"
                                                      //     Value="Blog"> 例: サンプルSNS
          "    </td></tr>",
          "",
          "    <tr><td height=\"30\" width=\"160\" align=\"right\">&nbsp; URL1</td>",
          "    <td width=\"6\"></td>",
          "    <td><input type=\"text\" name=\"url1\" size=\"50\" "
          "Value=\"http://example.com/taro\"> \x97\xe1\x81"
          "Fhttps://sns.example.jp/yourname",  //     <td><input type="text" name="url1"
                                               //     size="50"
                                               //     Value="http://example.com/taro">
                                               //     例：https://sns.example.jp/yourname
          "    </td></tr>",
          "",
          "    <tr><td height=\"30\" width=\"160\" align=\"right\">&nbsp; "
          "URL2\x82\xcc\x83^\x83"
          "C\x83g\x83\x8b</td>",  //     <tr><td height="30" width="160"
                                  //     align="right">&nbsp; URL2のタイトル</td>
          "    <td width=\"6\"></td>",
          "    <td><input type=\"text\" name=\"urlname2\" size=\"50\" "
          "Value=\"Photos\"></td></tr>",
          "",
          "    <tr><td height=\"30\" width=\"160\" align=\"right\">&nbsp; URL2</td>",
          "    <td width=\"6\"></td>",
          "    <td><input type=\"text\" name=\"url2\" size=\"50\" "
          "Value=\"https://example.org/p\"></td></tr>",
          "",
          "    <tr><td height=\"30\" width=\"160\" align=\"right\">&nbsp; "
          "URL3\x82\xcc\x83^\x83"
          "C\x83g\x83\x8b</td>",  //     <tr><td height="30" width="160"
                                  //     align="right">&nbsp; URL3のタイトル</td>
          "    <td width=\"6\"></td>",
          "    <td><input type=\"text\" name=\"urlname3\" size=\"50\" "
          "Value=\"\"></td></tr>",
          "",
          "    <tr><td height=\"30\" width=\"160\" align=\"right\">&nbsp; URL3</td>",
          "    <td width=\"6\"></td>",
          "    <td><input type=\"text\" name=\"url3\" size=\"50\" Value=\"\"></td></tr>",
          "",
          "    <tr><td height=\"50\" width=\"160\"></td><td width=\"6\"></td>",
          "    <td><input type=submit "
          "value=\"\x81@\x81@\x93o\x98^\x81@\x81@\"></td></tr>",  //     <td><input
                                                                  //     type=submit
          //     value="　　登録　　"></td></tr>
          "",
          "</table></font></form></body></html>",
      }));
}

// The form's values show a stored space and line break as the plain space a text input
// can send back; every other escape, and the profile page, keep the stored bytes.
TEST_F(PagesTest, ChangeProfileFormWritesStoredSpacesAndBreaksAsPlainSpaces) {
  struct Case {
    const char* stored;
    const char* shown;
  };
  const Case cases[] = {
      {"a&nbsp;b", "a b"},
      {"&nbsp;&nbsp;", "  "},
      {"one<br>two<br>", "one two "},
      {"&amp;nbsp;&lt;br&gt;", "&amp;nbsp;&lt;br&gt;"},
      {"&NBSP;<BR>&nbsp", "&NBSP;<BR>&nbsp"},
      {"&quot;\x82\xa0&nbsp;\x95\\", "&quot;\x82\xa0 \x95\\"},
      {"&#160;", "&#160;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    const std::string stored = c.stored, shown = c.shown;
    WriteRecord("x&nbsp;y", "pw=p&nbsp;w\r\nrealname=" + stored + "\r\nurl1=" + stored +
                                "\r\nurl3=" + stored + "\r\n");
    const std::string form =
        module_.BuildChangeProfileForm("s&nbsp;1", members_, "x&nbsp;y", "p&nbsp;w");
    EXPECT_NE(form.find("name=\"session\" value=\"s 1\">"), std::string::npos);
    EXPECT_NE(form.find("name=\"id\" size=\"20\" Value=\"x y\">"), std::string::npos);
    EXPECT_NE(form.find("name=\"pw\" size=\"15\" Value=\"p w\">"), std::string::npos);
    for (const char* field : {"realname\" size=\"20", "url1\" size=\"50", "url3\" size=\"50"}) {
      EXPECT_NE(form.find(std::string("name=\"") + field + "\" Value=\"" + shown + "\">"),
                std::string::npos)
          << field;
    }
    EXPECT_NE(form.find("align=\"right\">&nbsp; "), std::string::npos);
    const std::string profile = module_.BuildProfilePage(members_, "x&nbsp;y");
    EXPECT_NE(profile.find("\r\nx&nbsp;y</font>"), std::string::npos);
    EXPECT_NE(profile.find("\r\n" + stored + "</font>"), std::string::npos);
  }
}

TEST_F(PagesTest, ChangeProfileFormNeedsTheExactPassword) {
  WriteRecord("taro", "id=taro\r\npw=Secret1\r\n");
  for (const char* wrong : {"secret1", "Secret1 ", "Secret", ""}) {
    SCOPED_TRACE(wrong);
    EXPECT_EQ(module_.BuildChangeProfileForm("site1", members_, "taro", wrong), "");
  }
  // A record without a pw line is opened by no password, the empty one included.
  WriteRecord("nopw", "id=nopw\r\n");
  EXPECT_EQ(module_.BuildChangeProfileForm("site1", members_, "nopw", ""), "");
  WriteRecord("bom", "\xEF\xBB\xBFpw=Secret1\r\n");
  EXPECT_EQ(module_.BuildChangeProfileForm("site1", members_, "bom", "Secret1"), "");
}

}  // namespace
}  // namespace orvane
