// Access rights of the running account and of other accounts, for the site check.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_support.h"

namespace orvane::platform {
namespace {

// The rights of the effective account, as an open or a create would see them.
Answer EffectiveAccess(const std::string& path, int mode) {
  if (!posix::IsUsablePath(path)) return Answer::No;
  return faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0 ? Answer::Yes : Answer::No;
}

}  // namespace

Answer MayCreateFilesIn(const std::string& directory) {
  // Adding a name needs write access, reaching the new file needs search access.
  return EffectiveAccess(directory, W_OK | X_OK);
}

Answer MayRead(const std::string& path) { return EffectiveAccess(path, R_OK); }

Answer MayWrite(const std::string& path) { return EffectiveAccess(path, W_OK); }

Answer OpenToOtherAccounts(const std::string& path) {
  struct stat info {};
  if (!posix::IsUsablePath(path) || stat(path.c_str(), &info) != 0) return Answer::Unknown;
  // A directory that others may only search still gives away every file whose name
  // they can guess.
  const mode_t others = S_ISDIR(info.st_mode) ? (S_IROTH | S_IXOTH) : S_IROTH;
  return (info.st_mode & others) != 0 ? Answer::Yes : Answer::No;
}

std::string AccountName() {
  const uid_t uid = geteuid();
  const passwd* entry = getpwuid(uid);
  if (entry != nullptr && entry->pw_name != nullptr) return entry->pw_name;
  return "uid " + std::to_string(uid);
}

}  // namespace orvane::platform
