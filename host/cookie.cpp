#include "host/cookie.h"

#include "host/http_text.h"

namespace orvane {

std::string TCookie::SetCookieText() const {
  std::string text = FormEncode(Name) + "=" + FormEncode(Value) + "; ";
  if (!Domain.empty()) text += "domain=" + Domain + "; ";
  if (!Path.empty()) text += "path=" + Path + "; ";
  if (Expires > -1) text += "expires=" + HttpDateText(Expires) + "; ";
  if (Secure) text += "secure";
  if (text.ends_with("; ")) text.resize(text.size() - 2);
  return text;
}

TCookie& TCookieCollection::Add() {
  items_.push_back(std::make_unique<TCookie>());
  return *items_.back();
}

}  // namespace orvane
