// Module factories: one per registered module class, kept in an owning, ordered list.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/component.h"
#include "host/module_class.h"
#include "platform/exception.h"

namespace orvane {

ORVANE_DECLARE_EXCEPTION(EResNotFound, Exception);

enum TWebModuleCreateMode { crOnDemand = 0, crAlways = 1 };
enum TWebModuleCacheMode { caCache = 0, caDestroy = 1 };

class TAbstractWebModuleFactory {
 public:
  TAbstractWebModuleFactory() = default;
  virtual ~TAbstractWebModuleFactory() = default;
  TAbstractWebModuleFactory(const TAbstractWebModuleFactory&) = delete;
  TAbstractWebModuleFactory& operator=(const TAbstractWebModuleFactory&) = delete;

  virtual std::string ModuleName() const = 0;
  virtual bool IsAppModule() const = 0;
  virtual TWebModuleCreateMode CreationMode() const = 0;
  virtual TWebModuleCacheMode CacheMode() const = 0;
  virtual const TModuleClass& ModuleClass() const = 0;
  // Nothing calls this; it answers none unless a factory gives it a meaning of its own.
  virtual TComponent* Reserved() const { return nullptr; }
  virtual std::unique_ptr<TComponent> CreateModule() = 0;
  virtual void KeepModule() = 0;
};

// The factory of the application's registered module class: always created, kept.
class TDefaultWebModuleFactory : public TAbstractWebModuleFactory {
 public:
  explicit TDefaultWebModuleFactory(TModuleClass module_class);

  std::string ModuleName() const override;  // the class name without its leading "T"
  bool IsAppModule() const override { return true; }
  TWebModuleCreateMode CreationMode() const override { return crAlways; }
  TWebModuleCacheMode CacheMode() const override { return caCache; }
  const TModuleClass& ModuleClass() const override { return module_class_; }
  // A new instance with no owner; EResNotFound when the class cannot be built.
  std::unique_ptr<TComponent> CreateModule() override;
  void KeepModule() override {}

 private:
  TModuleClass module_class_;
};

class TWebModuleFactoryList {
 public:
  TWebModuleFactoryList() = default;
  TWebModuleFactoryList(const TWebModuleFactoryList&) = delete;
  TWebModuleFactoryList& operator=(const TWebModuleFactoryList&) = delete;

  // Takes ownership when it returns; when it throws, the list takes nothing.
  void AddModuleFactory(TAbstractWebModuleFactory* factory);
  std::size_t Count() const { return factories_.size(); }
  TAbstractWebModuleFactory& operator[](std::size_t index) const { return *factories_[index]; }
  TAbstractWebModuleFactory* AppFactory() const { return app_factory_; }
  // Destroys every factory, first to last.
  void Clear();

 private:
  std::vector<std::unique_ptr<TAbstractWebModuleFactory>> factories_;
  TAbstractWebModuleFactory* app_factory_ = nullptr;
};

}  // namespace orvane
