#include "shell/dispatcher.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "fakes/dispatcher_harness.h"
#include "fakes/temp_dir.h"
#include "service/api_bridge.h"

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

const std::string kLong(5000, 'L');

class DispatcherTest : public ::testing::Test {
 protected:
  DispatcherHarness harness;
};

TEST_F(DispatcherTest, AppInfoReplyIsByteExact) {
  harness.Post(R"({"id":"a","method":"appInfo","args":[]})");
  EXPECT_EQ(harness.Log(), Log{Ok("a", kAppInfoData)});
}

TEST_F(DispatcherTest, OnlyTheExactStartUrlIsHeard) {
  const std::string message = Request("a", "appInfo", "[]");
  for (const char16_t* source :
       {u"https://app.vardeko.localhost/index.html?x=1",
        u"https://APP.vardeko.localhost/index.html", u"https://app.vardeko.localhost/index.html/",
        u"https://app.vardeko.localhost/", u""}) {
    harness.PostFrom(source, Utf8ToWide(message));
  }
  harness.PostFrom(std::nullopt, Utf8ToWide(message));
  harness.PostFrom(harness.host.startUrl, std::nullopt);
  EXPECT_EQ(harness.Log(), Log{});
}

TEST_F(DispatcherTest, IdMustBeOneTo128Bytes) {
  const std::string id128(128, 'i');
  std::string chinese42;  // 126 bytes
  for (int i = 0; i < 42; ++i) chinese42 += "字";

  harness.Post(Request(id128, "appInfo", "[]"));
  harness.Post(Request(chinese42, "appInfo", "[]"));
  EXPECT_EQ(harness.Log(), (Log{Ok(id128, kAppInfoData), Ok(chinese42, kAppInfoData)}));

  harness.Post(Request(id128 + "i", "appInfo", "[]"));
  harness.Post(Request(chinese42 + "字", "appInfo", "[]"));  // 43 characters, 129 bytes
  harness.Post(Request("", "appInfo", "[]"));
  harness.Post(R"({"id":7,"method":"appInfo","args":[]})");
  harness.Post(R"({"method":"appInfo","args":[]})");
  EXPECT_EQ(harness.Log(), Log{});
}

TEST_F(DispatcherTest, EnvelopeRulesIgnoreMessagesEvenWithAKnownId) {
  harness.Post(Request("a", "appInfo", "[1,2,3,4,5,6,7,8]"));
  EXPECT_EQ(harness.Log(), Log{Ok("a", kAppInfoData)});

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
    harness.Post(message);
  }
  EXPECT_EQ(harness.Log(), Log{});
}

TEST_F(DispatcherTest, UnpairedSurrogateIgnoresTheMessage) {
  std::u16string text = Utf8ToWide(R"({"id":"a","method":"appInfo","args":["x"]})");
  text[text.find(u'x')] = 0xD800;
  harness.PostFrom(harness.host.startUrl, text);
  EXPECT_EQ(harness.Log(), Log{});
}

TEST_F(DispatcherTest, MessageLengthLimitIsCheckedBeforeParsing) {
  const std::string head = R"({"id":"a","method":"appInfo","args":[],"pad":")";
  const std::string tail = R"("})";
  std::u16string atLimit = Utf8ToWide(head);
  atLimit.append(kMaxMessageLength - head.size() - tail.size(), u'p');
  atLimit += Utf8ToWide(tail);
  ASSERT_EQ(atLimit.size(), 18874368u);

  harness.PostFrom(harness.host.startUrl, atLimit);
  EXPECT_EQ(harness.Log(), Log{Ok("a", kAppInfoData)});

  atLimit.insert(head.size(), 1, u'p');
  harness.PostFrom(harness.host.startUrl, atLimit);
  EXPECT_EQ(harness.Log(), Log{});
}

// A host that has the text in UTF-8 (the bridge) hands it over as such.
class Utf8Message final : public WebMessageReceivedArgs {
 public:
  Utf8Message(std::u16string source, std::string text)
      : source_(std::move(source)), text_(std::move(text)) {}
  std::optional<std::u16string_view> Source() override { return source_; }
  std::optional<std::u16string_view> WebMessageAsJson() override { return std::nullopt; }
  std::optional<std::string_view> WebMessageAsUtf8() override { return text_; }

 private:
  std::u16string source_;
  std::string text_;
};

TEST_F(DispatcherTest, Utf8TextKeepsTheLimitInUtf16UnitsAndTheSameChecks) {
  const std::string head = R"({"id":"a","method":"appInfo","args":[],"pad":")";
  const std::string tail = R"("})";
  // Three bytes but one unit each: the limit counts units.
  std::string atLimit = head;
  for (std::size_t i = head.size() + tail.size(); i < kMaxMessageLength; ++i) atLimit += "订";
  atLimit += tail;
  const struct {
    const char* name;
    std::string text;
    Log expected;
  } cases[] = {
      {"at the limit", atLimit, Log{Ok("a", kAppInfoData)}},
      {"one unit past it", head + "p" + atLimit.substr(head.size()), Log{}},
      {"not UTF-8", R"({"id":"a","method":"appInfo","args":[")" + std::string("\xFF") + R"("]})",
       Log{}},
      {"not JSON", R"({"id":"a","method":"appInfo","args":[])", Log{}},
      {"long member", Request("a", "appInfo", "[]").insert(1, R"("p":")" + kLong + R"(",)"),
       Log{Ok("a", kAppInfoData)}},
  };
  for (const auto& c : cases) {
    Utf8Message message(harness.host.startUrl, c.text);
    HandleWebMessage(harness.host, message);
    EXPECT_EQ(harness.Log(), c.expected) << c.name;
  }
}

TEST_F(DispatcherTest, WindowControlActsBeforeReplying) {
  harness.Post(Request("1", "windowControl", R"(["minimize"])"));
  harness.Post(Request("2", "windowControl", R"(["maximize"])"));
  harness.Post(Request("3", "windowControl", R"(["maximize"])"));
  EXPECT_EQ(harness.Log(), (Log{"window minimize", Ok("1"), "window maximize", Ok("2"),
                                "window restore", Ok("3")}));
}

TEST_F(DispatcherTest, WindowControlRefusesOtherArguments) {
  const std::string message = "窗口操作不正确。";
  for (const char* args : {R"(["Maximize"])", "[]", R"(["close","x"])", "[1]", R"(["hide"])"}) {
    harness.Post(Request("w", "windowControl", args));
    EXPECT_EQ(harness.Log(), Log{Failed("w", "INVALID_INPUT", message)}) << args;
  }
  EXPECT_FALSE(harness.host.closing);
}

TEST_F(DispatcherTest, WindowControlCloseConfirmsWithoutAskingThePage) {
  harness.Post(Request("c", "windowControl", R"(["close"])"));
  EXPECT_TRUE(harness.host.closing);
  EXPECT_EQ(harness.Log(), Log{Ok("c")});
  EXPECT_EQ(harness.Pump(), WM_APP_CLOSE_CONFIRMED);
}

TEST_F(DispatcherTest, UnsavedInputTakesOneBooleanAndRegistersTheReasonOnChange) {
  for (const char* args : {"[]", "[1]", R"(["true"])", "[null]", "[true,false]", "[[true]]"}) {
    harness.Post(Request("u", "setUnsavedInput", args));
    EXPECT_EQ(harness.Log(), Log{Failed("u", "INVALID_INPUT", "输入参数不正确。")}) << args;
  }
  EXPECT_FALSE(harness.host.unsavedInput);
  harness.Post(Request("1", "setUnsavedInput", "[true]"));
  harness.Post(Request("2", "setUnsavedInput", "[true]"));
  harness.Post(Request("3", "setUnsavedInput", "[false]"));
  EXPECT_EQ(harness.Log(),
            (Log{"window block session end 有未保存的内容，请在 Vardeko 中确认后再关机。", Ok("1"),
                 Ok("2"), "window allow session end", Ok("3")}));
}

TEST_F(DispatcherTest, WindowDragRepliesAndLeavesTheMoveLoopToAfterTheHandler) {
  harness.Post(Request("d", "windowDrag", R"([{"not":"examined"},1])"));
  EXPECT_EQ(harness.Log(), (Log{Ok("d"), "window post drag"}));
}

TEST_F(DispatcherTest, FailureAfterTheIdIsKnownBecomesTheDispatcherDefault) {
  harness.window.failNextOperation = true;
  harness.Post(Request("x", "windowControl", R"(["minimize"])"));
  EXPECT_EQ(harness.Log(), Log{Failed("x", "INVALID_INPUT", "请求参数不正确。")});
}

TEST_F(DispatcherTest, TestMethodsExistOnlyWithADebugPort) {
  TempDir data;
  auto api = std::make_shared<ApiBridge>("https://api.example.test/api", data.path());
  harness.host.serviceClient = api;
  harness.Post(Request("s", "test:window-size", "[960,640]"));
  harness.Post(Request("c", "test:request-close", "[]"));
  ASSERT_EQ(harness.Pump(), WM_APP_POST_JSON);
  ASSERT_EQ(harness.Pump(), WM_APP_POST_JSON);
  Log replies = harness.Log();
  std::sort(replies.begin(), replies.end());
  EXPECT_EQ(replies, (Log{Failed("c", "INVALID_METHOD", "不支持此操作。"),
                          Failed("s", "INVALID_METHOD", "不支持此操作。")}));
}

TEST_F(DispatcherTest, TestWindowSizeScalesForDpi) {
  harness.host.debugEnabled = true;
  harness.window.dpi = 144;
  harness.Post(Request("s", "test:window-size", "[960,640]"));
  harness.Post(Request("t", "test:window-size", "[3840,2160]"));
  EXPECT_EQ(harness.Log(),
            (Log{"window resize 1440x960", Ok("s"), "window resize 5760x3240", Ok("t")}));
  harness.window.dpi = 120;
  harness.Post(Request("u", "test:window-size", "[1001,641]"));  // 1251.25, 801.25
  EXPECT_EQ(harness.Log(), (Log{"window resize 1251x801", Ok("u")}));
}

TEST_F(DispatcherTest, TestWindowSizeRefusesOutOfRangeAndNonIntegers) {
  harness.host.debugEnabled = true;
  for (const char* args : {"[959,640]", "[960,639]", "[3841,2160]", "[3840,2161]", "[960.0,640]",
                           "[960]", "[960,640,1]", R"(["960",640])", "[-960,640]",
                           "[4294968256,640]", "[960,18446744073709552256]"}) {
    harness.Post(Request("s", "test:window-size", args));
    EXPECT_EQ(harness.Log(), Log{Failed("s", "INVALID_INPUT", "窗口尺寸不正确。")}) << args;
  }
}

TEST_F(DispatcherTest, TestRequestClosePostsACloseAttemptThenReplies) {
  harness.host.debugEnabled = true;
  harness.Post(Request("c", "test:request-close", "[]"));
  EXPECT_EQ(harness.Log(), Log{Ok("c")});
  EXPECT_FALSE(harness.host.closing);
  EXPECT_EQ(harness.Pump(), UiEventQueue::kCloseAttempt);
}

TEST_F(DispatcherTest, ServiceMethodsRunOnAWorkerAndReplyThroughTheWindow) {
  harness.service =
      std::make_shared<FakeServiceClient>([](std::string_view method, const nlohmann::json& args) {
        return nlohmann::json{{"method", method}, {"args", args}};
      });
  harness.host.serviceClient = harness.service;
  harness.Post(Request("r", "listOrders", R"(["数据",null])"));
  EXPECT_EQ(harness.Log(), Log{});  // nothing until the worker's reply is delivered
  ASSERT_EQ(harness.Pump(), WM_APP_POST_JSON);
  EXPECT_EQ(harness.Log(), Log{Ok("r", R"({"args":["数据",null],"method":"listOrders"})")});
  EXPECT_EQ(harness.host.inFlight->load(), 0u);
}

// The message's own text goes as soon as it is parsed, before the worker starts: a
// screenshot is 32 MiB of it, and a login's carries the password.
TEST_F(DispatcherTest, MessageTextIsReleasedBeforeTheWorkerStarts) {
  class Message final : public WebMessageReceivedArgs {
   public:
    Message(std::u16string source, std::u16string text)
        : source_(std::move(source)), text_(std::move(text)) {}
    std::optional<std::u16string_view> Source() override { return source_; }
    std::optional<std::u16string_view> WebMessageAsJson() override { return text_; }
    void ReleaseText() noexcept override { released = true; }
    bool released = false;

   private:
    std::u16string source_;
    std::u16string text_;
  };
  Message message(harness.host.startUrl, Utf8ToWide(Request("r", "health", "[]")));
  bool releasedFirst = false;
  harness.service = std::make_shared<FakeServiceClient>([&](auto, auto&) {
    releasedFirst = message.released;  // read after the thread started: ordered
    return nullptr;
  });
  harness.host.serviceClient = harness.service;
  HandleWebMessage(harness.host, message);
  ASSERT_EQ(harness.Pump(), WM_APP_POST_JSON);
  EXPECT_TRUE(releasedFirst);
  EXPECT_EQ(harness.Log(), Log{Ok("r")});
}

TEST_F(DispatcherTest, MissingServiceClientGivesTheSlotBack) {
  harness.host.serviceClient.reset();
  harness.Post(Request("r", "health", "[]"));
  EXPECT_EQ(harness.Log(), Log{Failed("r", "INVALID_INPUT", "请求参数不正确。")});
  EXPECT_EQ(harness.host.inFlight->load(), 0u);
}

TEST_F(DispatcherTest, NothingIsPostedWithoutABrowserView) {
  harness.host.webview.reset();
  harness.Post(Request("a", "appInfo", "[]"));
  harness.Post(Request("w", "windowControl", "[]"));
  EXPECT_EQ(harness.Log(), Log{});
}

}  // namespace
}  // namespace vardeko::testing
