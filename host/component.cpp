#include "host/component.h"

#include <algorithm>

#include "host/web_request_handler.h"

namespace orvane {

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_ != nullptr) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  // Each owned component removes itself from components_ as it goes.
  while (!components_.empty()) delete components_.back();
  if (owner_ != nullptr) {
    auto& siblings = owner_->components_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

TDataModule::~TDataModule() {
  if (!OnDestroy) return;
  // Destruction must not fail: an error of the event is dropped.
  try {
    OnDestroy(this);
  } catch (...) {
  }
}

void TDataModule::LoadDescription(const std::function<void()>& apply) {
  try {
    apply();
    if (OldCreateOrder && OnCreate) OnCreate(this);
  } catch (...) {
    HandleProcessException(nullptr);
  }
}

void TDataModule::AfterConstruction() {
  if (!OldCreateOrder && OnCreate) OnCreate(this);
}

}  // namespace orvane
