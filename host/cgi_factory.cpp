#include "host/cgi_factory.h"

namespace orvane {

std::unique_ptr<TCGIRequest> TCGIFactory::CreateRequest() {
  return std::make_unique<TCGIRequest>();
}

std::unique_ptr<TCGIResponse> TCGIFactory::CreateResponse(TWebRequest& request) {
  return std::make_unique<TCGIResponse>(request);
}

}  // namespace orvane
