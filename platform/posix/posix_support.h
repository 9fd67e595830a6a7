// Shared pieces of the POSIX platform files: usable paths and injected faults.
#pragma once

#include <string>

#include "platform/fault_injection.h"

namespace orvane::platform::posix {

// A NUL byte would cut the path short at the system call and name another file.
bool IsUsablePath(const std::string& path);
// 0, or the error code with which this operation must fail (test builds inject them).
int InjectedError(FileOperation operation, const std::string& path);

}  // namespace orvane::platform::posix
