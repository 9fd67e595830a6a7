// Creates the request and response pair of a CGI process.
#pragma once

#include <memory>

#include "host/cgi_request.h"
#include "host/cgi_response.h"

namespace orvane {

class TCGIApplication;

class TCGIFactory {
 public:
  // Made by the application, which owns it and holds the other end of the link.
  explicit TCGIFactory(TCGIApplication& application) : application_(application) {}
  virtual ~TCGIFactory() = default;
  TCGIFactory(const TCGIFactory&) = delete;
  TCGIFactory& operator=(const TCGIFactory&) = delete;

  TCGIApplication& Application() const { return application_; }
  // Reads the request's variables and its declared body from standard input.
  virtual std::unique_ptr<TCGIRequest> CreateRequest();
  virtual std::unique_ptr<TCGIResponse> CreateResponse(TWebRequest& request);

 private:
  TCGIApplication& application_;
};

}  // namespace orvane
