#include "host/cgi_application.h"

#include "host/relay_exception.h"
#include "host/server_error_page.h"
#include "platform/platform.h"

namespace orvane {

TCGIApplication::TCGIApplication(TComponent* owner) : TWebApplication(owner) {
  SetExceptionHook(RelayException);
}

TCGIApplication::~TCGIApplication() {
  FreePool();
  request_factory_.reset();
}

TCGIFactory& TCGIApplication::RequestFactory() {
  if (!request_factory_) request_factory_ = std::make_unique<TCGIFactory>(*this);
  return *request_factory_;
}

void TCGIApplication::Run() {
  platform::PrepareStandardChannels();
  ServeRequest();
}

void TCGIApplication::ServeRequest() {
  try {
    // Declared in this order so that the response goes first, before the handler runs.
    std::unique_ptr<TCGIRequest> request = RequestFactory().CreateRequest();
    std::unique_ptr<TCGIResponse> response = RequestFactory().CreateResponse(*request);
    ProcessRequest(*request, *response);
  } catch (...) {
    try {
      WriteServerErrorPage(std::current_exception());
    } catch (...) {
      // Nothing is left to answer with.
    }
  }
}

}  // namespace orvane
