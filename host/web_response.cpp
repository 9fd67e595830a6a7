#include "host/web_response.h"

#include "host/cookie.h"

namespace orvane {

TWebResponse::TWebResponse(TWebRequest& request)
    : request_(request), cookies_(std::make_unique<TCookieCollection>(*this)) {}

TWebResponse::~TWebResponse() = default;

void TWebResponse::SetContentStream(std::unique_ptr<TStream> stream) {
  content_stream_ = std::move(stream);
}

}  // namespace orvane
