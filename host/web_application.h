// The application object: a request handler with the start-up operations.
#pragma once

#include "host/module_class.h"
#include "host/web_request_handler.h"

namespace orvane {

class TWebApplication : public TWebRequestHandler {
 public:
  // Becomes the process's request handler and installs its own exception hook.
  explicit TWebApplication(TComponent* owner = nullptr);
  ~TWebApplication() override;
  const char* ClassName() const override { return "TWebApplication"; }

  // Records the application's one module class; another class raises Exception.
  virtual void RegisterModuleClass(const TModuleClass& module_class);
  virtual void Initialize() {}
  virtual void Run() {}

  // The application's own exception hook, in place until requests are handled: with no
  // request there is no page to answer with, so the exception goes on to whoever started
  // the application.
  static void ApplicationException(TComponent* sender);
};

}  // namespace orvane
