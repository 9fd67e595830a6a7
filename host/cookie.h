// Cookies of a response and their "Set-Cookie" texts.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace orvane {

class TWebResponse;

class TCookie {
 public:
  std::string Name, Value, Domain, Path;
  double Expires = -1;
  bool Secure = false;
  std::string SetCookieText() const;
};

class TCookieCollection {
 public:
  explicit TCookieCollection(TWebResponse& response) : response_(response) {}
  TCookie& Add();
  std::size_t Count() const { return items_.size(); }
  TCookie& operator[](std::size_t index) { return *items_[index]; }
  TWebResponse& Response() const { return response_; }

 private:
  TWebResponse& response_;
  std::vector<std::unique_ptr<TCookie>> items_;
};

}  // namespace orvane
