#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "fake_web.h"
#include "host/cgi_application.h"
#include "host/relay_exception.h"
#include "host/web_application.h"
#include "host/web_dispatcher.h"
#include "host/web_request_handler.h"
#include "stdio_redirect.h"

namespace orvane {
namespace {

using testing::FakeRequest;
using testing::FakeResponse;
using testing::FromHex;

using Action = std::function<void(TWebResponse&, bool&)>;

// A module with one item for the empty path info, running the given action.
class TestModule : public TWebModule {
 public:
  explicit TestModule(Action action) {
    SetName("TestModule");
    Actions().Add().SetOnAction([action](TComponent*, TWebRequest&, TWebResponse& response,
                                         bool& handled) { action(response, handled); });
  }
};

TModuleClass TestModuleClass(Action action) {
  return {"TTestModule", typeid(TestModule),
          [action] { return std::unique_ptr<TComponent>(new TestModule(action)); }};
}

// A data module that is no dispatcher but may own one.
class HolderModule : public TDataModule {};

struct Cycle {
  explicit Cycle(TModuleClass module_class, std::string path_info = "")
      : request("GET", std::move(path_info)), response(request) {
    handler.RegisteredModuleClass = std::move(module_class);
    handler.SetExceptionHook(RelayException);
  }
  TWebRequestHandler handler;
  FakeRequest request;
  FakeResponse response;
};

TEST(ProcessRequest, HandledRequestIsSentOnceAfterTheHandler) {
  int sends_seen_by_handler = -1;
  FakeResponse* seen = nullptr;
  Cycle cycle(TestModuleClass([&](TWebResponse& response, bool&) {
    seen = static_cast<FakeResponse*>(&response);
    sends_seen_by_handler = seen->sends;
  }));
  EXPECT_TRUE(cycle.handler.ProcessRequest(cycle.request, cycle.response));
  EXPECT_EQ(seen, &cycle.response);
  EXPECT_EQ(sends_seen_by_handler, 0);
  EXPECT_EQ(cycle.response.sends, 1);
  EXPECT_EQ(cycle.handler.ActiveListCount(), 0u);
  EXPECT_EQ(cycle.handler.InactiveListCount(), 1u);
}

TEST(ProcessRequest, HandlerThatSendsItselfIsNotSentAgain) {
  Cycle cycle(TestModuleClass([](TWebResponse& response, bool&) { response.SendResponse(); }));
  EXPECT_TRUE(cycle.handler.ProcessRequest(cycle.request, cycle.response));
  EXPECT_EQ(cycle.response.sends, 1);
}

TEST(ProcessRequest, RequestNoActionAcceptsSendsNothing) {
  bool ran = false;
  Cycle cycle(TestModuleClass([&](TWebResponse&, bool&) { ran = true; }), "/x");
  EXPECT_FALSE(cycle.handler.ProcessRequest(cycle.request, cycle.response));
  EXPECT_FALSE(ran);
  EXPECT_EQ(cycle.response.sends, 0);
  EXPECT_EQ(cycle.handler.InactiveListCount(), 1u);  // a module was still made
}

TEST(ProcessRequest, ErrorInTheActionBecomesTheStatus500Page) {
  Cycle cycle(TestModuleClass(
      [](TWebResponse&, bool&) { throw EFOpenError("cannot open <x>", 2, false); }));
  testing::StderrCapture err;
  EXPECT_FALSE(cycle.handler.ProcessRequest(cycle.request, cycle.response));
  EXPECT_EQ(err.Take(), "orvanegate: status 500: EFOpenError: cannot open <x> (request: GET )\n");
  EXPECT_EQ(cycle.response.sends, 1);
  EXPECT_EQ(cycle.response.sent_status, 500);
  EXPECT_EQ(
      cycle.response.content,
      "<html><body><h1>Internal Application Error / " +
          FromHex("93 e0 95 94 83 41 83 76 83 8a 83 50 81 5b 83 56 83 87 83 93 83 47 83 89 81 "
                  "5b") +  // 内部アプリケーションエラー
          "</h1>\r\n<p>cannot open &lt;x&gt;\r\n<p><hr width=\"100%\"><i></i></body></html>");
  EXPECT_EQ(cycle.handler.ActiveListCount(), 0u);
}

TEST(ProcessRequest, ForeignErrorInTheActionLeavesTheCycleAfterRelease) {
  for (bool out_of_memory : {false, true}) {
    SCOPED_TRACE(out_of_memory);
    Cycle cycle(TestModuleClass([out_of_memory](TWebResponse&, bool&) {
      if (out_of_memory) throw std::bad_alloc();
      throw 7;
    }));
    if (out_of_memory) {
      EXPECT_THROW(cycle.handler.ProcessRequest(cycle.request, cycle.response), std::bad_alloc);
    } else {
      EXPECT_THROW(cycle.handler.ProcessRequest(cycle.request, cycle.response), int);
    }
    EXPECT_EQ(cycle.response.sends, 0);
    EXPECT_EQ(cycle.handler.ActiveListCount(), 0u);
    EXPECT_EQ(cycle.handler.InactiveListCount(), 1u);
  }
}

TEST(ProcessRequest, WithoutTheRelayHookAnErrorPassesThrough) {
  TWebRequestHandler handler;
  handler.RegisteredModuleClass =
      TestModuleClass([](TWebResponse&, bool&) { throw Exception("plain"); });
  FakeRequest request;
  FakeResponse response(request);
  EXPECT_THROW(handler.ProcessRequest(request, response), Exception);
  EXPECT_EQ(response.sends, 0);
}

TEST(ProcessRequest, FailingSendLeavesTheCycle) {
  Cycle cycle(TestModuleClass([](TWebResponse&, bool&) {}));
  cycle.response.fail_send = true;
  EXPECT_THROW(cycle.handler.ProcessRequest(cycle.request, cycle.response), EWriteError);
  EXPECT_EQ(cycle.handler.ActiveListCount(), 0u);
}

TEST(ProcessRequest, DispatcherOwnedByAModuleIsFound) {
  bool ran = false;
  TModuleClass holder{
      "THolderModule", typeid(HolderModule), [&ran] {
        auto module = std::make_unique<HolderModule>();
        auto* dispatcher = new TCustomWebDispatcher(module.get());
        dispatcher->Actions().Add().SetOnAction(
            [&ran](TComponent*, TWebRequest&, TWebResponse&, bool&) { ran = true; });
        return std::unique_ptr<TComponent>(std::move(module));
      }};
  Cycle cycle(holder);
  EXPECT_TRUE(cycle.handler.ProcessRequest(cycle.request, cycle.response));
  EXPECT_TRUE(ran);
}

TEST(ProcessRequest, ModuleWithoutDispatcher) {
  Cycle cycle(ModuleClassOf<HolderModule>("THolderModule"));
  try {
    cycle.handler.ProcessRequest(cycle.request, cycle.response);
    ADD_FAILURE() << "dispatched without a dispatcher";
  } catch (const EWebHostException& e) {
    // "ディスパッチコンポーネントがデータモジュールに存在しません。"
    EXPECT_EQ(e.Message(),
              FromHex("83 66 83 42 83 58 83 70 83 62 83 60 83 52 83 93 83 7c 81 5b 83 6c "
                      "83 93 83 67 82 aa 83 66 81 5b 83 5e 83 82 83 57 83 85 81 5b 83 8b "
                      "82 c9 91 b6 8d dd 82 b5 82 dc 82 b9 82 f1 81 42"));
  }
  EXPECT_EQ(cycle.response.sends, 0);
}

// A factory that never creates a module by itself.
class OnDemandFactory : public TDefaultWebModuleFactory {
 public:
  using TDefaultWebModuleFactory::TDefaultWebModuleFactory;
  TWebModuleCreateMode CreationMode() const override { return crOnDemand; }
};

TEST(ProcessRequest, NoModuleCreated) {
  TWebRequestHandler handler;
  handler.Factories().AddModuleFactory(
      new OnDemandFactory(TestModuleClass([](TWebResponse&, bool&) {})));
  FakeRequest request;
  FakeResponse response(request);
  try {
    handler.ProcessRequest(request, response);
    ADD_FAILURE() << "no error";
  } catch (const EWebHostException& e) {
    // "自動的に有効化できるデータモジュールが存在しません"
    EXPECT_EQ(e.Message(),
              FromHex("8e a9 93 ae 93 49 82 c9 97 4c 8c f8 89 bb 82 c5 82 ab 82 e9 83 66 "
                      "81 5b 83 5e 83 82 83 57 83 85 81 5b 83 8b 82 aa 91 b6 8d dd 82 b5 "
                      "82 dc 82 b9 82 f1"));
  }
  EXPECT_EQ(handler.ActiveListCount(), 0u);
}

TEST(RegisterModuleClass, SameClassTwiceIsAcceptedAnotherIsNot) {
  TWebApplication application;
  application.RegisterModuleClass(ModuleClassOf<HolderModule>("THolderModule"));
  application.RegisterModuleClass(ModuleClassOf<HolderModule>("THolderModule"));
  try {
    application.RegisterModuleClass(TestModuleClass([](TWebResponse&, bool&) {}));
    ADD_FAILURE() << "second class accepted";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    // "アプリケーションはデータモジュールを一つしか持つことができません。"
    EXPECT_EQ(e.Message(),
              FromHex("83 41 83 76 83 8a 83 50 81 5b 83 56 83 87 83 93 82 cd 83 66 81 5b "
                      "83 5e 83 82 83 57 83 85 81 5b 83 8b 82 f0 88 ea 82 c2 82 b5 82 a9 "
                      "8e 9d 82 c2 82 b1 82 c6 82 aa 82 c5 82 ab 82 dc 82 b9 82 f1 81 42"));
  }
  EXPECT_EQ(application.RegisteredModuleClass->Name, "THolderModule");
  EXPECT_EQ(application.ActiveListCount() + application.InactiveListCount(), 0u);
}

TEST(CGIApplication, IsTheProcessHandlerWhileItLives) {
  EXPECT_EQ(WebRequestHandler(), nullptr);
  {
    TCGIApplication application;
    EXPECT_EQ(WebRequestHandler(), &application);
  }
  EXPECT_EQ(WebRequestHandler(), nullptr);
}

TEST(CGIApplication, RelaysErrorsFromItsConstruction) {
  TCGIApplication application;
  application.RegisterModuleClass(
      TestModuleClass([](TWebResponse&, bool&) { throw EFOpenError("no file", 2, false); }));
  FakeRequest request;
  FakeResponse response(request);
  EXPECT_FALSE(application.HasRequestFactory());
  EXPECT_FALSE(application.ProcessRequest(request, response));
  EXPECT_EQ(response.sends, 1);
  EXPECT_EQ(response.sent_status, 500);
  EXPECT_EQ(&application.RequestFactory().Application(), &application);
}

TEST(CGIApplication, ModulesGoBeforeTheRequestFactory) {
  struct Seen {
    int destroyed = 0;
    bool factory_alive = false;
  } seen;
  class Watched : public TWebModule {
   public:
    explicit Watched(Seen& seen) : seen_(seen) { Actions().Add(); }
    ~Watched() override {
      auto* application = dynamic_cast<TCGIApplication*>(WebRequestHandler());
      seen_.factory_alive = application != nullptr && application->HasRequestFactory();
      ++seen_.destroyed;
    }

   private:
    Seen& seen_;
  };
  {
    TCGIApplication application;
    application.RegisterModuleClass({"TWatched", typeid(Watched), [&seen] {
                                       return std::unique_ptr<TComponent>(new Watched(seen));
                                     }});
    application.RequestFactory();
    FakeRequest request;
    FakeResponse response(request);
    application.ProcessRequest(request, response);
    EXPECT_EQ(seen.destroyed, 0);  // kept in the pool after the request
  }
  EXPECT_EQ(seen.destroyed, 1);
  EXPECT_TRUE(seen.factory_alive);
}

}  // namespace
}  // namespace orvane
