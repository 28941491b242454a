#include "shell/request_worker.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "base/api_failure.h"
#include "fakes/fake_service_client.h"
#include "platform/ui_event_queue_posix.h"
#include "service/http_transport.h"
#include "shell/envelope.h"

namespace vardeko::testing {
namespace {

using nlohmann::json;

class RequestWorkerTest : public ::testing::Test {
 protected:
  // Runs one job on this thread with a service that answers with `handler`, and returns
  // the text posted to the window.
  std::string Run(FakeServiceClient::Handler handler, std::string id = "r1") {
    inFlight->store(1);
    RunRequestJob(RequestJob{queue.window(),
                             std::make_shared<FakeServiceClient>(std::move(handler)), inFlight,
                             std::move(id), "listOrders", json::array()});
    EXPECT_EQ(inFlight->load(), 0u);
    std::optional<UiEventQueue::Event> event = queue.Take(std::chrono::milliseconds(0));
    if (!event || event->message != WM_APP_POST_JSON || !event->json) return "<nothing posted>";
    return *event->json;
  }

  UiEventQueue queue;
  std::shared_ptr<InFlightCounter> inFlight = std::make_shared<InFlightCounter>(0);
};

TEST_F(RequestWorkerTest, ServiceFailureBecomesAFailureReply) {
  EXPECT_EQ(Run([](auto, auto&) -> json { throw ApiFailure("UNAUTHORIZED", "请登录后继续。"); }),
            R"({"error":{"code":"UNAUTHORIZED","message":"请登录后继续。"},"id":"r1","ok":false})");
}

TEST_F(RequestWorkerTest, NullResultIsASuccessWithNullData) {
  EXPECT_EQ(Run([](auto, auto&) { return json(); }), R"({"data":null,"id":"r1","ok":true})");
}

// A service reply passed on without its tree reaches the page exactly as the tree's
// reply would have, byte for byte.
TEST_F(RequestWorkerTest, ReplyPassedOnAsTextIsTheTreesReply) {
  const std::string body =
      "\xEF\xBB\xBF [{\"b\": 1, \"a\": [true, null, 2.50], \"b\": \"\\u00e9\\/\"}]\r\n";
  const std::string posted =
      Run([&](auto, auto&) { return ForwardedReply(SecretString(body)); }, "r\"1");
  EXPECT_EQ(posted, SuccessReply("r\"1", json::parse(body)).dump());
  EXPECT_EQ(posted, R"({"data":[{"a":[true,null,2.5],"b":"é/"}],"id":"r\"1","ok":true})");
}

TEST_F(RequestWorkerTest, ServiceCodesPassThroughVerbatim) {
  EXPECT_EQ(Run([](auto, auto&) -> json { throw ApiFailure("order locked", "订单已锁定"); }),
            R"({"error":{"code":"order locked","message":"订单已锁定"},"id":"r1","ok":false})");
}

TEST_F(RequestWorkerTest, OtherExceptionsBecomeInternalError) {
  const std::string expected =
      R"({"error":{"code":"INTERNAL_ERROR","message":"操作未完成，请稍后重试。"},"id":"r1","ok":false})";
  EXPECT_EQ(Run([](auto, auto&) -> json { throw std::bad_alloc(); }), expected);
  EXPECT_EQ(
      Run([](auto, auto&) -> json {
        throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
      }),
      expected);
  EXPECT_EQ(Run([](auto, auto&) -> json { throw 42; }), expected);
}

TEST_F(RequestWorkerTest, ResultThatCannotBeSerialisedBecomesInternalError) {
  // Invalid UTF-8 cannot come from the parser, but the worker must survive it anyway.
  EXPECT_EQ(
      Run([](auto, auto&) { return json("\xFF"); }),
      R"({"error":{"code":"INTERNAL_ERROR","message":"操作未完成，请稍后重试。"},"id":"r1","ok":false})");
}

TEST_F(RequestWorkerTest, ReplyToAWindowThatIsGoneIsFreedByTheWorker) {
  WindowHandle gone;
  {
    UiEventQueue closed;
    gone = closed.window();
  }
  inFlight->store(1);
  // LeakSanitizer fails the run if the text is not freed.
  RunRequestJob(
      RequestJob{gone, std::make_shared<FakeServiceClient>(), inFlight, "r", "m", json::array()});
  EXPECT_EQ(inFlight->load(), 0u);
}

}  // namespace
}  // namespace vardeko::testing
