// Whether a form was posted to the gate from a page of another site: a visitor's browser
// made to register an id, change a password or post a file. Browsers name the page's
// origin in Origin on every POST and, over HTTPS or to loopback, its relation to the
// target in Sec-Fetch-Site; a request with neither (a script, an old browser) is taken
// as it comes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

inline constexpr char kCrossSiteRefused[] =
    "The form was sent from another site. 他のサイトから送信されたフォームは受け付けません";

// A web origin: scheme and host in lower case, the port always given.
struct WebOrigin {
  std::string scheme;
  std::string host;
  unsigned port = 0;
  bool operator==(const WebOrigin&) const = default;
};

// "http://host" or "https://host", with ":port" or without (80 and 443); the host a name
// or a bracketed IPv6 address. Nothing else is an origin ("null", a path, user info).
std::optional<WebOrigin> ParseOrigin(std::string_view text);

// What a request tells of where its form came from: the Origin and Sec-Fetch-Site
// headers, the Host header, whether it came over TLS, and the origins config.txt lets
// in besides the site's own (allowedorigins, separated by spaces).
struct PostSource {
  std::string_view origin;
  std::string_view fetch_site;
  std::string_view host;
  bool https = false;
  std::string_view allowed_origins;
};

bool IsCrossSitePost(const PostSource& source);

// The entries of allowedorigins that are not origins, which never let anything in.
std::vector<std::string> MalformedOrigins(std::string_view allowed_origins);

// For a POST of this request: true when it came from another site, after writing the
// operator's line "orvanegate: cross-site request refused: address ADDRESS origin
// ORIGIN" to standard error.
bool RefuseCrossSitePost(std::string_view allowed_origins);

}  // namespace orvane
