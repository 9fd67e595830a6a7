// The application object: a request handler with the start-up operations.
#pragma once

#include "host/module_class.h"
#include "host/web_request_handler.h"

namespace orvane {

class TWebApplication : public TWebRequestHandler {
 public:
  explicit TWebApplication(TComponent* owner = nullptr) : TWebRequestHandler(owner) {}
  const char* ClassName() const override { return "TWebApplication"; }

  // Records the application's one module class; another class raises Exception.
  virtual void RegisterModuleClass(const TModuleClass& module_class);
  virtual void Initialize() {}
  virtual void Run() {}
};

}  // namespace orvane
