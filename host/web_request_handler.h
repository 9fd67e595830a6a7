// The request handler: the pool of module lists, the factories, the connection limit,
// and the cycle of one request from obtaining a module to sending the response.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "host/component.h"
#include "host/module_class.h"
#include "host/web_module_factory.h"
#include "host/web_module_list.h"
#include "host/web_request.h"
#include "host/web_response.h"

namespace orvane {

// Called from inside an exception handler with the exception in flight: returns when
// the exception counts as handled, or lets it (or another) continue.
using TExceptionHook = std::function<void(TComponent* sender)>;

class TWebRequestHandler : public TComponent {
 public:
  explicit TWebRequestHandler(TComponent* owner = nullptr);
  ~TWebRequestHandler() override;
  const char* ClassName() const override { return "TWebRequestHandler"; }

  // A module list for one request, now active. Throws EWebHostException when the
  // connection limit is reached or no module class is known.
  TWebModuleList* AcquireModuleList();
  void ReleaseModuleList(TWebModuleList* list);
  // Routes the request to a module's dispatcher; true when it was handled.
  bool ProcessRequest(TWebRequest& request, TWebResponse& response);

  TWebModuleFactoryList& Factories() { return factories_; }
  std::size_t ActiveListCount() const { return active_lists_.size(); }
  std::size_t InactiveListCount() const { return inactive_lists_.size(); }

  // Until a hook is installed, an exception passes through unchanged.
  void SetExceptionHook(TExceptionHook hook) { exception_hook_ = std::move(hook); }
  // Call only from inside an exception handler: hands the exception in flight to the hook.
  void HandleException(TComponent* sender);

  std::optional<TModuleClass> RegisteredModuleClass;
  std::int32_t ConnectionLimit = 32;  // 0 or less: no limit
  bool KeepModuleLists = true;

 protected:
  // Destroys the pool: the active and then the inactive module lists with their modules,
  // then the factories. An owner that must outlive the pool calls this first.
  void FreePool();

 private:
  TWebModuleList* TakeModuleList();

  // Declared so that destruction runs: lock, active lists, inactive lists, factories.
  TWebModuleFactoryList factories_;
  std::vector<std::unique_ptr<TWebModuleList>> inactive_lists_;
  std::vector<std::unique_ptr<TWebModuleList>> active_lists_;
  std::atomic<std::int32_t> acquiring_count_{0};
  std::mutex lock_;
  TExceptionHook exception_hook_;
};

// The process's request handler (the application object), read by the framework where no
// handler is at hand, such as inside a module's construction; none before it exists.
TWebRequestHandler* WebRequestHandler();
void SetWebRequestHandler(TWebRequestHandler* handler);

// Hands the exception in flight to the process's request handler, or lets it continue
// when there is none. Call only from inside an exception handler.
void HandleProcessException(TComponent* sender);

}  // namespace orvane
