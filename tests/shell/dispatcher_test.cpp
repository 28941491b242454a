#include "bridge/dispatcher.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "api/api_bridge.h"
#include "fakes/bridge_harness.h"
#include "fakes/temp_dir.h"

namespace vardeko::testing {
namespace {

using Log = std::vector<std::string>;

std::string Request(const std::string& id, const std::string& method, const std::string& args) {
  return R"({"id":")" + id + R"(","method":")" + method + R"(","args":)" + args + "}";
}

std::string Ok(const std::string& id, const std::string& data = "null") {
  return "page {\"data\":" + data + ",\"id\":\"" + id + "\",\"ok\":true}";
}

std::string Failed(const std::string& id, const std::string& code, const std::string& message) {
  return R"(page {"error":{"code":")" + code + R"(","message":")" + message + R"("},"id":")" + id +
         R"(","ok":false})";
}

const std::string kAppInfoData =
    R"({"apiUrl":"https://api.example.test/api","persistentSession":true,"runtime":"webview2","version":"0.9.4"})";

class DispatcherTest : public ::testing::Test {
 protected:
  BridgeHarness bridge;
};

TEST_F(DispatcherTest, AppInfoReplyIsByteExact) {
  bridge.Post(R"({"id":"a","method":"appInfo","args":[]})");
  EXPECT_EQ(bridge.Log(), Log{Ok("a", kAppInfoData)});
}

TEST_F(DispatcherTest, OnlyTheExactStartUrlIsHeard) {
  const std::string message = Request("a", "appInfo", "[]");
  for (const char16_t* source :
       {u"https://app.vardeko.local/index.html?x=1", u"https://APP.vardeko.local/index.html",
        u"https://app.vardeko.local/index.html/", u"https://app.vardeko.local/", u""}) {
    bridge.PostFrom(source, Utf8ToWide(message));
  }
  bridge.PostFrom(std::nullopt, Utf8ToWide(message));
  bridge.PostFrom(bridge.host.startUrl, std::nullopt);
  EXPECT_EQ(bridge.Log(), Log{});
}

TEST_F(DispatcherTest, IdMustBeOneTo128Bytes) {
  const std::string id128(128, 'i');
  std::string chinese42;  // 126 bytes
  for (int i = 0; i < 42; ++i) chinese42 += "字";

  bridge.Post(Request(id128, "appInfo", "[]"));
  bridge.Post(Request(chinese42, "appInfo", "[]"));
  EXPECT_EQ(bridge.Log(), (Log{Ok(id128, kAppInfoData), Ok(chinese42, kAppInfoData)}));

  bridge.Post(Request(id128 + "i", "appInfo", "[]"));
  bridge.Post(Request(chinese42 + "字", "appInfo", "[]"));  // 43 characters, 129 bytes
  bridge.Post(Request("", "appInfo", "[]"));
  bridge.Post(R"({"id":7,"method":"appInfo","args":[]})");
  bridge.Post(R"({"method":"appInfo","args":[]})");
  EXPECT_EQ(bridge.Log(), Log{});
}

TEST_F(DispatcherTest, EnvelopeRulesIgnoreMessagesEvenWithAKnownId) {
  bridge.Post(Request("a", "appInfo", "[1,2,3,4,5,6,7,8]"));
  EXPECT_EQ(bridge.Log(), Log{Ok("a", kAppInfoData)});

  for (const char* message : {
           R"({"id":"a","method":"appInfo","args":[1,2,3,4,5,6,7,8,9]})",
           R"({"id":"a","method":"appInfo","args":{}})",
           R"({"id":"a","method":"appInfo"})",
           R"({"id":"a","method":7,"args":[]})",
           R"({"id":"a","args":[]})",
           R"([{"id":"a","method":"appInfo","args":[]}])",
           R"({"id":"a","method":"appInfo","args":[]} x)",
           R"({"id":"a","method":"appInfo","args":[])",
           "",
       }) {
    bridge.Post(message);
  }
  EXPECT_EQ(bridge.Log(), Log{});
}

TEST_F(DispatcherTest, UnpairedSurrogateIgnoresTheMessage) {
  std::u16string text = Utf8ToWide(R"({"id":"a","method":"appInfo","args":["x"]})");
  text[text.find(u'x')] = 0xD800;
  bridge.PostFrom(bridge.host.startUrl, text);
  EXPECT_EQ(bridge.Log(), Log{});
}

TEST_F(DispatcherTest, MessageLengthLimitIsCheckedBeforeParsing) {
  const std::string head = R"({"id":"a","method":"appInfo","args":[],"pad":")";
  const std::string tail = R"("})";
  std::u16string atLimit = Utf8ToWide(head);
  atLimit.append(kMaxMessageLength - head.size() - tail.size(), u'p');
  atLimit += Utf8ToWide(tail);
  ASSERT_EQ(atLimit.size(), 18874368u);

  bridge.PostFrom(bridge.host.startUrl, atLimit);
  EXPECT_EQ(bridge.Log(), Log{Ok("a", kAppInfoData)});

  atLimit.insert(head.size(), 1, u'p');
  bridge.PostFrom(bridge.host.startUrl, atLimit);
  EXPECT_EQ(bridge.Log(), Log{});
}

TEST_F(DispatcherTest, WindowControlActsBeforeReplying) {
  bridge.Post(Request("1", "windowControl", R"(["minimize"])"));
  bridge.Post(Request("2", "windowControl", R"(["maximize"])"));
  bridge.Post(Request("3", "windowControl", R"(["maximize"])"));
  EXPECT_EQ(bridge.Log(), (Log{"window minimize", Ok("1"), "window maximize", Ok("2"),
                               "window restore", Ok("3")}));
}

TEST_F(DispatcherTest, WindowControlRefusesOtherArguments) {
  const std::string message = "窗口操作不正确。";
  for (const char* args : {R"(["Maximize"])", "[]", R"(["close","x"])", "[1]", R"(["hide"])"}) {
    bridge.Post(Request("w", "windowControl", args));
    EXPECT_EQ(bridge.Log(), Log{Failed("w", "INVALID_INPUT", message)}) << args;
  }
  EXPECT_FALSE(bridge.host.closing);
}

TEST_F(DispatcherTest, WindowControlCloseConfirmsWithoutAskingThePage) {
  bridge.Post(Request("c", "windowControl", R"(["close"])"));
  EXPECT_TRUE(bridge.host.closing);
  EXPECT_EQ(bridge.Log(), Log{Ok("c")});
  EXPECT_EQ(bridge.Pump(), WM_APP_CLOSE_CONFIRMED);
}

TEST_F(DispatcherTest, WindowDragRepliesBeforeTheMoveLoop) {
  bridge.Post(Request("d", "windowDrag", R"([{"not":"examined"},1])"));
  EXPECT_EQ(bridge.Log(), (Log{Ok("d"), "window drag"}));
}

TEST_F(DispatcherTest, FailureAfterTheIdIsKnownBecomesTheDispatcherDefault) {
  bridge.window.failNextOperation = true;
  bridge.Post(Request("x", "windowControl", R"(["minimize"])"));
  EXPECT_EQ(bridge.Log(), Log{Failed("x", "INVALID_INPUT", "请求参数不正确。")});
}

TEST_F(DispatcherTest, TestMethodsExistOnlyWithADebugPort) {
  TempDir data;
  auto api = std::make_shared<ApiBridge>("https://api.example.test/api", data.path());
  bridge.host.bridge = api;
  bridge.Post(Request("s", "test:window-size", "[960,640]"));
  bridge.Post(Request("c", "test:request-close", "[]"));
  ASSERT_EQ(bridge.Pump(), WM_APP_POST_JSON);
  ASSERT_EQ(bridge.Pump(), WM_APP_POST_JSON);
  Log replies = bridge.Log();
  std::sort(replies.begin(), replies.end());
  EXPECT_EQ(replies, (Log{Failed("c", "INVALID_METHOD", "不支持此操作。"),
                          Failed("s", "INVALID_METHOD", "不支持此操作。")}));
}

TEST_F(DispatcherTest, TestWindowSizeScalesForDpi) {
  bridge.host.debugEnabled = true;
  bridge.window.dpi = 144;
  bridge.Post(Request("s", "test:window-size", "[960,640]"));
  bridge.Post(Request("t", "test:window-size", "[3840,2160]"));
  EXPECT_EQ(bridge.Log(),
            (Log{"window resize 1440x960", Ok("s"), "window resize 5760x3240", Ok("t")}));
  bridge.window.dpi = 120;
  bridge.Post(Request("u", "test:window-size", "[1001,641]"));  // 1251.25, 801.25
  EXPECT_EQ(bridge.Log(), (Log{"window resize 1251x801", Ok("u")}));
}

TEST_F(DispatcherTest, TestWindowSizeRefusesOutOfRangeAndNonIntegers) {
  bridge.host.debugEnabled = true;
  for (const char* args : {"[959,640]", "[960,639]", "[3841,2160]", "[3840,2161]", "[960.0,640]",
                           "[960]", "[960,640,1]", R"(["960",640])", "[-960,640]",
                           "[4294968256,640]", "[960,18446744073709552256]"}) {
    bridge.Post(Request("s", "test:window-size", args));
    EXPECT_EQ(bridge.Log(), Log{Failed("s", "INVALID_INPUT", "窗口尺寸不正确。")}) << args;
  }
}

TEST_F(DispatcherTest, TestRequestClosePostsACloseAttemptThenReplies) {
  bridge.host.debugEnabled = true;
  bridge.Post(Request("c", "test:request-close", "[]"));
  EXPECT_EQ(bridge.Log(), Log{Ok("c")});
  EXPECT_FALSE(bridge.host.closing);
  EXPECT_EQ(bridge.Pump(), UiEventQueue::kCloseAttempt);
}

TEST_F(DispatcherTest, ServiceMethodsRunOnAWorkerAndReplyThroughTheWindow) {
  bridge.service =
      std::make_shared<FakeServiceClient>([](std::string_view method, const nlohmann::json& args) {
        return nlohmann::json{{"method", method}, {"args", args}};
      });
  bridge.host.bridge = bridge.service;
  bridge.Post(Request("r", "listOrders", R"(["数据",null])"));
  EXPECT_EQ(bridge.Log(), Log{});  // nothing until the worker's reply is delivered
  ASSERT_EQ(bridge.Pump(), WM_APP_POST_JSON);
  EXPECT_EQ(bridge.Log(), Log{Ok("r", R"({"args":["数据",null],"method":"listOrders"})")});
  EXPECT_EQ(bridge.host.inFlight->load(), 0u);
}

TEST_F(DispatcherTest, MissingServiceClientGivesTheSlotBack) {
  bridge.host.bridge.reset();
  bridge.Post(Request("r", "health", "[]"));
  EXPECT_EQ(bridge.Log(), Log{Failed("r", "INVALID_INPUT", "请求参数不正确。")});
  EXPECT_EQ(bridge.host.inFlight->load(), 0u);
}

TEST_F(DispatcherTest, NothingIsPostedWithoutABrowserView) {
  bridge.host.webview.reset();
  bridge.Post(Request("a", "appInfo", "[]"));
  bridge.Post(Request("w", "windowControl", "[]"));
  EXPECT_EQ(bridge.Log(), Log{});
}

}  // namespace
}  // namespace vardeko::testing
