// A module class as the application registers it: its name, its identity and how to
// construct an instance with no owner.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <typeindex>

#include "host/component.h"

namespace orvane {

struct TModuleClass {
  std::string Name;  // for example "TWebModule1"
  std::type_index Type;
  std::function<std::unique_ptr<TComponent>()> Create;  // none: the class cannot be built

  bool operator==(const TModuleClass& other) const { return Type == other.Type; }
  // True when the object is an instance of exactly this class.
  bool IsClassOf(const TComponent& component) const { return Type == typeid(component); }
};

template <class T>
TModuleClass ModuleClassOf(std::string name) {
  return {std::move(name), typeid(T), [] { return std::unique_ptr<TComponent>(new T()); }};
}

}  // namespace orvane
