// The dispatcher: an ordered collection of action items that routes a request to the
// first item accepting its method and path info, and reports a handler's exception.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/component.h"
#include "host/mask.h"
#include "host/web_request.h"
#include "host/web_response.h"
#include "platform/exception.h"

namespace orvane {

class TWebActionItem;
class TWebActionItems;

using THTTPMethodEvent = std::function<void(TComponent* Sender, TWebRequest& Request,
                                            TWebResponse& Response, bool& Handled)>;
using TWebExceptionEvent =
    std::function<void(TComponent* Sender, const Exception& E, bool& Handled)>;

ORVANE_DECLARE_EXCEPTION(EWebHostException, Exception);

// One route of a dispatcher. It is a component only so that it can be the Sender of
// its handler; the collection owns it.
class TWebActionItem : public TComponent {
 public:
  explicit TWebActionItem(TWebActionItems& collection);
  ~TWebActionItem() override;
  const char* ClassName() const override { return "TWebActionItem"; }

  const std::string& Name() const { return TComponent::Name(); }
  void SetName(const std::string& value);
  const std::string& PathInfo() const { return path_info_; }
  void SetPathInfo(const std::string& value);
  TMethodType MethodType() const { return method_type_; }
  void SetMethodType(TMethodType value) { method_type_ = value; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }
  bool Default() const { return default_; }
  void SetDefault(bool value);
  const THTTPMethodEvent& OnAction() const { return on_action_; }
  void SetOnAction(THTTPMethodEvent value) { on_action_ = std::move(value); }

  bool TryHandle(TWebRequest& request, TWebResponse& response, bool as_default);

 private:
  bool PatternMatches(const std::string& path_info);

  TWebActionItems& collection_;
  std::string path_info_;
  TMethodType method_type_ = mtAny;
  bool enabled_ = true;
  bool default_ = false;
  THTTPMethodEvent on_action_;
  std::unique_ptr<TMask> compiled_pattern_;
  std::string compiled_from_;
};

class TWebActionItems {
 public:
  TWebActionItems() = default;
  TWebActionItems(const TWebActionItems&) = delete;
  TWebActionItems& operator=(const TWebActionItems&) = delete;
  // Appends an item named "WebActionItem<n>" with the smallest free n.
  TWebActionItem& Add();
  std::size_t Count() const { return items_.size(); }
  TWebActionItem& operator[](std::size_t index) { return *items_[index]; }
  // The item of that name, ignoring ASCII letter case; none when absent.
  TWebActionItem* FindByName(const std::string& name);

 private:
  std::vector<std::unique_ptr<TWebActionItem>> items_;
};

class TCustomWebDispatcher : public TDataModule {
 public:
  // Throws EWebHostException when the owner is or already owns a dispatcher.
  explicit TCustomWebDispatcher(TComponent* owner = nullptr);
  ~TCustomWebDispatcher() override;
  const char* ClassName() const override { return "TCustomWebDispatcher"; }

  TWebActionItems& Actions() { return actions_; }
  bool Dispatch(TWebRequest& request, TWebResponse& response);
  // Answers a failed dispatch: OnException, else status 500 with the error page.
  void ReportException(const Exception& e, bool& handled);

  THTTPMethodEvent BeforeDispatch;
  THTTPMethodEvent AfterDispatch;
  TWebExceptionEvent OnException;
  TWebRequest* Request = nullptr;
  TWebResponse* Response = nullptr;

 private:
  static TComponent* CheckOwner(TComponent* owner);

  TWebActionItems actions_;
};

// The "Internal Application Error" page for an error message and a path info, both
// HTML-escaped.
std::string InternalApplicationErrorPage(const std::string& message, const std::string& path_info);

class TWebModule : public TCustomWebDispatcher {
 public:
  explicit TWebModule(TComponent* owner = nullptr) : TCustomWebDispatcher(owner) {}
  const char* ClassName() const override { return "TWebModule"; }
};

}  // namespace orvane
