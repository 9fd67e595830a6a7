// Whole-file reads and writes of byte strings.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace orvane {

// Creates the file, or truncates it, shared with nobody while open, and writes every
// byte. Raises EFCreateError when it cannot be created, EWriteError on a short write.
// With LockWait::Wait a file that another process is writing is written after it.
void SaveStringToFile(std::string_view content, const std::string& file_name,
                      platform::LockWait wait = platform::LockWait::Fail);

// The whole file, opened shared with readers only. Raises EFOpenError when it cannot
// be opened.
std::string LoadFileToString(const std::string& file_name);

}  // namespace orvane
