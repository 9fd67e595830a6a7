#include "gate/leaves/leaf_posting.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "exact_bytes.h"
#include "fake_web.h"
#include "gate/web_module1.h"
#include "host/web_request.h"
#include "host/web_response.h"
#include "platform/exception.h"
#include "temp_dir.h"

namespace orvane {

// The branch is private to the module; an explicit instantiation may name it.
using PostLeafMember = void (TWebModule1::*)(TWebResponse&);
PostLeafMember CommandPostLeafMember();
template <PostLeafMember Member>
struct ExposePostLeaf {
  friend PostLeafMember CommandPostLeafMember() { return Member; }
};
template struct ExposePostLeaf<&TWebModule1::CommandPostLeaf>;

namespace {

using testing::ExactBytes;

namespace fs = std::filesystem;

// Messages, as Shift_JIS bytes.
// "The member does not exist.メンバーが存在しません"
const std::string kNoMember =
    "The member does not exist."
    "\x83\x81\x83\x93\x83\x6F\x81\x5B\x82\xAA\x91\xB6\x8D\xDD\x82\xB5\x82\xDC\x82\xB9\x82\xF1";
// "The password is wrong. パスワードが違います"
const std::string kWrongPassword =
    "The password is wrong. "
    "\x83\x70\x83\x58\x83\x8F\x81\x5B\x83\x68\x82\xAA\x88\xE1\x82\xA2\x82\xDC\x82\xB7";
// "There is a blank. 空欄があります"
const std::string kBlank =
    "There is a blank. \x8B\xF3\x97\x93\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB7";
// "There is no attached file. 添付ファイルがありません"
const std::string kNoAttachment =
    "There is no attached file. "
    "\x93\x59\x95\x74\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82"
    "\xF1";
// "The attached file cannot be stored under this name. この名前の添付ファイルは保存できません"
const std::string kUnstorable =
    "The attached file cannot be stored under this name. "
    "\x82\xB1\x82\xCC\x96\xBC\x91\x4F\x82\xCC\x93\x59\x95\x74\x83\x74\x83\x40\x83\x43\x83\x8B\x82"
    "\xCD\x95\xDB\x91\xB6\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1";
// "No file name is available. ファイル名を割り当てられません"
const std::string kNoName =
    "No file name is available. "
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x96\xBC\x82\xF0\x8A\x84\x82\xE8\x93\x96\x82\xC4\x82\xE7\x82"
    "\xEA\x82\xDC\x82\xB9\x82\xF1";
// "The file counter cannot be used now. カウンターファイルを使用できません"
const std::string kCounterUnusable =
    "The file counter cannot be used now. "
    "\x83\x4A\x83\x45\x83\x93\x83\x5E\x81\x5B\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x8E\x67\x97"
    "\x70\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1";
// "ACCEPTED. ファイルを受け付けました"
const std::string kAccepted =
    "ACCEPTED. "
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x8E\xF3\x82\xAF\x95\x74\x82\xAF\x82\xDC\x82\xB5\x82"
    "\xBD";

using testing::FakeRequest;
using testing::FakeResponse;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

const char kStamp[] = "20240102-030405-678";
// The image ends in CR and holds a NUL: stored byte for byte.
const std::string kImage("\x89PNG\0\r\n\r", 9);

class LeafPosting : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.Path("root");
    fs::create_directory(root_);
    fs::create_directory(root_ / "leaves");
    fs::create_directory(root_ / "members");
    WriteBytes(root_ / "members" / "m1.txt", "id=m1\r\npw=secret\r\n");
    module_.path = (root_ / "leaves").string() + "/";
    module_.membersdb = (root_ / "members").string() + "/";
    module_.RequestStamp = kStamp;
    ResetForm();
    Upload("photo.JPG", kImage);
  }

  // The form of a posting as the handler hands it over, without its command line.
  void ResetForm() {
    module_.FormText = "session=s1\r\nid=m1\r\npw=secret\r\nupfile=photo.JPG\r\nblank-title=t\r\n";
    response_.content_sets = 0;
  }
  // The image lives in a buffer of its exact size, as the request body would hold it.
  void Upload(const std::string& name, const std::string& bytes) {
    module_.UploadFileName = name;
    upload_ = std::make_unique<ExactBytes>(bytes);
    module_.UploadData = upload_->View();
  }
  std::string Post() {
    (module_.*CommandPostLeafMember())(response_);
    EXPECT_EQ(response_.content_sets, 1);
    return response_.content;
  }
  std::set<std::string> Leaves() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_ / "leaves")) {
      if (!testing::IsIdleSlot(entry)) names.insert(entry.path().filename());
    }
    return names;
  }
  fs::path Leaf(const std::string& name) const { return root_ / "leaves" / name; }

  TempDir temp_;
  fs::path root_;
  TWebModule1 module_;
  FakeRequest request_;
  FakeResponse response_{request_};
  std::unique_ptr<ExactBytes> upload_;
};

bool IsErrorPage(const std::string& page, const std::string& message) {
  return page.find("<h3>ERROR: " + message + "</h3>") != std::string::npos;
}

TEST_F(LeafPosting, AcceptedPostingStoresImageAndRecordWithoutPassword) {
  module_.FormText += "PW=again\r\n";
  const std::string page = Post();
  EXPECT_NE(page.find(kAccepted), std::string::npos);
  const std::string stamp = kStamp;
  EXPECT_EQ(Leaves(), (std::set<std::string>{stamp + ".jpg", stamp + ".txt"}));
  EXPECT_EQ(ReadBytes(Leaf(stamp + ".jpg")), kImage);
  EXPECT_EQ(ReadBytes(Leaf(stamp + ".txt")),
            "<qelkeys>\r\nsession=s1\r\nid=m1\r\nupfile=photo.JPG\r\nblank-title=t\r\n\r\n"
            "</qelkeys>\r\n");
}

TEST_F(LeafPosting, NamingModeFollowsTheSettings) {
  struct Case {
    const char* label;
    std::string name_template, counter, nameorder;
    std::set<std::string> leaves;
    int postings = 1;  // answered one after another by this process, of one stamp
  };
  const std::string stamp = kStamp;
  const std::string own_counter = (root_ / "own_counter.txt").string();
  const Case cases[] = {
      {"template, default counter",
       "leaf####",
       "",
       "num3d",
       {"counter.txt", "leaf0001.jpg", "leaf0001.txt"}},
      {"template and counter", "n##", own_counter, "", {"n01.jpg", "n01.txt"}},
      {"num3d", "", "", "num3d", {"001.jpg", "001.txt"}},
      {"num3d is case-sensitive", "", "", "NUM3D", {stamp + ".jpg", stamp + ".txt"}},
      {"one stamp three times: suffixes",
       "",
       "",
       "",
       {stamp + ".jpg", stamp + ".txt", stamp + "000.jpg", stamp + "000.txt", stamp + "001.jpg",
        stamp + "001.txt"},
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    for (const std::string& name : Leaves()) fs::remove(Leaf(name));
    module_.FileNameTemplate = c.name_template;
    module_.FileNameCounter = c.counter;
    module_.nameorder = c.nameorder;
    for (int posting = 0; posting < c.postings; ++posting) {
      ResetForm();
      EXPECT_NE(Post().find(kAccepted), std::string::npos);
    }
    EXPECT_EQ(Leaves(), c.leaves);
    if (!c.name_template.empty()) {
      EXPECT_EQ(ReadBytes(module_.FileNameCounter), "1");
    }
  }
}

TEST_F(LeafPosting, DefaultCounterPathStaysSetForTheRequest) {
  module_.FileNameTemplate = "leaf####";
  Post();
  EXPECT_EQ(module_.FileNameCounter, module_.path + "counter.txt");
}

// A local socket at a path: it exists, but no open of it succeeds.
class ListeningSocket {
 public:
  explicit ListeningSocket(std::string path) : path_(std::move(path)) {
    fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path_.copy(address.sun_path, sizeof address.sun_path - 1);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  ~ListeningSocket() { close(fd_); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

TEST_F(LeafPosting, RefusedPostingsAnswerTheirMessageAndWriteNothing) {
  struct Case {
    const char* label;
    std::string id, password, extra_field, upload_name, name_template, counter;
    const std::string& message;
  };
  WriteBytes(Leaf("fixed.txt"), "");
  WriteBytes(Leaf("counter.txt"), "7");
  const ListeningSocket socket((root_ / "c.sock").string());
  const Case cases[] = {
      {"unknown member", "m2", "secret", "", "a.jpg", "", "", kNoMember},
      {"id leaving the member directory", "../members/m1", "secret", "", "a.jpg", "", "",
       kNoMember},
      {"id with a backslash", "a\\m1", "secret", "", "a.jpg", "", "", kNoMember},
      {"id with a colon", "c:m1", "secret", "", "a.jpg", "", "", kNoMember},
      {"id with a control byte", "m1\x01", "secret", "", "a.jpg", "", "", kNoMember},
      {"password differing in case", "m1", "Secret", "", "a.jpg", "", "", kWrongPassword},
      {"password checked before blanks", "m1", "", "Blank-Note=\r\n", "a.jpg", "", "",
       kWrongPassword},
      {"empty marked field", "m1", "secret", "Blank-Note=\r\n", "a.jpg", "", "", kBlank},
      {"no upload", "m1", "secret", "", "", "", "", kNoAttachment},
      {"text upload", "m1", "secret", "", "notes.TXT", "", "", kUnstorable},
      {"control byte in extension", "m1", "secret", "", std::string("a.jp\0g", 6), "", "",
       kUnstorable},
      {"page upload", "m1", "secret", "", "a.html", "", "", kUnstorable},
      {"upload without extension", "m1", "secret", "", "README", "", "", kUnstorable},
      {"every template name taken", "m1", "secret", "", "a.jpg", "fixed", "", kNoName},
      {"counter refuses its open", "m1", "secret", "", "a.jpg", "leaf#", socket.Path(),
       kCounterUnusable},
  };
  const std::set<std::string> before = Leaves();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    module_.FormText = "session=s1\r\nid=" + c.id + "\r\npw=" + c.password + "\r\n" + c.extra_field;
    Upload(c.upload_name, c.upload_name.empty() ? "" : kImage);
    module_.FileNameTemplate = c.name_template;
    module_.FileNameCounter = c.counter;
    response_.content_sets = 0;
    EXPECT_TRUE(IsErrorPage(Post(), c.message)) << response_.content;
    EXPECT_EQ(Leaves(), before);
  }
  EXPECT_EQ(ReadBytes(Leaf("counter.txt")), "7");
}

TEST_F(LeafPosting, IdWithDoubleByteBackslashIsAMember) {
  const std::string id = "\x83\x5C";  // "ソ", whose second byte is a backslash
  WriteBytes(root_ / "members" / (id + ".txt"), "id=" + id + "\r\npw=secret\r\n");
  module_.FormText = "id=" + id + "\r\npw=secret\r\n";
  EXPECT_NE(Post().find(kAccepted), std::string::npos);
}

TEST_F(LeafPosting, DefaultImageStandsInForAMissingUpload) {
  const fs::path default_image = root_ / "default.PNG";
  WriteBytes(default_image, kImage + "default");
  module_.DefaultImgFile = default_image.string();
  Upload("", "");
  EXPECT_NE(Post().find(kAccepted), std::string::npos);
  const std::string stamp = kStamp;
  EXPECT_EQ(ReadBytes(Leaf(stamp + ".png")), kImage + "default");
  EXPECT_EQ(ReadBytes(Leaf(stamp + ".txt")).find("default"), std::string::npos);
  EXPECT_EQ(module_.UploadFileName, default_image.string());
}

TEST_F(LeafPosting, DefaultImageMayHaveAnyExtensionButText) {
  const fs::path default_image = root_ / "banner.svg";
  WriteBytes(default_image, "<svg/>");
  module_.DefaultImgFile = default_image.string();
  Upload("", "");
  EXPECT_NE(Post().find(kAccepted), std::string::npos);
  EXPECT_EQ(ReadBytes(Leaf(std::string(kStamp) + ".svg")), "<svg/>");
}

TEST_F(LeafPosting, DefaultImageThatIsMissingOrATextIsRefused) {
  module_.DefaultImgFile = (root_ / "missing.png").string();
  Upload("", "");
  EXPECT_TRUE(IsErrorPage(Post(), kNoAttachment));
  WriteBytes(root_ / "default.txt", "text");
  module_.DefaultImgFile = (root_ / "default.txt").string();
  ResetForm();
  EXPECT_TRUE(IsErrorPage(Post(), kUnstorable));
  EXPECT_TRUE(Leaves().empty());
}

TEST_F(LeafPosting, CounterHoldingTextEndsTheRequestWithoutLeaves) {
  WriteBytes(Leaf("counter.txt"), "abc");
  module_.FileNameTemplate = "leaf####";
  EXPECT_THROW((module_.*CommandPostLeafMember())(response_), EInOutError);
  EXPECT_EQ(Leaves(), std::set<std::string>{"counter.txt"});
}

TEST(LeafImageExtension, LastDotNotFollowedByASeparator) {
  struct Case {
    const char* label;
    std::string name;
    std::string expected;
  };
  const Case cases[] = {
      {"upper case", "Photo.JPEG", ".jpeg"},
      {"last dot only", "arc.tar.GZ", ".gz"},
      {"no dot", "README", ""},
      {"dot in a folder name", "C:\\dir.x\\img", ""},
      {"dot in a folder name, slash", "dir.x/img", ""},
      {"colon after the dot", "a.b:c", ""},
      {"double-byte backslash after the dot", "a.\x83\x5C", ".\x83\x5C"},
      {"double-byte letters keep their second byte", "a.\x83\x41X", ".\x83\x41x"},
      {"trailing dot", "a.", "."},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::unique_ptr<char[]> exact(new char[c.name.size()]);
    c.name.copy(exact.get(), c.name.size());
    EXPECT_EQ(LeafImageExtension(std::string_view(exact.get(), c.name.size())), c.expected);
  }
}

}  // namespace
}  // namespace orvane
