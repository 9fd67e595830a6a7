#include "host/web_app_services.h"

namespace orvane {

void TDefaultWebAppServices::SetContext(TWebModuleList* list, TWebRequest* request,
                                        TWebResponse* response) {
  list_ = list;
  request_ = request;
  response_ = response;
}

TCustomWebDispatcher* TDefaultWebAppServices::FindDispatcher() const {
  if (list_ == nullptr) return nullptr;
  for (std::size_t i = 0; i < list_->ModuleCount(); ++i) {
    TComponent* module = list_->Module(i);
    if (auto* dispatcher = dynamic_cast<TCustomWebDispatcher*>(module)) return dispatcher;
    for (TComponent* component : module->Components()) {
      if (auto* dispatcher = dynamic_cast<TCustomWebDispatcher*>(component)) return dispatcher;
    }
  }
  return nullptr;
}

bool TDefaultWebAppServices::DispatchRequest() {
  if (dispatcher_ == nullptr) dispatcher_ = FindDispatcher();
  if (dispatcher_ == nullptr) {
    throw EWebHostException("ディスパッチコンポーネントがデータモジュールに存在しません。");
  }
  return dispatcher_->Dispatch(*request_, *response_);
}

TCustomWebDispatcher* TDefaultWebAppServices::ExceptionTarget() {
  if (dispatcher_ == nullptr) dispatcher_ = FindDispatcher();
  return dispatcher_;
}

}  // namespace orvane
