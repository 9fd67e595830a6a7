#include "host/web_module_factory.h"

#include "host/web_dispatcher.h"

namespace orvane {

TDefaultWebModuleFactory::TDefaultWebModuleFactory(TModuleClass module_class)
    : module_class_(std::move(module_class)) {}

std::string TDefaultWebModuleFactory::ModuleName() const {
  return module_class_.Name.empty() ? std::string() : module_class_.Name.substr(1);
}

std::unique_ptr<TComponent> TDefaultWebModuleFactory::CreateModule() {
  if (!module_class_.Create) throw EResNotFound(module_class_.Name + " リソースが見つかりません");
  std::unique_ptr<TComponent> module = module_class_.Create();
  if (auto* data_module = dynamic_cast<TDataModule*>(module.get())) {
    data_module->AfterConstruction();
  }
  return module;
}

void TWebModuleFactoryList::AddModuleFactory(TAbstractWebModuleFactory* factory) {
  for (const auto& existing : factories_) {
    if (existing.get() == factory) {
      throw EWebHostException("Web モジュール ファクトリは既に登録済みです");
    }
  }
  factories_.reserve(factories_.size() + 1);  // so that the append below cannot fail
  if (factory->IsAppModule()) {
    if (app_factory_ != nullptr) {
      throw EWebHostException("Web App モジュール ファクトリは既に登録済みです");
    }
    app_factory_ = factory;
  }
  factories_.emplace_back(factory);
}

void TWebModuleFactoryList::Clear() {
  app_factory_ = nullptr;
  for (auto& factory : factories_) factory.reset();
  factories_.clear();
}

}  // namespace orvane
