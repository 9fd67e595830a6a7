#include "gate/text/file_text.h"

#include "platform/platform.h"

namespace orvane {

void SaveStringToFile(std::string_view content, const std::string& file_name,
                      platform::LockWait wait) {
  platform::File file = platform::File::Open(file_name, platform::OpenMode::CreateExclusive, wait);
  file.WriteAll(content);
  file.Close();
}

std::string LoadFileToString(const std::string& file_name) {
  platform::File file = platform::File::Open(file_name, platform::OpenMode::ReadShared);
  std::string content = file.ReadAll();
  file.Close();
  return content;
}

}  // namespace orvane
