#include "host/web_dispatcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_web.h"
#include "stdio_redirect.h"

namespace orvane {
namespace {

using testing::FakeRequest;
using testing::FakeResponse;
using testing::FromHex;

// A dispatcher whose items record, in order, which of them ran.
class RecordingDispatcher : public TCustomWebDispatcher {
 public:
  TWebActionItem& AddItem(const std::string& path, bool handles = true) {
    TWebActionItem& item = Actions().Add();
    item.SetPathInfo(path);
    const std::string name = item.Name();
    item.SetOnAction(
        [this, name, handles](TComponent* sender, TWebRequest&, TWebResponse&, bool& handled) {
          log.push_back(name);
          senders.push_back(sender);
          handled = handles;
        });
    return item;
  }
  std::vector<std::string> log;
  std::vector<TComponent*> senders;
};

TEST(DispatchOrder, DisabledItemIsPassedOverForTheNextMatchingOne) {
  RecordingDispatcher dispatcher;
  dispatcher.AddItem("/a").SetEnabled(false);
  TWebActionItem& second = dispatcher.AddItem("/a");
  FakeRequest request("GET", "/a");
  FakeResponse response(request);
  EXPECT_TRUE(dispatcher.Dispatch(request, response));
  EXPECT_EQ(dispatcher.log, (std::vector<std::string>{"WebActionItem2"}));
  EXPECT_EQ(dispatcher.senders, (std::vector<TComponent*>{&second}));
  EXPECT_EQ(response.sends, 0);  // the caller sends
}

TEST(DispatchOrder, DisabledDefaultItemRunsWhenNoOtherItemHandled) {
  RecordingDispatcher dispatcher;
  TWebActionItem& fallback = dispatcher.AddItem("/never");
  fallback.SetEnabled(false);
  fallback.SetDefault(true);
  dispatcher.AddItem("/b");
  FakeRequest request("POST", "/a");
  FakeResponse response(request);
  EXPECT_TRUE(dispatcher.Dispatch(request, response));
  EXPECT_EQ(dispatcher.log, (std::vector<std::string>{"WebActionItem1"}));
}

TEST(DispatchOrder, HandlerDeclining) {
  struct Case {
    const char* label;
    bool with_default;
    bool expected;
    std::vector<std::string> log;
  };
  const std::vector<Case> cases = {
      {"no default: not handled", false, false, {"WebActionItem1", "WebActionItem2"}},
      {"default tried again as default",
       true,
       true,
       {"WebActionItem1", "WebActionItem2", "WebActionItem3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RecordingDispatcher dispatcher;
    dispatcher.AddItem("*", false);
    dispatcher.AddItem("*", false);
    if (c.with_default) dispatcher.AddItem("/other").SetDefault(true);
    bool after_ran = false;
    dispatcher.AfterDispatch = [&](TComponent*, TWebRequest&, TWebResponse&, bool&) {
      after_ran = true;
    };
    FakeRequest request("GET", "/x");
    FakeResponse response(request);
    EXPECT_EQ(dispatcher.Dispatch(request, response), c.expected);
    EXPECT_EQ(dispatcher.log, c.log);
    EXPECT_EQ(after_ran, c.expected);
    EXPECT_EQ(response.sends, 0);
    EXPECT_EQ(response.status, 200);
  }
}

TEST(DispatchOrder, ItemWithoutHandlerOrWrongMethodNeverHandles) {
  RecordingDispatcher dispatcher;
  dispatcher.Actions().Add().SetPathInfo("*");  // no OnAction
  dispatcher.AddItem("*").SetMethodType(mtPost);
  FakeRequest get("GET", "/");
  FakeResponse get_response(get);
  EXPECT_FALSE(dispatcher.Dispatch(get, get_response));
  FakeRequest other("DELETE", "/");  // method type mtAny
  FakeResponse other_response(other);
  EXPECT_FALSE(dispatcher.Dispatch(other, other_response));
  FakeRequest post("post", "/");
  FakeResponse post_response(post);
  EXPECT_TRUE(dispatcher.Dispatch(post, post_response));
  EXPECT_EQ(dispatcher.log, (std::vector<std::string>{"WebActionItem2"}));
}

TEST(DispatchEvents, BeforeDispatchHandlingSkipsItemsButAfterDispatchRuns) {
  RecordingDispatcher dispatcher;
  dispatcher.AddItem("*");
  std::vector<TComponent*> event_senders;
  dispatcher.BeforeDispatch = [&](TComponent* sender, TWebRequest&, TWebResponse&, bool& handled) {
    EXPECT_FALSE(handled);
    event_senders.push_back(sender);
    handled = true;
  };
  dispatcher.AfterDispatch = [&](TComponent* sender, TWebRequest&, TWebResponse&, bool& handled) {
    EXPECT_TRUE(handled);
    event_senders.push_back(sender);
    handled = false;  // AfterDispatch has the last word
  };
  FakeRequest request;
  FakeResponse response(request);
  EXPECT_FALSE(dispatcher.Dispatch(request, response));
  EXPECT_TRUE(dispatcher.log.empty());
  EXPECT_EQ(event_senders, (std::vector<TComponent*>{&dispatcher, &dispatcher}));
  EXPECT_EQ(dispatcher.Request, &request);
  EXPECT_EQ(dispatcher.Response, &response);
}

TEST(DispatchEvents, ResponseSentBeforeOrDuringDispatchSkipsTheRest) {
  RecordingDispatcher dispatcher;
  dispatcher.AddItem("*");
  bool after_ran = false;
  dispatcher.AfterDispatch = [&](TComponent*, TWebRequest&, TWebResponse&, bool&) {
    after_ran = true;
  };
  dispatcher.BeforeDispatch = [](TComponent*, TWebRequest&, TWebResponse& response, bool&) {
    response.SendResponse();
  };
  FakeRequest request;
  FakeResponse response(request);
  EXPECT_TRUE(dispatcher.Dispatch(request, response));
  EXPECT_TRUE(dispatcher.log.empty());
  EXPECT_FALSE(after_ran);
  // Already sent on entry: nothing runs at all.
  EXPECT_TRUE(dispatcher.Dispatch(request, response));
  EXPECT_EQ(response.sends, 1);
}

TEST(ActionItemPattern, PatternIsCompiledOnTestAndRecompiledAfterChange) {
  RecordingDispatcher dispatcher;
  TWebActionItem& item = dispatcher.AddItem("/a");
  FakeRequest a("GET", "/A");
  FakeRequest b("GET", "/b");
  FakeResponse response_a(a), response_b(b);
  EXPECT_TRUE(dispatcher.Dispatch(a, response_a));
  item.SetPathInfo("/b");
  EXPECT_FALSE(dispatcher.Dispatch(a, response_a));
  EXPECT_TRUE(dispatcher.Dispatch(b, response_b));
}

TEST(ActionItemPattern, InvalidPatternFailsAtTestNotWhenDisabled) {
  RecordingDispatcher dispatcher;
  TWebActionItem& item = dispatcher.AddItem("[abc");
  EXPECT_EQ(item.PathInfo(), "/[abc");
  FakeRequest request("GET", "/a");
  FakeResponse response(request);
  EXPECT_THROW(dispatcher.Dispatch(request, response), EMaskException);
  item.SetEnabled(false);
  EXPECT_NO_THROW(dispatcher.Dispatch(request, response));
  item.SetEnabled(true);
  item.SetPathInfo("/a");
  EXPECT_TRUE(dispatcher.Dispatch(request, response));
}

TEST(ActionItemProperties, PathInfoIsNormalised) {
  struct Case {
    std::string value;
    std::string stored;
  };
  const std::vector<Case> cases = {
      {"foo\\bar", "/foo/bar"},
      {"", ""},
      {"/x", "/x"},
      {"*", "/*"},
      {"\\", "/"},
      // A backslash that is a second byte still becomes a slash.
      {"\x83\x5c", "/\x83/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    TWebActionItems items;
    TWebActionItem& item = items.Add();
    item.SetPathInfo(c.value);
    EXPECT_EQ(item.PathInfo(), c.stored);
  }
  TWebActionItems items;
  TWebActionItem& item = items.Add();
  item.SetPathInfo("/foo/bar");
  item.SetPathInfo("/FOO/BAR");  // equal ignoring case: unchanged
  EXPECT_EQ(item.PathInfo(), "/foo/bar");
}

TEST(ActionItemProperties, NamesAreUniqueIgnoringCaseAndNumberedFromOne) {
  TWebActionItems items;
  TWebActionItem& first = items.Add();
  TWebActionItem& second = items.Add();
  EXPECT_EQ(first.Name(), "WebActionItem1");
  EXPECT_EQ(second.Name(), "WebActionItem2");
  try {
    second.SetName("webactionitem1");
    ADD_FAILURE() << "duplicate accepted";
  } catch (const EWebHostException& e) {
    // "アクション名が重複しています"
    EXPECT_EQ(e.Message(), FromHex("83 41 83 4e 83 56 83 87 83 93 96 bc 82 aa 8f 64 95 a1 82 b5 82 "
                                   "c4 82 a2 82 dc 82 b7"));
  }
  first.SetName("WEBACTIONITEM1");  // its own name in another case: unchanged
  EXPECT_EQ(first.Name(), "WebActionItem1");
  first.SetName("Start");
  EXPECT_EQ(items.Add().Name(), "WebActionItem1");  // the smallest free number
  EXPECT_EQ(items.Add().Name(), "WebActionItem3");
  EXPECT_EQ(items.FindByName("start"), &first);
}

TEST(ActionItemProperties, OnlyOneDefaultItem) {
  TWebActionItems items;
  TWebActionItem& first = items.Add();
  TWebActionItem& second = items.Add();
  first.SetDefault(true);
  second.SetDefault(true);
  EXPECT_FALSE(first.Default());
  EXPECT_TRUE(second.Default());
  EXPECT_TRUE(first.Enabled());
  EXPECT_EQ(first.MethodType(), mtAny);
}

// A request whose script name is known, as the operator's log line quotes it.
class ScriptRequest : public FakeRequest {
 public:
  ScriptRequest(std::string method, std::string path_info)
      : FakeRequest(std::move(method), std::move(path_info)) {}
  std::string GetStringVariable(int index) override {
    return index == rvScriptName ? "/cgi/orvanegate.exe" : FakeRequest::GetStringVariable(index);
  }
};

TEST(ReportException, WritesTheInternalApplicationErrorPageWithStatus500) {
  RecordingDispatcher dispatcher;
  ScriptRequest request("POST", "/p<q>\"&");
  FakeResponse response(request);
  dispatcher.Dispatch(request, response);  // sets Request and Response
  bool handled = false;
  testing::StderrCapture err;
  dispatcher.ReportException(EFOpenError("<b>bad</b> & \"worse\"", 2, false), handled);
  EXPECT_EQ(err.Take(),
            "orvanegate: status 500: EFOpenError: <b>bad</b> & \"worse\" "
            "(request: POST /cgi/orvanegate.exe)\n");
  EXPECT_TRUE(handled);
  EXPECT_EQ(response.sends, 1);
  EXPECT_EQ(response.sent_status, 500);
  // "内部アプリケーションエラー"; message and path info are escaped, as they may carry
  // request data.
  EXPECT_EQ(response.content,
            "<html><body><h1>Internal Application Error / " +
                FromHex("93 e0 95 94 83 41 83 76 83 8a 83 50 81 5b 83 56 83 87 83 93 83 47 83 89 "
                        "81 5b") +
                "</h1>\r\n<p>&lt;b&gt;bad&lt;/b&gt; &amp; &quot;worse&quot;\r\n"
                "<p><hr width=\"100%\"><i>/p&lt;q&gt;&quot;&amp;</i></body></html>");
}

TEST(ReportException, AlreadySentResponseGetsContentButIsNotSentAgain) {
  RecordingDispatcher dispatcher;
  FakeRequest request;
  FakeResponse response(request);
  dispatcher.Dispatch(request, response);
  response.SendResponse();
  bool handled = false;
  dispatcher.ReportException(Exception("x"), handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(response.sends, 1);
  EXPECT_EQ(response.status, 200);
  EXPECT_NE(response.content.find("<p>x\r\n<p><hr width=\"100%\"><i></i>"), std::string::npos);
}

TEST(ReportException, WithoutResponseNothingIsHandled) {
  RecordingDispatcher dispatcher;
  bool handled = true;
  dispatcher.ReportException(Exception("x"), handled);
  EXPECT_FALSE(handled);
}

TEST(ReportException, OnExceptionHandlerDecides) {
  for (bool handler_handles : {true, false}) {
    SCOPED_TRACE(handler_handles);
    RecordingDispatcher dispatcher;
    std::string seen;
    dispatcher.OnException = [&](TComponent* sender, const Exception& e, bool& handled) {
      EXPECT_EQ(sender, &dispatcher);
      EXPECT_TRUE(handled);
      seen = e.Message();
      handled = handler_handles;
    };
    FakeRequest request;
    FakeResponse response(request);
    dispatcher.Dispatch(request, response);
    bool handled = false;
    dispatcher.ReportException(Exception("boom"), handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(seen, "boom");
    EXPECT_EQ(response.sends, 1);
    EXPECT_EQ(response.sent_status, 500);
    EXPECT_EQ(response.content.empty(), handler_handles);
  }
}

TEST(DispatcherConstruction, OwnerMayHoldOnlyOneDispatcher) {
  TComponent owner;
  auto* first = new TCustomWebDispatcher(&owner);  // owned by owner
  EXPECT_EQ(owner.Components(), (std::vector<TComponent*>{first}));
  // "Web ディスパッチャは一つのフォーム/データモジュールに一つしか置けません"
  const std::string message = FromHex(
      "57 65 62 20 83 66 83 42 83 58 83 70 83 62 83 60 83 83 82 cd 88 ea 82 c2 82 cc 83 74 83 48 "
      "81 "
      "5b 83 80 2f 83 66 81 5b 83 5e 83 82 83 57 83 85 81 5b 83 8b 82 c9 88 ea 82 c2 82 b5 82 a9 "
      "92 "
      "75 82 af 82 dc 82 b9 82 f1");
  for (TComponent* bad_owner : {&owner, static_cast<TComponent*>(first)}) {
    try {
      TCustomWebDispatcher second(bad_owner);
      ADD_FAILURE() << "second dispatcher accepted";
    } catch (const EWebHostException& e) {
      EXPECT_EQ(e.Message(), message);
    }
  }
  EXPECT_EQ(owner.Components().size(), 1u);
  EXPECT_TRUE(first->Components().empty());
}

}  // namespace
}  // namespace orvane
