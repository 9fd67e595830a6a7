#include "gate/leaves/leaf_posting.h"

#include <optional>

#include "gate/accounts/password_guesses.h"
#include "gate/disk_names.h"
#include "gate/entry_bounds.h"
#include "gate/leaves/image_types.h"
#include "gate/leaves/leaf_naming.h"
#include "gate/text/file_text.h"
#include "gate/web_module1.h"
#include "platform/platform.h"
#include "platform/shift_jis.h"

namespace orvane {
namespace {

constexpr char kNoMember[] = "The member does not exist.メンバーが存在しません";
constexpr char kWrongPassword[] = "The password is wrong. パスワードが違います";
constexpr char kBlankField[] = "There is a blank. 空欄があります";
constexpr char kNoAttachment[] = "There is no attached file. 添付ファイルがありません";
constexpr char kUnstorableName[] =
    "The attached file cannot be stored under this name. この名前の添付ファイルは保存できません";
constexpr char kNoNameLeft[] = "No file name is available. ファイル名を割り当てられません";
constexpr char kCounterUnusable[] =
    "The file counter cannot be used now. カウンターファイルを使用できません";

constexpr std::string_view kRecordExtension = disk_names::kRecordExtension;

// Claims the base name by the site's naming mode: counter file with a template, the
// "###" search, or the request's time stamp.
LeafNamingResult ClaimLeafName(TWebModule1& module, LeafDraft& draft) {
  if (!module.FileNameTemplate.empty()) {
    if (module.FileNameCounter.empty())
      module.FileNameCounter = module.path + std::string(disk_names::kDefaultCounter);
    return ClaimCounterName(module.FileNameCounter, module.FileNameTemplate, draft);
  }
  if (module.nameorder == "num3d") return ClaimTemplateName("###", draft);
  return ClaimStampName(module.RequestStamp, draft);
}

// Puts the configured default image in the upload when the request brought none;
// true when it did.
bool TakeDefaultImage(TWebModule1& module) {
  if (!module.UploadData.empty() || module.DefaultImgFile.empty() ||
      !platform::FileExists(module.DefaultImgFile)) {
    return false;
  }
  module.UploadFileName = module.DefaultImgFile;
  module.UploadStorage = LoadFileToString(module.DefaultImgFile);
  module.UploadData = module.UploadStorage;
  return true;
}

// The bytes a leaf record holds besides the form's text: its first and last lines, and the
// line breaks around the text and after the last line.
constexpr std::size_t kLeafRecordFraming =
    disk_names::kLeafRecordStart.size() + disk_names::kLeafRecordEnd.size() + 6;

std::string LeafRecord(const std::string& form_text) {
  std::string record;
  record.reserve(kLeafRecordFraming + form_text.size());
  return record.append(disk_names::kLeafRecordStart)
      .append("\r\n")
      .append(form_text)
      .append("\r\n")
      .append(disk_names::kLeafRecordEnd)
      .append("\r\n");
}

}  // namespace

std::string LeafImageExtension(std::string_view file_name) {
  std::optional<std::size_t> dot;
  for (std::size_t i = 0; i < file_name.size(); ++i) {
    const char c = file_name[i];
    if (CharacterLength(file_name, i) == 2) {
      ++i;
    } else if (c == '.') {
      dot = i;
    } else if (c == '\\' || c == ':' || c == '/') {
      dot.reset();
    }
  }
  if (!dot) return std::string();
  std::string extension(file_name.substr(*dot));
  // Second bytes of double-byte characters keep their value, so the characters stay.
  for (std::size_t i = 0; i < extension.size(); ++i) {
    char& c = extension[i];
    if (CharacterLength(extension, i) == 2) {
      ++i;
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c + ('a' - 'A'));
    }
  }
  return extension;
}

bool IsStorableImageExtension(std::string_view extension) {
  if (extension == kRecordExtension) return false;
  for (const char c : extension) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

std::span<const std::string_view> ImageExtensions() { return kImageExtensions; }

bool IsImageExtension(std::string_view extension) {
  for (const std::string_view allowed : ImageExtensions()) {
    if (extension == allowed) return true;
  }
  return false;
}

void TWebModule1::CommandPostLeaf(TWebResponse& response) {
  const auto answer_error = [&](const char* message) {
    response.SetContent(BuildErrorPage(message));
  };
  const std::string id = GetFieldValue(FormText, "id");
  const std::string password = GetFieldValue(FormText, "pw");
  RemoveField(FormText, "pw");
  std::optional<std::string> record;
  switch (CheckGuardedPassword(id, password, "postleaf", &record)) {
    case PasswordCheck::NoRecord:
      return answer_error(kNoMember);
    case PasswordCheck::Wrong:
      return answer_error(kWrongPassword);
    case PasswordCheck::TooManyWrong:
      return answer_error(kTooManyWrongPasswords);
    case PasswordCheck::Match:
      break;
  }
  AdoptMemberPassword(membersdb, id, password, record ? std::string_view(*record) : std::string_view());
  if (!CheckRequiredFields(FormText)) return answer_error(kBlankField);

  const bool from_request = !TakeDefaultImage(*this);
  if (UploadFileName.empty() || UploadData.empty()) return answer_error(kNoAttachment);
  // The operator's default image may have any extension; a poster's file is published
  // under its extension in a directory the web server delivers, so only images pass.
  const std::string extension = LeafImageExtension(UploadFileName);
  if (!IsStorableImageExtension(extension) || (from_request && !IsImageExtension(extension))) {
    return answer_error(kUnstorableName);
  }

  if (kLeafRecordFraming + FormText.size() > kMostRecordSize) {
    return answer_error(kEntryTooLong);
  }

  // Both files are written whole before a name is claimed and appear under it at once.
  FormText = LeafRecord(FormText);
  LeafDraft draft(LeafFileSet{path, extension, std::string(kRecordExtension)}, UploadData,
                  FormText);
  const LeafNamingResult naming = ClaimLeafName(*this, draft);
  switch (naming.outcome) {
    case LeafNamingOutcome::NoNameLeft:
      return answer_error(kNoNameLeft);
    case LeafNamingOutcome::CounterUnusable:
      return answer_error(kCounterUnusable);
    case LeafNamingOutcome::Claimed:
      break;
  }
  draft.Finish();
  response.SetContent(BuildFileAcceptedPage());
}

}  // namespace orvane
