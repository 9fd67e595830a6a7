#include "host/web_request_handler.h"

#include <algorithm>

#include "host/web_app_services.h"
#include "host/web_dispatcher.h"

namespace orvane {
namespace {

TWebRequestHandler* g_request_handler = nullptr;

[[noreturn]] void ThrowConnectionLimit() {
  throw EWebHostException("最大同時接続数を超えました。しばらくしてからもう一度試してください。");
}

}  // namespace

TWebRequestHandler::TWebRequestHandler(TComponent* owner) : TComponent(owner) {}

TWebRequestHandler::~TWebRequestHandler() { FreePool(); }

void TWebRequestHandler::FreePool() {
  std::lock_guard<std::mutex> guard(lock_);
  active_lists_.clear();
  inactive_lists_.clear();
  factories_.Clear();
}

TWebModuleList* TWebRequestHandler::AcquireModuleList() {
  if (ConnectionLimit > 0 && acquiring_count_ >= ConnectionLimit) ThrowConnectionLimit();
  std::lock_guard<std::mutex> guard(lock_);
  acquiring_count_ = static_cast<std::int32_t>(active_lists_.size()) + 1;
  try {
    TWebModuleList* list = TakeModuleList();
    acquiring_count_ = 0;
    return list;
  } catch (...) {
    acquiring_count_ = 0;
    throw;
  }
}

// The acquisition proper, with the lock held.
TWebModuleList* TWebRequestHandler::TakeModuleList() {
  if (ConnectionLimit > 0 && static_cast<std::int64_t>(active_lists_.size()) >= ConnectionLimit) {
    ThrowConnectionLimit();
  }
  std::unique_ptr<TWebModuleList> list;
  if (!inactive_lists_.empty()) {
    list = std::move(inactive_lists_.front());
    inactive_lists_.erase(inactive_lists_.begin());
    list->SetOnModuleAdded(nullptr);
  } else {
    if (factories_.Count() == 0 && RegisteredModuleClass) {
      auto factory = std::make_unique<TDefaultWebModuleFactory>(*RegisteredModuleClass);
      factories_.AddModuleFactory(factory.get());
      factory.release();  // now owned by the factory list
    }
    if (factories_.Count() == 0) throw EWebHostException("データモジュールが登録されていません。");
    list = std::make_unique<TWebModuleList>(factories_);
  }
  active_lists_.push_back(std::move(list));
  return active_lists_.back().get();
}

void TWebRequestHandler::ReleaseModuleList(TWebModuleList* list) {
  std::lock_guard<std::mutex> guard(lock_);
  auto found = std::find_if(active_lists_.begin(), active_lists_.end(),
                            [list](const auto& active) { return active.get() == list; });
  if (found == active_lists_.end()) return;
  std::unique_ptr<TWebModuleList> released = std::move(*found);
  active_lists_.erase(found);
  released->FreeUncachedModules();
  if (KeepModuleLists && released->ModuleCount() > 0) {
    inactive_lists_.push_back(std::move(released));
  }
}

void TWebRequestHandler::HandleException(TComponent* sender) {
  if (!exception_hook_) throw;
  exception_hook_(sender);
}

bool TWebRequestHandler::ProcessRequest(TWebRequest& request, TWebResponse& response) {
  bool handled = false;
  TWebModuleList* list = AcquireModuleList();
  try {
    list->CreateModules();
    if (list->ModuleCount() == 0) {
      throw EWebHostException("自動的に有効化できるデータモジュールが存在しません");
    }
    try {
      TDefaultWebAppServices services;
      services.SetContext(list, &request, &response);
      try {
        handled = services.DispatchRequest();
      } catch (...) {
        try {
          HandleException(services.ExceptionTarget());
        } catch (...) {
          services.EndContext();
          throw;
        }
      }
      services.EndContext();
      if (handled && !response.IsSent()) response.SendResponse();
    } catch (...) {
      HandleException(nullptr);
    }
  } catch (...) {
    ReleaseModuleList(list);
    throw;
  }
  ReleaseModuleList(list);
  return handled;
}

TWebRequestHandler* WebRequestHandler() { return g_request_handler; }

void SetWebRequestHandler(TWebRequestHandler* handler) { g_request_handler = handler; }

void HandleProcessException(TComponent* sender) {
  if (g_request_handler == nullptr) throw;
  g_request_handler->HandleException(sender);
}

}  // namespace orvane
