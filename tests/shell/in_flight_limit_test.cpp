// Runs under ThreadSanitizer: the dispatcher, the workers and the UI event queue together.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fakes/dispatcher_harness.h"

namespace vardeko::testing {
namespace {

std::string ServiceRequest(int n) {
  return R"({"id":"r)" + std::to_string(n) + R"(","method":"listOrders","args":[]})";
}

class InFlightLimitTest : public ::testing::Test {
 protected:
  void TearDown() override { harness.FinishWorkers(); }

  DispatcherHarness harness;
};

TEST_F(InFlightLimitTest, ThirteenthServiceRequestIsBusyUntilASlotIsGivenBack) {
  harness.service->Close();
  for (int n = 1; n <= 12; ++n) harness.Post(ServiceRequest(n));
  harness.service->WaitEntered(12);
  EXPECT_EQ(harness.host.inFlight->load(), 12u);

  harness.Post(ServiceRequest(13));
  EXPECT_EQ(
      harness.Log(),
      std::vector<std::string>{
          R"(page {"error":{"code":"BUSY","message":"操作较多，请稍后重试。"},"id":"r13","ok":false})"});
  EXPECT_EQ(harness.host.inFlight->load(), 12u);

  // Built-in methods do not take slots.
  harness.Post(R"({"id":"info","method":"appInfo","args":[]})");
  ASSERT_EQ(harness.Log().size(), 1u);

  harness.service->Let(1);
  ASSERT_EQ(harness.Pump(), WM_APP_POST_JSON);
  const std::vector<std::string> replies = harness.Log();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_NE(replies[0].find(R"("ok":true)"), std::string::npos);

  // The slot came back before the reply was posted, so a request sent in reaction to
  // the reply is accepted.
  harness.Post(ServiceRequest(14));
  harness.service->WaitEntered(13);
  EXPECT_EQ(harness.Log(), std::vector<std::string>{});
  EXPECT_EQ(harness.host.inFlight->load(), 12u);
}

TEST_F(InFlightLimitTest, RepliesCarryTheirOwnIdsInAnyOrder) {
  harness.service->Close();
  harness.Post(ServiceRequest(1));
  harness.Post(ServiceRequest(2));
  harness.service->WaitEntered(2);
  harness.service->Let(2);
  ASSERT_EQ(harness.Pump(), WM_APP_POST_JSON);
  ASSERT_EQ(harness.Pump(), WM_APP_POST_JSON);
  std::vector<std::string> replies = harness.Log();
  std::sort(replies.begin(), replies.end());
  EXPECT_EQ(replies, (std::vector<std::string>{R"(page {"data":null,"id":"r1","ok":true})",
                                               R"(page {"data":null,"id":"r2","ok":true})"}));
}

TEST_F(InFlightLimitTest, ReplyPostedAfterTheWindowIsGoneIsFreed) {
  auto queue = std::make_unique<UiEventQueue>();
  harness.host.window = queue->window();
  harness.service->Close();
  harness.Post(ServiceRequest(1));
  harness.service->WaitEntered(1);
  queue.reset();  // the window is destroyed while the request runs
  harness.service->Let(1);
  harness.FinishWorkers();
  // LeakSanitizer reports the reply text if the failed post did not free it.
  EXPECT_EQ(harness.Log(), std::vector<std::string>{});
  EXPECT_EQ(harness.host.inFlight->load(), 0u);
}

}  // namespace
}  // namespace vardeko::testing
