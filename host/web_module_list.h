// The modules created for one request context, made by the handler's factories.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/component.h"
#include "host/module_class.h"
#include "host/web_module_factory.h"

namespace orvane {

using TModuleAddedProc = std::function<void(TComponent* module)>;

class TAbstractWebModuleList {
 public:
  TAbstractWebModuleList() = default;
  virtual ~TAbstractWebModuleList() = default;
  TAbstractWebModuleList(const TAbstractWebModuleList&) = delete;
  TAbstractWebModuleList& operator=(const TAbstractWebModuleList&) = delete;

  virtual TComponent* Module(std::size_t index) const = 0;
  virtual std::size_t ModuleCount() const = 0;
  virtual const TModuleAddedProc& GetOnModuleAdded() const = 0;
  virtual void SetOnModuleAdded(TModuleAddedProc proc) = 0;
  virtual std::size_t FactoryCount() const = 0;
  virtual TAbstractWebModuleFactory& Factory(std::size_t index) const = 0;
  virtual TComponent* FindModuleByClass(const TModuleClass& module_class) const = 0;
  virtual TComponent* FindModuleByName(const std::string& name) const = 0;
  virtual TComponent* CreateModuleOfClass(const TModuleClass& module_class) = 0;
  virtual TComponent* CreateModuleByName(const std::string& name) = 0;
};

class TWebModuleList : public TAbstractWebModuleList {
 public:
  // The factory list is shared with the request handler, not owned.
  explicit TWebModuleList(TWebModuleFactoryList& factories);
  ~TWebModuleList() override;

  TComponent* Module(std::size_t index) const override { return modules_[index].get(); }
  std::size_t ModuleCount() const override { return modules_.size(); }
  const TModuleAddedProc& GetOnModuleAdded() const override { return on_module_added_; }
  void SetOnModuleAdded(TModuleAddedProc proc) override { on_module_added_ = std::move(proc); }
  std::size_t FactoryCount() const override { return factories_.Count(); }
  TAbstractWebModuleFactory& Factory(std::size_t index) const override { return factories_[index]; }
  TComponent* FindModuleByClass(const TModuleClass& module_class) const override;
  TComponent* FindModuleByName(const std::string& name) const override;
  // Module of the first factory of that class (or module name, ignoring case); none when absent.
  TComponent* CreateModuleOfClass(const TModuleClass& module_class) override;
  TComponent* CreateModuleByName(const std::string& name) override;

  // Creates a module for every factory that always creates one and has none here yet.
  void CreateModules();
  // Destroys the modules whose factories do not keep them between requests.
  void FreeUncachedModules();

  // While modules are being created, a reference to another module by name: found at once,
  // or recorded and created when the outermost creation scope closes; then fixup, when
  // given, receives the module.
  TComponent* ResolveModuleName(const std::string& name,
                                std::function<void(TComponent*)> fixup = nullptr);
  const std::vector<std::string>& UnresolvedNames() const { return unresolved_names_; }

  // The list whose outermost creation scope is open on the calling thread; none outside.
  static TWebModuleList* UnderConstruction();

 private:
  struct PendingReference {
    std::string name;
    std::function<void(TComponent*)> fixup;
  };

  TComponent* AddModule(std::unique_ptr<TComponent> module);
  void BeginCreation();
  void EndCreation();
  void ResolvePendingNames();
  void ResolvePendingReferences(const std::string& name, TComponent* module);

  std::vector<std::unique_ptr<TComponent>> modules_;
  TWebModuleFactoryList& factories_;
  std::vector<std::string> unresolved_names_;
  std::vector<PendingReference> pending_references_;
  int creation_depth_ = 0;
  TWebModuleList* enclosing_list_ = nullptr;  // the thread's list before this one's scope
  TModuleAddedProc on_module_added_;
};

// Resolves a module name for a stored description that refers to another module's
// component: on the calling thread's list under construction; none when no list is.
TComponent* ResolveModuleReference(const std::string& name,
                                   std::function<void(TComponent*)> fixup = nullptr);

}  // namespace orvane
