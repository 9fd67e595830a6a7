#include "host/web_application.h"

#include "platform/exception.h"

namespace orvane {

TWebApplication::TWebApplication(TComponent* owner) : TWebRequestHandler(owner) {
  SetWebRequestHandler(this);
  SetExceptionHook(ApplicationException);
}

TWebApplication::~TWebApplication() {
  if (WebRequestHandler() == this) SetWebRequestHandler(nullptr);
}

void TWebApplication::ApplicationException(TComponent*) { throw; }

void TWebApplication::RegisterModuleClass(const TModuleClass& module_class) {
  if (!RegisteredModuleClass) {
    RegisteredModuleClass = module_class;
  } else if (!(*RegisteredModuleClass == module_class)) {
    throw Exception("アプリケーションはデータモジュールを一つしか持つことができません。");
  }
}

}  // namespace orvane
