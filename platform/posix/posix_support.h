// Shared pieces of the POSIX platform files: usable paths and file-error texts.
#pragma once

#include <string>

namespace orvane::platform::posix {

// A NUL byte would cut the path short at the system call and name another file.
bool IsUsablePath(const std::string& path);
// The system's text for an error code (our own text for a sharing violation).
std::string SystemErrorText(int code);

}  // namespace orvane::platform::posix
