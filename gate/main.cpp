// Placeholder entry: replaced by the request cycle work.
#include "gate/web_module1.h"
#include "host/cgi_request.h"
#include "host/cgi_response.h"

int main() {
  orvane::TCGIRequest request;
  orvane::TCGIResponse response(request);
  orvane::TWebModule1 module;
  if (module.Dispatch(request, response) && !response.IsSent()) response.SendResponse();
  return 0;
}
