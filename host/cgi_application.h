// The CGI application: a request's cycle from reading it to the reply, once per process or,
// in a persistent process, once per request.
#pragma once

#include <memory>

#include "host/cgi_factory.h"
#include "host/web_application.h"

namespace orvane {

class TCGIApplication : public TWebApplication {
 public:
  // Installs RelayException as the exception hook: an error of a module is answered with
  // the module's error page or the last-resort reply, never let out of the cycle.
  explicit TCGIApplication(TComponent* owner = nullptr);
  // The pool goes first and the request factory last, so that no module outlives it.
  ~TCGIApplication() override;
  const char* ClassName() const override { return "TCGIApplication"; }

  // The whole request cycle; never lets an exception out, answers with the
  // last-resort reply when the cycle itself fails.
  void Run() override;
  // One request cycle on standard channels already prepared; a persistent process calls
  // it for each of its requests, with KeepModuleLists off so that no request meets a
  // module that an earlier one has used.
  void ServeRequest();

  // Created on first use.
  TCGIFactory& RequestFactory();
  bool HasRequestFactory() const { return request_factory_ != nullptr; }

 private:
  std::unique_ptr<TCGIFactory> request_factory_;
};

}  // namespace orvane
