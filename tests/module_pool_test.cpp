#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "fake_web.h"
#include "gate/web_module1.h"
#include "host/web_dispatcher.h"
#include "host/web_module_factory.h"
#include "host/web_module_list.h"
#include "host/web_request_handler.h"

namespace orvane {
namespace {

using testing::FromHex;

// Counts live instances, so that a test can see which modules were destroyed.
struct Counter {
  int created = 0;
  int destroyed = 0;
};

class CountedModule : public TDataModule {
 public:
  explicit CountedModule(Counter& counter) : counter_(counter) { ++counter_.created; }
  ~CountedModule() override { ++counter_.destroyed; }

 private:
  Counter& counter_;
};

class OtherModule : public TDataModule {};

// A factory with configurable modes, for the paths the default factory never takes.
class FakeFactory : public TAbstractWebModuleFactory {
 public:
  FakeFactory(TModuleClass module_class, std::string name, TWebModuleCreateMode creation,
              TWebModuleCacheMode cache, bool app = false)
      : class_(std::move(module_class)),
        name_(std::move(name)),
        creation_(creation),
        cache_(cache),
        app_(app) {}
  std::string ModuleName() const override { return name_; }
  bool IsAppModule() const override { return app_; }
  TWebModuleCreateMode CreationMode() const override { return creation_; }
  TWebModuleCacheMode CacheMode() const override { return cache_; }
  const TModuleClass& ModuleClass() const override { return class_; }
  std::unique_ptr<TComponent> CreateModule() override {
    auto module = class_.Create();
    module->SetName(name_);
    return module;
  }
  void KeepModule() override { ++kept; }
  int kept = 0;

 private:
  TModuleClass class_;
  std::string name_;
  TWebModuleCreateMode creation_;
  TWebModuleCacheMode cache_;
  bool app_;
};

class ModulePool : public ::testing::Test {
 protected:
  TModuleClass Counted() {
    return {"TCounted", typeid(CountedModule),
            [this] { return std::unique_ptr<TComponent>(new CountedModule(counter)); }};
  }
  Counter counter;
};

TEST_F(ModulePool, ReleasedListIsReusedWithItsModule) {
  TWebRequestHandler handler;
  handler.RegisteredModuleClass = Counted();
  TWebModuleList* list = handler.AcquireModuleList();
  EXPECT_EQ(list->ModuleCount(), 0u);
  list->SetOnModuleAdded([](TComponent*) {});
  list->CreateModules();
  ASSERT_EQ(list->ModuleCount(), 1u);
  TComponent* module = list->Module(0);
  EXPECT_EQ(handler.Factories()[0].ModuleName(), "Counted");
  handler.ReleaseModuleList(list);
  EXPECT_EQ(handler.ActiveListCount(), 0u);
  EXPECT_EQ(handler.InactiveListCount(), 1u);

  TWebModuleList* again = handler.AcquireModuleList();
  EXPECT_EQ(again, list);
  EXPECT_FALSE(again->GetOnModuleAdded());
  again->CreateModules();  // the module exists: nothing new
  EXPECT_EQ(again->Module(0), module);
  EXPECT_EQ(counter.created, 1);
  EXPECT_EQ(handler.Factories().Count(), 1u);
  handler.ReleaseModuleList(again);
}

TEST_F(ModulePool, HandlerDestroysEveryListAndModule) {
  {
    TWebRequestHandler handler;
    handler.RegisteredModuleClass = Counted();
    handler.AcquireModuleList()->CreateModules();  // left active
    TWebModuleList* kept = handler.AcquireModuleList();
    kept->CreateModules();
    handler.ReleaseModuleList(kept);
    EXPECT_EQ(counter.created, 2);
  }
  EXPECT_EQ(counter.destroyed, 2);
}

TEST_F(ModulePool, ListIsDestroyedWhenNotKeptOrEmpty) {
  TWebRequestHandler handler;
  handler.RegisteredModuleClass = Counted();
  handler.KeepModuleLists = false;
  TWebModuleList* list = handler.AcquireModuleList();
  list->CreateModules();
  handler.ReleaseModuleList(list);
  EXPECT_EQ(handler.InactiveListCount(), 0u);
  EXPECT_EQ(counter.destroyed, 1);

  handler.KeepModuleLists = true;
  handler.ReleaseModuleList(handler.AcquireModuleList());  // no module: not kept
  EXPECT_EQ(handler.InactiveListCount(), 0u);
}

TEST_F(ModulePool, UncachedModulesAreFreedOnRelease) {
  TWebRequestHandler handler;
  const TModuleClass counted = Counted();
  const TModuleClass other = ModuleClassOf<OtherModule>("TOther");
  handler.Factories().AddModuleFactory(new FakeFactory(counted, "Counted", crAlways, caDestroy));
  handler.Factories().AddModuleFactory(new FakeFactory(other, "Other", crAlways, caCache));
  TWebModuleList* list = handler.AcquireModuleList();
  list->CreateModules();
  ASSERT_EQ(list->ModuleCount(), 2u);
  handler.ReleaseModuleList(list);
  EXPECT_EQ(counter.destroyed, 1);
  ASSERT_EQ(handler.InactiveListCount(), 1u);
  EXPECT_EQ(list->ModuleCount(), 1u);
  EXPECT_EQ(list->FindModuleByClass(other), list->Module(0));
  EXPECT_EQ(list->FindModuleByName("OTHER"), list->Module(0));
  EXPECT_EQ(list->FindModuleByClass(counted), nullptr);
}

TEST_F(ModulePool, OnDemandFactoryCreatesOnlyWhenNamed) {
  TWebRequestHandler handler;
  auto* on_demand = new FakeFactory(Counted(), "Second", crOnDemand, caDestroy);
  handler.Factories().AddModuleFactory(
      new FakeFactory(ModuleClassOf<OtherModule>("TOther"), "First", crAlways, caCache));
  handler.Factories().AddModuleFactory(on_demand);
  TWebModuleList* list = handler.AcquireModuleList();
  std::vector<std::string> added;
  // The first module's description refers to "second", which does not exist yet.
  list->SetOnModuleAdded([&](TComponent* module) {
    added.push_back(module->Name());
    if (module->Name() == "First") {
      EXPECT_EQ(list->ResolveModuleName("second"), nullptr);
    }
  });
  list->CreateModules();
  EXPECT_EQ(added, (std::vector<std::string>{"First", "Second"}));
  EXPECT_TRUE(list->UnresolvedNames().empty());
  EXPECT_EQ(on_demand->kept, 1);
  handler.ReleaseModuleList(list);
}

TEST_F(ModulePool, ConnectionLimit) {
  struct Case {
    std::int32_t limit;
    int acquires_allowed;
  };
  for (const Case& c : {Case{1, 1}, Case{2, 2}, Case{0, 5}, Case{-1, 5}}) {
    SCOPED_TRACE(c.limit);
    TWebRequestHandler handler;
    handler.RegisteredModuleClass = Counted();
    handler.ConnectionLimit = c.limit;
    for (int i = 0; i < c.acquires_allowed; ++i) ASSERT_NO_THROW(handler.AcquireModuleList());
    if (c.limit > 0) {
      try {
        handler.AcquireModuleList();
        ADD_FAILURE() << "limit not enforced";
      } catch (const EWebHostException& e) {
        // "最大同時接続数を超えました。しばらくしてからもう一度試してください。"
        EXPECT_EQ(e.Message(),
                  FromHex("8d c5 91 e5 93 af 8e 9e 90 da 91 b1 90 94 82 f0 92 b4 82 a6 82 dc 82 b5 "
                          "82 bd 81 42 82 b5 82 ce 82 e7 82 ad 82 b5 82 c4 82 a9 82 e7 82 e0 82 a4 "
                          "88 ea 93 78 8e 8e 82 b5 82 c4 82 ad 82 be 82 b3 82 a2 81 42"));
      }
      EXPECT_EQ(handler.ActiveListCount(), static_cast<std::size_t>(c.limit));
    }
  }
}

TEST_F(ModulePool, NoRegisteredClassAndNoFactory) {
  TWebRequestHandler handler;
  try {
    handler.AcquireModuleList();
    ADD_FAILURE() << "acquired without a module class";
  } catch (const EWebHostException& e) {
    // "データモジュールが登録されていません。"
    EXPECT_EQ(e.Message(),
              FromHex("83 66 81 5b 83 5e 83 82 83 57 83 85 81 5b 83 8b 82 aa 93 6f 98 5e "
                      "82 b3 82 ea 82 c4 82 a2 82 dc 82 b9 82 f1 81 42"));
  }
  EXPECT_EQ(handler.ActiveListCount(), 0u);
  // The failed attempt leaves no count behind: a later acquisition works.
  handler.RegisteredModuleClass = Counted();
  handler.ConnectionLimit = 1;
  EXPECT_NO_THROW(handler.AcquireModuleList());
}

TEST_F(ModulePool, DuplicateFactories) {
  TWebModuleFactoryList list;
  auto* app = new TDefaultWebModuleFactory(Counted());
  list.AddModuleFactory(app);
  EXPECT_EQ(list.AppFactory(), app);
  try {
    list.AddModuleFactory(app);
    ADD_FAILURE() << "same factory added twice";
  } catch (const EWebHostException& e) {
    // "Web モジュール ファクトリは既に登録済みです"
    EXPECT_EQ(e.Message(),
              FromHex("57 65 62 20 83 82 83 57 83 85 81 5b 83 8b 20 83 74 83 40 83 4e 83 "
                      "67 83 8a 82 cd 8a f9 82 c9 93 6f 98 5e 8d cf 82 dd 82 c5 82 b7"));
  }
  auto second_app =
      std::make_unique<TDefaultWebModuleFactory>(ModuleClassOf<OtherModule>("TOther"));
  try {
    list.AddModuleFactory(second_app.get());
    ADD_FAILURE() << "second application factory accepted";
  } catch (const EWebHostException& e) {
    // "Web App モジュール ファクトリは既に登録済みです"
    EXPECT_EQ(e.Message(),
              FromHex("57 65 62 20 41 70 70 20 83 82 83 57 83 85 81 5b 83 8b 20 83 74 83 "
                      "40 83 4e 83 67 83 8a 82 cd 8a f9 82 c9 93 6f 98 5e 8d cf 82 dd 82 "
                      "c5 82 b7"));
  }
  EXPECT_EQ(list.Count(), 1u);
}

TEST_F(ModulePool, ClassThatCannotBeBuiltHasNoResource) {
  TModuleClass described_nowhere{"TNothing", typeid(OtherModule), nullptr};
  TDefaultWebModuleFactory factory(described_nowhere);
  try {
    factory.CreateModule();
    ADD_FAILURE() << "created";
  } catch (const EResNotFound& e) {
    // "%s リソースが見つかりません"
    EXPECT_EQ(e.Message(),
              "TNothing" + FromHex("20 83 8a 83 5c 81 5b 83 58 82 aa 8c a9 82 c2 82 a9 "
                                   "82 e8 82 dc 82 b9 82 f1"));
  }
}

TEST_F(ModulePool, DefaultFactoryRunsOnCreateOnceAfterConstruction) {
  class WithOnCreate : public TDataModule {
   public:
    WithOnCreate() {
      OnCreate = [this](TComponent* sender) {
        EXPECT_EQ(sender, this);
        ++calls;
      };
    }
    int calls = 0;
  };
  TDefaultWebModuleFactory factory(ModuleClassOf<WithOnCreate>("TWithOnCreate"));
  auto module = factory.CreateModule();
  EXPECT_EQ(static_cast<WithOnCreate&>(*module).calls, 1);
}

// A module whose stored description sets OldCreateOrder and an OnCreate that logs, and
// a class derived from it whose constructor logs after the description.
class Described : public TDataModule {
 public:
  Described(bool old_create_order, std::vector<std::string>& log) {
    LoadDescription([&, old_create_order] {
      OldCreateOrder = old_create_order;
      OnCreate = [&log](TComponent*) { log.push_back("OnCreate"); };
    });
    log.push_back("Described");
  }
};

class DerivedFromDescribed : public Described {
 public:
  DerivedFromDescribed(bool old_create_order, std::vector<std::string>& log)
      : Described(old_create_order, log) {
    log.push_back("Derived");
  }
};

TEST(ModuleConstruction, OldCreateOrderRunsOnCreateBeforeOrAfterConstruction) {
  struct Case {
    bool old_create_order;
    std::vector<std::string> expected;
  };
  for (const Case& c : {Case{true, {"OnCreate", "Described", "Derived"}},
                        Case{false, {"Described", "Derived", "OnCreate"}}}) {
    SCOPED_TRACE(c.old_create_order);
    std::vector<std::string> log;
    TDefaultWebModuleFactory factory({"TDerived", typeid(DerivedFromDescribed), [&] {
                                        return std::unique_ptr<TComponent>(
                                            new DerivedFromDescribed(c.old_create_order, log));
                                      }});
    factory.CreateModule();
    EXPECT_EQ(log, c.expected);
  }
}

TEST(ModuleConstruction, DescriptionErrorGoesThroughTheProcessHook) {
  class Broken : public TDataModule {
   public:
    Broken() {
      LoadDescription([] { throw EResNotFound("broken description"); });
    }
  };
  struct Case {
    const char* label;
    bool with_handler;
  };
  for (const Case& c : {Case{"no handler", false}, Case{"handler", true}}) {
    SCOPED_TRACE(c.label);
    TWebRequestHandler handler;
    std::vector<TComponent*> senders;
    handler.SetExceptionHook([&](TComponent* sender) {
      senders.push_back(sender);
      throw;
    });
    if (c.with_handler) SetWebRequestHandler(&handler);
    EXPECT_THROW(Broken(), EResNotFound);
    SetWebRequestHandler(nullptr);
    EXPECT_EQ(senders,
              c.with_handler ? std::vector<TComponent*>{nullptr} : std::vector<TComponent*>{});
  }
}

// Records what the list under construction is, seen from its own and from another thread.
struct ConstructionView {
  TWebModuleList* own_thread = nullptr;
  TWebModuleList* other_thread = nullptr;
  TComponent* referenced = nullptr;
  TComponent* found_at_once = reinterpret_cast<TComponent*>(1);
};

class ViewingModule : public TDataModule {
 public:
  explicit ViewingModule(ConstructionView& view) {
    view.own_thread = TWebModuleList::UnderConstruction();
    std::thread other([&view] { view.other_thread = TWebModuleList::UnderConstruction(); });
    other.join();
    // Refers to a module that is created only on demand, after this one.
    view.found_at_once =
        ResolveModuleReference("LATER", [&view](TComponent* module) { view.referenced = module; });
  }
};

TEST_F(ModulePool, ListUnderConstructionIsPerThreadAndResolvesReferences) {
  ConstructionView view;
  TWebRequestHandler handler;
  handler.Factories().AddModuleFactory(
      new FakeFactory({"TViewing", typeid(ViewingModule),
                       [&view] { return std::unique_ptr<TComponent>(new ViewingModule(view)); }},
                      "Viewing", crAlways, caCache));
  auto* later = new FakeFactory(Counted(), "Later", crOnDemand, caDestroy);
  handler.Factories().AddModuleFactory(later);
  TWebModuleList* list = handler.AcquireModuleList();
  EXPECT_EQ(TWebModuleList::UnderConstruction(), nullptr);
  list->CreateModules();
  EXPECT_EQ(view.own_thread, list);
  EXPECT_EQ(view.other_thread, nullptr);
  EXPECT_EQ(view.found_at_once, nullptr);
  ASSERT_EQ(list->ModuleCount(), 2u);
  EXPECT_EQ(view.referenced, list->Module(1));
  EXPECT_EQ(later->kept, 1);
  EXPECT_EQ(TWebModuleList::UnderConstruction(), nullptr);
  EXPECT_EQ(ResolveModuleReference("Later"), nullptr);  // no list outside construction
  handler.ReleaseModuleList(list);
}

TEST_F(ModulePool, FailedConstructionClosesTheScope) {
  TWebRequestHandler handler;
  handler.Factories().AddModuleFactory(new FakeFactory(
      {"TFailing", typeid(OtherModule), []() -> std::unique_ptr<TComponent> { throw 1; }},
      "Failing", crAlways, caCache));
  TWebModuleList* list = handler.AcquireModuleList();
  EXPECT_THROW(list->CreateModules(), int);
  EXPECT_EQ(TWebModuleList::UnderConstruction(), nullptr);
  handler.ReleaseModuleList(list);
}

TEST(GateModule, StoredDescriptionGivesOneDefaultActionItem) {
  TDefaultWebModuleFactory factory(ModuleClassOf<TWebModule1>("TWebModule1"));
  EXPECT_EQ(factory.ModuleName(), "WebModule1");
  EXPECT_EQ(factory.Reserved(), nullptr);
  auto component = factory.CreateModule();
  auto& module = dynamic_cast<TWebModule1&>(*component);
  EXPECT_EQ(module.Name(), "WebModule1");
  EXPECT_FALSE(module.OldCreateOrder);
  EXPECT_EQ((std::vector<int>{module.Left, module.Top, module.Height, module.Width}),
            (std::vector<int>{571, 244, 150, 215}));
  EXPECT_EQ(module.Owner(), nullptr);
  ASSERT_EQ(module.Actions().Count(), 1u);
  TWebActionItem& item = module.Actions()[0];
  EXPECT_EQ(item.Name(), "WebActionItem1");
  EXPECT_TRUE(item.Enabled());
  EXPECT_FALSE(item.Default());
  EXPECT_EQ(item.MethodType(), mtAny);
  EXPECT_EQ(item.PathInfo(), "");
  EXPECT_TRUE(static_cast<bool>(item.OnAction()));
  EXPECT_FALSE(module.BeforeDispatch || module.AfterDispatch || module.OnException ||
               module.OnCreate || module.OnDestroy);
}

}  // namespace
}  // namespace orvane
