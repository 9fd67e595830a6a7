// The errors of failed file operations (see file_errors.h).
#include "platform/file_errors.h"

#include "platform/exception.h"

namespace orvane::platform {
namespace {

std::string OpenErrorMessage(const std::string& path, int code) {
  return "ファイル \"" + FullPath(path) + "\". " + ErrorCodeText(code) + " は開けません";
}

std::string CreateErrorMessage(const std::string& path, int code) {
  return "ファイル \"" + FullPath(path) + "\". " + ErrorCodeText(code) + " を作成できません";
}

}  // namespace

void ThrowFileOpenError(const std::string& path, int error_code) {
  throw EFOpenError(OpenErrorMessage(path, error_code), error_code,
                    error_code == kHeldByAnotherProcess);
}

void ThrowFileCreateError(const std::string& path, int error_code) {
  throw EFCreateError(CreateErrorMessage(path, error_code), error_code,
                      error_code == kHeldByAnotherProcess);
}

void ThrowOpenFailure(const std::string& path, OpenMode mode, int code) {
  if (mode == OpenMode::ReadShared || mode == OpenMode::ReadWriteExclusive) {
    ThrowFileOpenError(path, code);
  }
  ThrowFileCreateError(path, code);
}

void ThrowInOut(const std::string& path, int code) {
  throw EInOutError("I/O error: \"" + FullPath(path) + "\". " + ErrorCodeText(code), code, false);
}

void ThrowWriteFailure(const std::string& path, int code) {
  throw EWriteError("ストリームへの書き込みエラー",
                    "file \"" + FullPath(path) + "\". " + ErrorCodeText(code));
}

void ThrowNotRegularFile(const std::string& path, int code) {
  throw EInOutError("I/O error: \"" + FullPath(path) + "\". Not a regular file", code, false);
}

}  // namespace orvane::platform
