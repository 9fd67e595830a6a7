// The request's log files: body dumps by day and the error log beside the executable.
#include <optional>
#include <utility>

#include "gate/leaves/leaf_naming.h"
#include "gate/text/file_text.h"
#include "gate/text/path_text.h"
#include "gate/text/time_stamp.h"
#include "gate/web_module1.h"
#include "platform/platform.h"

namespace orvane {

void TWebModule1::DumpBody(std::string_view body) {
  if (dumppath.empty()) return;
  const std::string day_directory =
      IncludeTrailingDelimiter(IncludeTrailingDelimiter(dumppath) + RequestDay);
  // A directory that cannot be made shows up as the failure to create the dump file.
  platform::CreateDirectories(day_directory);
  // Two requests of the same millisecond (or of a clock set back) would share a dump name:
  // the later one takes the next free suffix, so no dump replaces another.
  std::optional<platform::File> created;
  const std::optional<std::string> name =
      FirstFreeStampName(RequestStamp, [&](const std::string& candidate) {
        created = CreateNewFile(day_directory + candidate + ".txt");
        return created.has_value();
      });
  const std::string dump = day_directory + (name ? *name : RequestStamp) + ".txt";
  if (!name) platform::ThrowFileCreateError(dump, platform::FileExistsErrorCode());
  platform::File file = std::move(*created);
  try {
    file.WriteAll(body);
    file.Close();
  } catch (...) {
    // A dump cut short (a full disk) would pass for the whole body: it goes.
    file = platform::File();
    platform::RemoveFile(dump);
    throw;
  }
}

void TWebModule1::WriteErrorLog(const std::string& message) {
  std::string entry = FormatLogTime(platform::LocalNow());
  entry.append("\r\n").append(message).append("\r\n");
  SaveStringToFile(entry, GetExecutableDirectory() + "error.txt", platform::LockWait::Wait);
}

}  // namespace orvane
