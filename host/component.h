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

  // Called by whoever creates the module once its constructor has finished: runs OnCreate
  // unless OldCreateOrder ran it during construction already.
  virtual void AfterConstruction();

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  bool OldCreateOrder = false;
  // Where the module was placed when it was designed; nothing at run time reads them.
  int Left = 0;
  int Top = 0;
  int Height = 0;
  int Width = 0;

 protected:
  // A class's constructor applies its stored description through this: apply sets the
  // properties and events, then, with OldCreateOrder, OnCreate runs at once, before any
  // constructor of a derived class. A failure goes to the process's exception hook.
  void LoadDescription(const std::function<void()>& apply);
};

}  // namespace orvane
