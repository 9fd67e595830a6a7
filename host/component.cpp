// Placeholder implementation: replaced by the dispatcher work.
#include "host/component.h"

namespace orvane {
TComponent::TComponent(TComponent* owner) : owner_(owner) {}
TComponent::~TComponent() = default;
TDataModule::~TDataModule() = default;
}  // namespace orvane
