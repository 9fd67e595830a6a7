#include "host/web_dispatcher.h"

#include "host/ascii_case.h"
#include "host/http_text.h"
#include "host/server_error_page.h"

namespace orvane {

TWebActionItem::TWebActionItem(TWebActionItems& collection) : collection_(collection) {}

TWebActionItem::~TWebActionItem() = default;

void TWebActionItem::SetName(const std::string& value) {
  if (EqualsIgnoringAsciiCase(value, Name())) return;
  const TWebActionItem* other = collection_.FindByName(value);
  if (other != nullptr && other != this) throw EWebHostException("アクション名が重複しています");
  TComponent::SetName(value);
}

void TWebActionItem::SetPathInfo(const std::string& value) {
  std::string path = BackslashesToSlashes(value);
  if (!path.empty() && path.front() != '/') path.insert(path.begin(), '/');
  if (!EqualsIgnoringAsciiCase(path, path_info_)) path_info_ = std::move(path);
}

void TWebActionItem::SetDefault(bool value) {
  if (value) {
    for (std::size_t i = 0; i < collection_.Count(); ++i) collection_[i].default_ = false;
  }
  default_ = value;
}

bool TWebActionItem::PatternMatches(const std::string& path_info) {
  if (!compiled_pattern_ || !EqualsIgnoringAsciiCase(compiled_from_, path_info_)) {
    // A pattern that fails to compile leaves the previous one in place.
    auto mask = std::make_unique<TMask>(path_info_);
    compiled_from_ = path_info_;
    compiled_pattern_ = std::move(mask);
  }
  return compiled_pattern_->IsMatch(path_info);
}

bool TWebActionItem::TryHandle(TWebRequest& request, TWebResponse& response, bool as_default) {
  // The default item, tried as default, runs without any test, even when disabled.
  if (!(as_default && default_)) {
    if (!enabled_) return false;
    if (method_type_ != mtAny && method_type_ != request.MethodType()) return false;
    if (!PatternMatches(request.GetDispatchPathInfo())) return false;
  }
  if (!on_action_) return false;
  bool handled = true;
  on_action_(this, request, response, handled);
  return handled;
}

TWebActionItem& TWebActionItems::Add() {
  items_.push_back(std::make_unique<TWebActionItem>(*this));
  TWebActionItem& item = *items_.back();
  for (int number = 1;; ++number) {
    const std::string name = "WebActionItem" + std::to_string(number);
    if (FindByName(name) == nullptr) {
      item.SetName(name);
      return item;
    }
  }
}

TWebActionItem* TWebActionItems::FindByName(const std::string& name) {
  for (const auto& item : items_) {
    if (EqualsIgnoringAsciiCase(item->Name(), name)) return item.get();
  }
  return nullptr;
}

TComponent* TCustomWebDispatcher::CheckOwner(TComponent* owner) {
  if (owner == nullptr) return owner;
  bool has_dispatcher = dynamic_cast<TCustomWebDispatcher*>(owner) != nullptr;
  for (const TComponent* component : owner->Components()) {
    if (dynamic_cast<const TCustomWebDispatcher*>(component) != nullptr) has_dispatcher = true;
  }
  if (has_dispatcher) {
    throw EWebHostException(
        "Web ディスパッチャは一つのフォーム/データモジュールに一つしか置けません");
  }
  return owner;
}

// The owner is checked before the component joins it.
TCustomWebDispatcher::TCustomWebDispatcher(TComponent* owner) : TDataModule(CheckOwner(owner)) {}

TCustomWebDispatcher::~TCustomWebDispatcher() = default;

bool TCustomWebDispatcher::Dispatch(TWebRequest& request, TWebResponse& response) {
  Request = &request;
  Response = &response;
  if (response.IsSent()) return true;
  bool handled = false;
  if (BeforeDispatch) {
    BeforeDispatch(this, request, response, handled);
  }
  if (!handled) handled = response.IsSent();
  TWebActionItem* default_item = nullptr;
  for (std::size_t i = 0; i < actions_.Count() && !handled; ++i) {
    handled = actions_[i].TryHandle(request, response, false);
    if (actions_[i].Default()) default_item = &actions_[i];
  }
  if (!handled && default_item != nullptr) {
    handled = default_item->TryHandle(request, response, true);
  }
  if (handled && !response.IsSent()) {
    handled = true;
    if (AfterDispatch) AfterDispatch(this, request, response, handled);
  }
  return handled;
}

void TCustomWebDispatcher::ReportException(const Exception& e, bool& handled) {
  handled = false;
  if (OnException) {
    handled = true;
    if (Response != nullptr) Response->SetStatusCode(500);
    OnException(this, e, handled);
    if (handled && Response != nullptr) Response->SendResponse();
  }
  if (handled || Response == nullptr) return;
  const std::string path_info = Request != nullptr ? Request->GetStringVariable(rvPathInfo) : "";
  LogServerError(DescribeException(e),
                 Request != nullptr ? Request->GetStringVariable(rvMethod) : "",
                 Request != nullptr ? Request->GetDispatchScriptName() : "");
  Response->SetContent(InternalApplicationErrorPage(e.Message(), path_info));
  if (!Response->IsSent()) {
    Response->SetStatusCode(500);
    Response->SendResponse();
  }
  handled = true;
}

std::string InternalApplicationErrorPage(const std::string& message, const std::string& path_info) {
  // A message may quote request data (a path built from an id), so both are escaped.
  return "<html><body><h1>Internal Application Error / 内部アプリケーションエラー</h1>\r\n<p>" +
         EscapeHtml(message) + "\r\n<p><hr width=\"100%\"><i>" + EscapeHtml(path_info) +
         "</i></body></html>";
}

}  // namespace orvane
