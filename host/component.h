// Runtime-support bases: an owned, named component and a data module.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvane {

// A named object; an owner destroys the components it owns when it is destroyed.
class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  TComponent* Owner() const { return owner_; }
  const std::vector<TComponent*>& Components() const { return components_; }
  virtual const char* ClassName() const { return "TComponent"; }

 private:
  TComponent* owner_;
  std::string name_;
  std::vector<TComponent*> components_;  // owned
};

// A component with creation and destruction events.
class TDataModule : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TComponent* sender)>;
  explicit TDataModule(TComponent* owner = nullptr) : TComponent(owner) {}
  ~TDataModule() override;
  const char* ClassName() const override { return "TDataModule"; }

  // Called by whoever creates the module once its constructor has finished: runs OnCreate.
  virtual void AfterConstruction();

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  bool OldCreateOrder = false;
};

}  // namespace orvane
