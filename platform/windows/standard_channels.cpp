// Standard input and output as binary byte channels, read and written through the
// system handles so that no byte is translated.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string_view>

#include "platform/platform.h"
#include "platform/windows/windows_support.h"

namespace orvane::platform {
namespace {

// One call moves at most this many bytes; a larger count is split.
constexpr DWORD kMaxTransfer = 1 << 30;

DWORD TransferSize(std::size_t count) {
  return count > kMaxTransfer ? kMaxTransfer : static_cast<DWORD>(count);
}

bool IsUsableHandle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// A channel the web server did not give is opened on the null device, so that reads
// end at once and writes go nowhere instead of failing on a missing handle.
void OpenMissingChannel(DWORD which) {
  if (IsUsableHandle(GetStdHandle(which))) return;
  const bool input = which == STD_INPUT_HANDLE;
  HANDLE null_device =
      CreateFileA("NUL", input ? GENERIC_READ : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (IsUsableHandle(null_device)) SetStdHandle(which, null_device);
}

bool WriteAllTo(HANDLE handle, const char* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    DWORD put = 0;
    if (!WriteFile(handle, data + done, TransferSize(count - done), &put, nullptr) || put == 0) {
      return false;
    }
    done += put;
  }
  return true;
}

}  // namespace

// A reader that has gone away makes WriteFile fail with a broken pipe; Windows sends no
// signal for it, so only the missing channels need care here.
void PrepareStandardChannels() {
  OpenMissingChannel(STD_INPUT_HANDLE);
  OpenMissingChannel(STD_OUTPUT_HANDLE);
  OpenMissingChannel(STD_ERROR_HANDLE);
  // The runtime library's own streams stay binary too, should anything use them.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

long ReadStdin(char* buffer, std::size_t count) {
  DWORD got = 0;
  if (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, TransferSize(count), &got, nullptr)) {
    return static_cast<long>(got);
  }
  // The writing end of a pipe closed: the end of the input, not a failure.
  return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

long WriteStdout(const char* data, std::size_t count) {
  if (!WriteAllTo(GetStdHandle(STD_OUTPUT_HANDLE), data, count)) return -1;
  return static_cast<long>(count);
}

void WriteStderr(std::string_view text) {
  WriteAllTo(GetStdHandle(STD_ERROR_HANDLE), text.data(), text.size());
}

}  // namespace orvane::platform
