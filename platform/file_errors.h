// The errors of failed file operations, alike on every system: the message names the file
// by its full path and carries the system's own text for the error code.
#pragma once

#include <string>

#include "platform/platform.h"

namespace orvane::platform {

// The system's text for an error code (our own text for a sharing violation); each
// system's platform files define it.
std::string ErrorCodeText(int code);

// EFOpenError for the modes that open an existing file, EFCreateError for the others.
[[noreturn]] void ThrowOpenFailure(const std::string& path, OpenMode mode, int code);
// EInOutError: reading, rewriting or closing an open file failed.
[[noreturn]] void ThrowInOut(const std::string& path, int code);
// EWriteError: not every byte could be written. Its message is the stream's own text;
// the file and the system's reason go to the log line only.
[[noreturn]] void ThrowWriteFailure(const std::string& path, int code);
// EInOutError: the path was opened but names a device or a pipe, not a file.
[[noreturn]] void ThrowNotRegularFile(const std::string& path, int code);

}  // namespace orvane::platform
