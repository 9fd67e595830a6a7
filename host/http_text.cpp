#include "host/http_text.h"

#include <cstddef>

namespace orvane {
namespace {

struct ReasonEntry {
  int code;
  const char* text;
};

constexpr ReasonEntry kReasons[] = {
    {100, "Continue"},
    {101, "Switching Protocols"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Moved Temporarily"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "None Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Unless True"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
};

bool IsFormSafe(unsigned char byte) {
  if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
      (byte >= 'a' && byte <= 'z')) {
    return true;
  }
  switch (byte) {
    case '!':
    case '$':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '-':
    case '.':
    case '@':
    case '_':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string ReasonPhrase(int code) {
  for (const ReasonEntry& entry : kReasons) {
    if (entry.code == code) return entry.text;
  }
  return {};
}

std::string FormEncode(std::string_view text) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string result(text.size() * 3, '\0');
  std::size_t used = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0) break;
    if (IsFormSafe(byte)) {
      result[used++] = c;
    } else if (byte == ' ') {
      result[used++] = '+';
    } else {
      result[used++] = '%';
      result[used++] = kHexDigits[byte >> 4];
      result[used++] = kHexDigits[byte & 0x0F];
    }
  }
  result.resize(used);
  return result;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string BackslashesToSlashes(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return result;
}

}  // namespace orvane
