// Placeholder implementation: replaced by the dispatcher work.
#include "host/web_dispatcher.h"

namespace orvane {
TWebActionItem::TWebActionItem(TWebActionItems& collection) : collection_(collection) {}
TWebActionItem::~TWebActionItem() = default;
void TWebActionItem::SetName(const std::string& value) { name_ = value; }
void TWebActionItem::SetPathInfo(const std::string& value) { path_info_ = value; }
void TWebActionItem::SetDefault(bool value) { default_ = value; }
bool TWebActionItem::PatternMatches(const std::string& path_info) { return path_info == path_info_; }
bool TWebActionItem::TryHandle(TWebRequest& request, TWebResponse& response, bool) {
  if (!enabled_ || !PatternMatches(request.GetDispatchPathInfo()) || !on_action_) return false;
  bool handled = true;
  on_action_(nullptr, request, response, handled);
  return handled;
}
TWebActionItem& TWebActionItems::Add() {
  items_.push_back(std::make_unique<TWebActionItem>(*this));
  return *items_.back();
}
TWebActionItem* TWebActionItems::FindByName(const std::string&) { return nullptr; }
TCustomWebDispatcher::TCustomWebDispatcher(TComponent* owner) : TDataModule(owner) {}
TCustomWebDispatcher::~TCustomWebDispatcher() = default;
bool TCustomWebDispatcher::Dispatch(TWebRequest& request, TWebResponse& response) {
  for (std::size_t i = 0; i < actions_.Count(); ++i) {
    if (actions_[i].TryHandle(request, response, false)) return true;
  }
  return false;
}
void TCustomWebDispatcher::ReportException(const Exception&, bool& handled) { handled = false; }
}  // namespace orvane
