// The refusal of a form posted from a page of another site.
#include "gate/form/cross_site.h"

#include <algorithm>
#include <charconv>

#include "gate/accounts/password_guesses.h"
#include "gate/text/cgi_text.h"
#include "host/ascii_case.h"
#include "platform/platform.h"

namespace orvane {
namespace {

constexpr unsigned kHttpPort = 80;
constexpr unsigned kHttpsPort = 443;

bool IsNameByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte <= 0x20 || byte >= 0x7F) return false;
  return std::string_view("/?#@\\[]:").find(c) == std::string_view::npos;
}

bool IsAddressByte(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
         c == '.';
}

// The host of "host[:port]" and what follows it, or nullopt when it is not a host.
std::optional<std::string_view> HostPart(std::string_view authority, std::string_view& rest) {
  std::size_t end = 0;
  if (authority.starts_with('[')) {
    end = authority.find(']');
    if (end == std::string_view::npos || end == 1) return std::nullopt;
    for (const char c : authority.substr(1, end - 1)) {
      if (!IsAddressByte(c)) return std::nullopt;
    }
    ++end;
  } else {
    while (end < authority.size() && IsNameByte(authority[end])) ++end;
    if (end == 0) return std::nullopt;
  }
  rest = authority.substr(end);
  return authority.substr(0, end);
}

// A port of one to five digits, up to 65535.
std::optional<unsigned> ParsePort(std::string_view digits) {
  unsigned port = 0;
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (error != std::errc() || end != digits.data() + digits.size() || port > 65535) {
    return std::nullopt;
  }
  return port;
}

// Every word of a text of words separated by spaces or tabs, in order.
template <typename Visit>
void ForEachWord(std::string_view text, Visit visit) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t start = text.find_first_not_of(" \t", at);
    if (start == std::string_view::npos) return;
    const std::size_t end = std::min(text.find_first_of(" \t", start), text.size());
    visit(text.substr(start, end - start));
    at = end;
  }
}

bool IsListed(std::string_view origin, std::string_view allowed_origins) {
  const std::optional<WebOrigin> parsed = ParseOrigin(origin);
  if (!parsed) return false;
  bool listed = false;
  ForEachWord(allowed_origins,
              [&](std::string_view entry) { listed = listed || ParseOrigin(entry) == parsed; });
  return listed;
}

// Whether the Origin names another origin than the request's own: "null", anything that
// is not an origin, and any Origin when the request names no Host all do.
bool IsForeignOrigin(const PostSource& source) {
  const std::optional<WebOrigin> origin = ParseOrigin(source.origin);
  if (!origin || source.host.empty()) return true;
  const std::string scheme = source.https ? "https://" : "http://";
  const std::optional<WebOrigin> own = ParseOrigin(scheme + std::string(source.host));
  return !own || own->host != origin->host || own->port != origin->port;
}

}  // namespace

std::optional<WebOrigin> ParseOrigin(std::string_view text) {
  const std::size_t colon = text.find("://");
  if (colon == std::string_view::npos) return std::nullopt;
  WebOrigin origin{LowerCaseAscii(text.substr(0, colon)), {}, 0};
  if (origin.scheme == "http") {
    origin.port = kHttpPort;
  } else if (origin.scheme == "https") {
    origin.port = kHttpsPort;
  } else {
    return std::nullopt;
  }
  std::string_view rest;
  const std::optional<std::string_view> host = HostPart(text.substr(colon + 3), rest);
  if (!host) return std::nullopt;
  origin.host = LowerCaseAscii(*host);
  if (rest.empty()) return origin;
  if (!rest.starts_with(':')) return std::nullopt;
  const std::optional<unsigned> port = ParsePort(rest.substr(1));
  if (!port) return std::nullopt;
  origin.port = *port;
  return origin;
}

bool IsCrossSitePost(const PostSource& source) {
  const bool foreign_origin = !source.origin.empty() && IsForeignOrigin(source);
  const bool other_site = EqualsIgnoringAsciiCase(source.fetch_site, "cross-site") ||
                          EqualsIgnoringAsciiCase(source.fetch_site, "same-site");
  return (foreign_origin || other_site) && !IsListed(source.origin, source.allowed_origins);
}

std::vector<std::string> MalformedOrigins(std::string_view allowed_origins) {
  std::vector<std::string> malformed;
  ForEachWord(allowed_origins, [&](std::string_view entry) {
    if (!ParseOrigin(entry)) malformed.emplace_back(entry);
  });
  return malformed;
}

bool RefuseCrossSitePost(std::string_view allowed_origins) {
  if (GetEnv("REQUEST_METHOD") != "POST") return false;
  const std::string origin = GetEnv("HTTP_ORIGIN");
  const std::string fetch_site = GetEnv("HTTP_SEC_FETCH_SITE");
  const std::string host = GetEnv("HTTP_HOST");
  const bool https = EqualsIgnoringAsciiCase(GetEnv("HTTPS"), "on") ||
                     EqualsIgnoringAsciiCase(GetEnv("REQUEST_SCHEME"), "https");
  if (!IsCrossSitePost({origin, fetch_site, host, https, allowed_origins})) return false;
  platform::WriteStderr(RefusalLogLine("cross-site request refused",
                                       {{"address", GetEnv("REMOTE_ADDR")}, {"origin", origin}}));
  return true;
}

}  // namespace orvane
