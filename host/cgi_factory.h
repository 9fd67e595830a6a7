// Creates the request and response pair of a CGI process.
#pragma once

#include <memory>

#include "host/cgi_request.h"
#include "host/cgi_response.h"

namespace orvane {

class TCGIFactory {
 public:
  // Reads the request's variables and its declared body from standard input.
  virtual std::unique_ptr<TCGIRequest> CreateRequest();
  virtual std::unique_ptr<TCGIResponse> CreateResponse(TWebRequest& request);
  virtual ~TCGIFactory() = default;
};

}  // namespace orvane
