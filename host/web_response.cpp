#include "host/web_response.h"

#include <climits>

#include "host/cookie.h"

namespace orvane {

TWebResponse::TWebResponse(TWebRequest& request)
    : request_(request), cookies_(std::make_unique<TCookieCollection>(*this)) {}

TWebResponse::~TWebResponse() = default;

void TWebResponse::SetContentStream(std::unique_ptr<TStream> stream) {
  if (stream.get() == content_stream_.get()) {
    // The stream is already ours: a second owner must not free it again.
    (void)stream.release();
    return;
  }
  content_stream_ = std::move(stream);
  if (content_stream_) {
    const std::int64_t size = content_stream_->Size();
    SetIntegerVariable(ivContentLength,
                       static_cast<std::int32_t>(size < INT32_MAX ? size : INT32_MAX));
  } else {
    SetIntegerVariable(ivContentLength, static_cast<std::int32_t>(ContentSize()));
  }
}

}  // namespace orvane
