// Shared pieces of the POSIX platform files: usable paths and file-error texts.
#pragma once

#include <string>

#include "platform/fault_injection.h"

namespace orvane::platform::posix {

// A NUL byte would cut the path short at the system call and name another file.
bool IsUsablePath(const std::string& path);
// The system's text for an error code (our own text for a sharing violation).
std::string SystemErrorText(int code);
// 0, or the error code with which this operation must fail (test builds inject them).
int InjectedError(FileOperation operation, const std::string& path);

}  // namespace orvane::platform::posix
