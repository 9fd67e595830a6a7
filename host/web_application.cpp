#include "host/web_application.h"

#include "platform/exception.h"

namespace orvane {

void TWebApplication::RegisterModuleClass(const TModuleClass& module_class) {
  if (!RegisteredModuleClass) {
    RegisteredModuleClass = module_class;
  } else if (!(*RegisteredModuleClass == module_class)) {
    throw Exception("アプリケーションはデータモジュールを一つしか持つことができません。");
  }
}

}  // namespace orvane
