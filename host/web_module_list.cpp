#include "host/web_module_list.h"

#include <algorithm>
#include <iterator>

#include "host/ascii_case.h"

namespace orvane {
namespace {

// Each thread builds its own modules; a list is visible here only to the thread building.
thread_local TWebModuleList* t_list_under_construction = nullptr;

}  // namespace

TWebModuleList::TWebModuleList(TWebModuleFactoryList& factories) : factories_(factories) {}

TWebModuleList::~TWebModuleList() {
  // Later modules may refer to earlier ones: destroy in reverse creation order.
  while (!modules_.empty()) modules_.pop_back();
}

TComponent* TWebModuleList::FindModuleByClass(const TModuleClass& module_class) const {
  for (const auto& module : modules_) {
    if (module_class.IsClassOf(*module)) return module.get();
  }
  return nullptr;
}

TComponent* TWebModuleList::FindModuleByName(const std::string& name) const {
  for (const auto& module : modules_) {
    if (EqualsIgnoringAsciiCase(module->Name(), name)) return module.get();
  }
  return nullptr;
}

TComponent* TWebModuleList::AddModule(std::unique_ptr<TComponent> module) {
  modules_.push_back(std::move(module));
  TComponent* added = modules_.back().get();
  if (on_module_added_) on_module_added_(added);
  return added;
}

TComponent* TWebModuleList::CreateModuleOfClass(const TModuleClass& module_class) {
  for (std::size_t i = 0; i < factories_.Count(); ++i) {
    if (factories_[i].ModuleClass() == module_class) return AddModule(factories_[i].CreateModule());
  }
  return nullptr;
}

TComponent* TWebModuleList::CreateModuleByName(const std::string& name) {
  for (std::size_t i = 0; i < factories_.Count(); ++i) {
    if (EqualsIgnoringAsciiCase(factories_[i].ModuleName(), name)) {
      return AddModule(factories_[i].CreateModule());
    }
  }
  return nullptr;
}

void TWebModuleList::CreateModules() {
  BeginCreation();
  try {
    for (std::size_t i = 0; i < factories_.Count(); ++i) {
      TAbstractWebModuleFactory& factory = factories_[i];
      if (factory.CreationMode() == crAlways &&
          FindModuleByClass(factory.ModuleClass()) == nullptr) {
        AddModule(factory.CreateModule());
      }
    }
  } catch (...) {
    EndCreation();
    throw;
  }
  EndCreation();
}

void TWebModuleList::FreeUncachedModules() {
  for (std::size_t i = 0; i < factories_.Count(); ++i) {
    if (factories_[i].CacheMode() != caDestroy) continue;
    const TModuleClass& module_class = factories_[i].ModuleClass();
    auto found = std::find_if(modules_.begin(), modules_.end(),
                              [&](const auto& module) { return module_class.IsClassOf(*module); });
    if (found != modules_.end()) modules_.erase(found);
  }
}

TComponent* TWebModuleList::ResolveModuleName(const std::string& name,
                                              std::function<void(TComponent*)> fixup) {
  if (TComponent* module = FindModuleByName(name)) {
    if (fixup) fixup(module);
    return module;
  }
  if (std::find(unresolved_names_.begin(), unresolved_names_.end(), name) ==
      unresolved_names_.end()) {
    unresolved_names_.push_back(name);
  }
  if (fixup) pending_references_.push_back({name, std::move(fixup)});
  return nullptr;
}

TWebModuleList* TWebModuleList::UnderConstruction() { return t_list_under_construction; }

void TWebModuleList::BeginCreation() {
  if (creation_depth_++ > 0) return;
  enclosing_list_ = t_list_under_construction;
  t_list_under_construction = this;
}

void TWebModuleList::EndCreation() {
  if (--creation_depth_ > 0) return;
  // Names stay pending when resolving fails; the scope is closed either way.
  struct ScopeEnd {
    TWebModuleList& list;
    ~ScopeEnd() { t_list_under_construction = list.enclosing_list_; }
  } scope_end{*this};
  ResolvePendingNames();
}

void TWebModuleList::ResolvePendingNames() {
  while (!unresolved_names_.empty()) {
    const std::string name = unresolved_names_.front();
    unresolved_names_.erase(unresolved_names_.begin());
    TComponent* module = FindModuleByName(name);
    if (module == nullptr) module = CreateModuleByName(name);
    if (module == nullptr) {
      ResolvePendingReferences(name, nullptr);  // nothing of that name: the references go
      continue;
    }
    for (std::size_t i = 0; i < factories_.Count(); ++i) {
      if (factories_[i].CacheMode() == caDestroy &&
          EqualsIgnoringAsciiCase(factories_[i].ModuleName(), name)) {
        factories_[i].KeepModule();
      }
    }
    ResolvePendingReferences(name, module);
  }
}

void TWebModuleList::ResolvePendingReferences(const std::string& name, TComponent* module) {
  std::vector<PendingReference> waiting;
  auto is_for_name = [&](const PendingReference& pending) { return pending.name == name; };
  std::copy_if(pending_references_.begin(), pending_references_.end(), std::back_inserter(waiting),
               is_for_name);
  pending_references_.erase(
      std::remove_if(pending_references_.begin(), pending_references_.end(), is_for_name),
      pending_references_.end());
  if (module == nullptr) return;
  for (const PendingReference& pending : waiting) pending.fixup(module);
}

TComponent* ResolveModuleReference(const std::string& name,
                                   std::function<void(TComponent*)> fixup) {
  TWebModuleList* list = TWebModuleList::UnderConstruction();
  return list == nullptr ? nullptr : list->ResolveModuleName(name, std::move(fixup));
}

}  // namespace orvane
