#include "gate/operator/operator_commands.h"

#include <algorithm>
#include <vector>

#include "gate/accounts/member_records.h"
#include "gate/accounts/password_store.h"
#include "gate/disk_names.h"
#include "gate/entry_bounds.h"
#include "gate/leaves/leaf_draft.h"
#include "gate/leaves/leaf_naming.h"
#include "gate/leaves/leaf_posting.h"
#include "gate/text/cgi_text.h"
#include "gate/text/safe_name.h"
#include "gate/web_module1.h"
#include "platform/exception.h"
#include "platform/file_errors.h"
#include "platform/platform.h"

namespace orvane {
namespace {

constexpr OperatorCommand kCommands[] = {
    {"--set-password", "SESSION ID", 2}, {"--lock", "SESSION ID", 2},
    {"--unlock", "SESSION ID", 2},       {"--remove-leaf", "SESSION NAME", 2},
    {"--list-members", "SESSION", 1},
};

// The registration's least password length, of the escaped value.
constexpr std::size_t kMinimumPasswordLength = 5;

// A command that cannot go on: its one-line reason.
struct Refusal {
  std::string reason;
};

void Print(const std::string& text) { platform::WriteStdout(text.data(), text.size()); }

// The site's settings, as a request for the session loads them.
struct Site {
  TWebModule1 module;
  std::string session;
};

void LoadSite(Site& site, const std::string& session) {
  site.session = session;
  site.module.LoadConfig();
  if (site.module.sessiondb.empty()) {
    throw Refusal{
        "configuration: " +
        UnsetDirectoryReason(site.module.GetExecutableDirectory() + "config.txt", "sessiondb")};
  }
  site.module.LoadSessionSettings(session);
  if (site.module.path.empty() && site.module.membersdb.empty()) {
    throw Refusal{"unknown session " + session};
  }
}

const std::string& MembersDirectory(const Site& site) {
  if (site.module.membersdb.empty()) {
    throw Refusal{"session " + site.session + " has no member directory (membersdb)"};
  }
  return site.module.membersdb;
}

std::string RecordOf(const Site& site, const std::string& id) {
  std::optional<std::string> path = FindMemberRecord(MembersDirectory(site), id);
  if (!path) throw Refusal{"no member " + id + " in session " + site.session};
  return *path;
}

// Rewrites the member's record; a record gone meanwhile is an unknown member.
bool Rewrite(const Site& site, const std::string& id,
             const std::function<bool(TFieldEdits&)>& change) {
  const std::string path = RecordOf(site, id);
  bool found = false;
  const bool rewritten = RewriteMemberRecord(path, [&](TFieldEdits& edits) {
    found = true;
    return change(edits);
  });
  if (!found) throw Refusal{"no member " + id + " in session " + site.session};
  return rewritten;
}

// One line of standard input without its line end, as the form's field would bring it.
std::string ReadPasswordLine() {
  std::string line;
  char byte = 0;
  while (line.size() <= kMostRecordSize && platform::ReadStdin(&byte, 1) == 1 && byte != '\n') {
    line.push_back(byte);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

int SetPassword(const Site& site, const std::string& id) {
  const std::string path = RecordOf(site, id);
  // Stored escaped, as the registration form's value is decoded.
  const std::string password = EscapeFieldText(ReadPasswordLine());
  if (password.size() < kMinimumPasswordLength) {
    throw Refusal{"the password must be five or more characters (read from standard input)"};
  }
  if (FieldLineSize(kPlainPasswordKey, password) > kMostRecordSize) {
    throw Refusal{"the password is too long"};
  }
  const PasswordToStore stored =
      PreparePassword(password, PasswordStoreOf(site.module.passwordstore));
  Rewrite(site, id, [&](TFieldEdits& edits) {
    StorePassword(edits, stored);
    return true;
  });
  Print("set the password of " + id + " in session " + site.session + " (stored as " +
        std::string(stored.key) + "=)\n");
  return 0;
}

int SetLocked(const Site& site, const std::string& id, bool lock) {
  const bool changed = Rewrite(site, id, [lock](TFieldEdits& edits) {
    if (StoredPasswordInEdits(edits).locked == lock) return false;
    // Locking appends the line or corrects the first one; unlocking removes it.
    edits.Set(kLockedKey, lock ? kLockedValue : std::string_view());
    return true;
  });
  const std::string state = lock ? "locked" : "unlocked";
  Print((changed ? state : "already " + state) + ": " + id + " in session " + site.session + "\n");
  return 0;
}

// The leaf's files that exist: its images under every extension a posting may give
// them (the request's image types and the default image's), then its record.
std::vector<std::string> LeafFiles(const Site& site, const std::string& name) {
  const std::string base = site.module.path + name;
  std::vector<std::string> extensions(ImageExtensions().begin(), ImageExtensions().end());
  const std::string default_ext = LeafImageExtension(site.module.DefaultImgFile);
  if (!default_ext.empty() && IsStorableImageExtension(default_ext) &&
      !IsImageExtension(default_ext)) {
    extensions.push_back(default_ext);
  }
  extensions.emplace_back(disk_names::kRecordExtension);
  std::vector<std::string> files;
  for (const std::string& extension : extensions) {
    if (platform::FileExists(base + extension)) files.push_back(base + extension);
  }
  return files;
}

int RemoveLeaf(const Site& site, const std::string& name) {
  if (site.module.path.empty()) {
    throw Refusal{"session " + site.session + " has no leaf directory (path)"};
  }
  const std::vector<std::string> files =
      name.empty() || name.front() == '.' || !IsSafeFileNamePart(name) ? std::vector<std::string>()
                                                                       : LeafFiles(site, name);
  if (files.empty()) throw Refusal{"no leaf " + name + " in session " + site.session};
  // Marked first: from now on no posting keeps the name, whatever it finds.
  CreateNewFile(RemovedLeafMark(site.module.path, name));
  for (const std::string& file : files) {
    const platform::Outcome removed = platform::RemoveHeldFile(file);
    if (removed.Failed() && platform::FileExists(file)) {
      throw Refusal{"cannot remove " + file + ": " + platform::ErrorCodeText(removed.error)};
    }
    Print("removed " + file + "\n");
  }
  Print("the name " + name + " of session " + site.session + " is not given out again\n");
  return 0;
}

int ListMembers(const Site& site) {
  const std::string& dir = MembersDirectory(site);
  std::optional<std::vector<std::string>> names = platform::ListDirectory(dir);
  if (!names) throw Refusal{"cannot list " + dir};
  std::vector<std::string> ids;
  constexpr std::string_view kRecordExtension = disk_names::kRecordExtension;
  for (const std::string& name : *names) {
    if (name.size() > kRecordExtension.size() && name.ends_with(kRecordExtension)) {
      ids.push_back(name.substr(0, name.size() - kRecordExtension.size()));
    }
  }
  std::sort(ids.begin(), ids.end());
  std::string text;
  for (const std::string& id : ids) text.append(id).append("\n");
  Print(text);
  return 0;
}

int Run(std::string_view option, Site& site, std::span<const std::string> operands) {
  if (option == "--list-members") return ListMembers(site);
  const std::string& target = operands[1];
  if (option == "--set-password") return SetPassword(site, target);
  if (option == "--lock") return SetLocked(site, target, true);
  if (option == "--unlock") return SetLocked(site, target, false);
  return RemoveLeaf(site, target);
}

}  // namespace

std::span<const OperatorCommand> OperatorCommands() { return kCommands; }

const OperatorCommand* FindOperatorCommand(std::string_view option) {
  for (const OperatorCommand& command : kCommands) {
    if (command.option == option) return &command;
  }
  return nullptr;
}

int RunOperatorCommand(const OperatorCommand& command, std::span<const std::string> operands) {
  try {
    Site site;
    LoadSite(site, operands[0]);
    return Run(command.option, site, operands);
  } catch (const Refusal& refusal) {
    platform::WriteStderr("orvanegate: " + refusal.reason + "\n");
  } catch (const Exception& e) {
    platform::WriteStderr("orvanegate: " + std::string(e.ClassName()) + ": " + e.Message() + "\n");
  }
  return 1;
}

}  // namespace orvane
