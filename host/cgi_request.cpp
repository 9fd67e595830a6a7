#include "host/cgi_request.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <new>
#include <string_view>

#include "host/http_text.h"
#include "platform/platform.h"

namespace orvane {
namespace {

// Environment variable of each request variable; the body (25) has none.
constexpr const char* kVariableNames[] = {
    "REQUEST_METHOD",
    "SERVER_PROTOCOL",
    "URL",
    "QUERY_STRING",
    "PATH_INFO",
    "PATH_TRANSLATED",
    "HTTP_CACHE_CONTROL",
    "HTTP_DATE",
    "HTTP_ACCEPT",
    "HTTP_FROM",
    "HTTP_HOST",
    "HTTP_IF_MODIFIED_SINCE",
    "HTTP_REFERER",
    "HTTP_USER_AGENT",
    "HTTP_CONTENT_ENCODING",
    "CONTENT_TYPE",
    "CONTENT_LENGTH",
    "HTTP_CONTENT_VERSION",
    "HTTP_DERIVED_FROM",
    "HTTP_EXPIRES",
    "HTTP_TITLE",
    "REMOTE_ADDR",
    "REMOTE_HOST",
    "SCRIPT_NAME",
    "SERVER_PORT",
    nullptr,
    "HTTP_CONNECTION",
    "HTTP_COOKIE",
    "HTTP_AUTHORIZATION",
};
constexpr int kVariableCount = static_cast<int>(std::size(kVariableNames));

// Variables only the web server sets. A server passes every client header as an HTTP_
// variable, so an HTTP_ copy of these came from the client: a "Content-Length:" header
// sent twice under another spelling would otherwise override the real body length.
constexpr std::string_view kServerOnlyNames[] = {"CONTENT_LENGTH", "CONTENT_TYPE", "PATH_INFO"};

bool IsServerOnly(std::string_view name) {
  return std::find(std::begin(kServerOnlyNames), std::end(kServerOnlyNames), name) !=
         std::end(kServerOnlyNames);
}

// First piece of a ReadString buffer; it doubles as bytes keep arriving.
constexpr std::size_t kFirstReadChunk = 64 * 1024;

int DigitValue(char c, int base) {
  const int value = HexDigitValue(c);
  return value < base ? value : -1;
}

std::string EnvironmentValue(const std::string& name) {
  return platform::GetEnvironment(name).value_or(std::string());
}

// The status line and header block, with room for a content of the given size behind it.
std::string HeaderText(std::string_view status_text, std::string_view headers,
                       std::size_t content_size) {
  std::string text;
  text.reserve(10 + status_text.size() + headers.size() + content_size);
  text.append("Status: ").append(status_text).append("\r\n").append(headers);
  return text;
}

}  // namespace

std::int32_t RequestVariableInteger(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  int base = 10;
  const std::string_view rest = text.substr(pos);
  if (rest.starts_with("0x") || rest.starts_with("0X")) {
    base = 16;
    pos += 2;
  } else if (rest.starts_with("$") || rest.starts_with("x") || rest.starts_with("X")) {
    base = 16;
    pos += 1;
  }
  if (pos >= text.size()) return -1;
  // The magnitude may reach 2^31 only for a negative number.
  const std::int64_t limit = negative ? std::int64_t{INT32_MAX} + 1 : INT32_MAX;
  std::int64_t magnitude = 0;
  for (; pos < text.size(); ++pos) {
    const int digit = DigitValue(text[pos], base);
    if (digit < 0) return -1;
    magnitude = magnitude * base + digit;
    if (magnitude > limit) return -1;
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

TCGIRequest::TCGIRequest() {
  InitMethodType();
  const std::int32_t declared = GetIntegerVariable(rvContentLength);
  if (declared <= 0) return;
  content_ = TByteBuffer::Allocate(static_cast<std::size_t>(declared));
  content_.SetSize(ReadInput(content_.Data(), content_.Capacity()));
}

std::string TCGIRequest::GetStringVariable(int index) {
  if (index == rvContent) return std::string(content_.View());
  if (index < 0 || index >= kVariableCount) return {};
  return GetHeaderField(kVariableNames[index]);
}

double TCGIRequest::GetDateVariable(int index) {
  const std::string text = GetStringVariable(index);
  return text.empty() ? -1 : ParseHttpDate(text);
}

std::int32_t TCGIRequest::GetIntegerVariable(int index) {
  if (index == rvContent) return RequestVariableInteger(content_.View());
  return RequestVariableInteger(GetStringVariable(index));
}

std::int32_t TCGIRequest::ReadBytes(char* buffer, std::int32_t count) {
  if (count < 0 || (buffer == nullptr && count > 0)) return -1;
  return static_cast<std::int32_t>(platform::ReadStdin(buffer, static_cast<std::size_t>(count)));
}

std::size_t TCGIRequest::ReadInput(char* buffer, std::size_t count) {
  std::size_t filled = 0;
  while (filled < count && !input_ended_) {
    const long got = platform::ReadStdin(buffer + filled, count - filled);
    if (got <= 0) {
      // A failed read ends the input like its end does.
      input_ended_ = true;
    } else {
      filled += static_cast<std::size_t>(got);
    }
  }
  return filled;
}

std::string TCGIRequest::ReadString(std::int32_t count) {
  if (count <= 0 || input_ended_) return {};
  const auto wanted = static_cast<std::size_t>(count);
  std::string result;
  try {
    std::size_t filled = 0;
    // Room grows with what arrives: a large declared rest that never comes costs nothing.
    while (filled < wanted && !input_ended_) {
      const std::size_t room = std::min(wanted, std::max(filled * 2, kFirstReadChunk));
      result.resize(room);
      filled += ReadInput(result.data() + filled, room - filled);
    }
    result.resize(filled);
  } catch (const std::bad_alloc&) {
    ThrowOutOfMemory(wanted);
  }
  return result;
}

std::string TCGIRequest::MapUriToPath(const std::string& uri) {
  const std::string translated = GetStringVariable(rvPathTranslated);
  if (translated.empty()) return uri;
  const std::string path_info = GetStringVariable(rvPathInfo);
  if (!std::string_view(translated).ends_with(path_info)) return uri;
  return translated.substr(0, translated.size() - path_info.size()) + uri;
}

std::int32_t TCGIRequest::WriteBytes(const char* buffer, std::int32_t count) {
  if (count < 0 || (buffer == nullptr && count > 0)) return -1;
  return static_cast<std::int32_t>(platform::WriteStdout(buffer, static_cast<std::size_t>(count)));
}

bool TCGIRequest::WriteString(std::string_view text) {
  if (text.empty()) return false;
  return platform::WriteStdout(text.data(), text.size()) == static_cast<long>(text.size());
}

bool TCGIRequest::WriteHeaders(int /*status_code*/, const std::string& status_text,
                               const std::string& headers) {
  return WriteString(HeaderText(status_text, headers, 0));
}

bool TCGIRequest::WriteResponse(int status_code, const std::string& status_text,
                                const std::string& headers, std::string_view content) {
  // A small reply goes out in one write; a large page is not copied behind its headers,
  // which would hold it twice at the peak.
  constexpr std::size_t kOneWriteLimit = 64 * 1024;
  if (content.size() > kOneWriteLimit) {
    return WriteHeaders(status_code, status_text, headers) && WriteString(content);
  }
  std::string reply = HeaderText(status_text, headers, content.size());
  reply.append(content);
  return WriteString(reply);
}

std::string TCGIRequest::GetHeaderField(const std::string& name) {
  const bool http_form = name.starts_with("HTTP_");
  if (IsServerOnly(http_form ? std::string_view(name).substr(5) : std::string_view(name))) {
    return EnvironmentValue(http_form ? name.substr(5) : name);
  }
  std::string value = EnvironmentValue(name);
  if (!value.empty()) return value;
  // Web servers set either the HTTP_ form of a name or the plain one.
  const std::string other = http_form ? name.substr(5) : "HTTP_" + name;
  return EnvironmentValue(other);
}

}  // namespace orvane
