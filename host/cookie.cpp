// Placeholder implementation: replaced by the CGI output work.
#include "host/cookie.h"

namespace orvane {
std::string TCookie::SetCookieText() const { return Name + "=" + Value; }
TCookie& TCookieCollection::Add() {
  items_.push_back(std::make_unique<TCookie>());
  return *items_.back();
}
}  // namespace orvane
