// Twelve hostile replies decoded at once by twelve request workers over the service
// client, and serialised for the page, cost at most what the bound per reply allows:
// four times the body (the body, the parser's buffer for a long string while it grows,
// the text for the page) and 192 bytes for each value of the tree. With the reply cap
// and the value bound that is 12 x 320 MiB; the test runs at a sixteenth of both to stay
// quick under the sanitizers, and bench/transport_bench measures the full size.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "base/bounded_json.h"
#include "fakes/fake_http_engine.h"
#include "fakes/heap_watch.h"
#include "fakes/hostile_replies.h"
#include "fakes/memory_session_platform.h"
#include "platform/ui_event_queue_posix.h"
#include "service/api_bridge.h"
#include "service/http_transport.h"
#include "shell/dispatcher.h"
#include "shell/request_worker.h"

namespace vardeko::testing {
namespace {

constexpr std::size_t kTreeBytesPerValue = 192;
constexpr std::size_t kScale = 16;

std::size_t BoundPerReply(std::size_t bodyBytes, std::size_t values) {
  return 4 * bodyBytes + kTreeBytesPerValue * values;
}

TEST(HostileReplyMemoryTest, TwelveAtOnceCostAtMostTheirBound) {
  const std::size_t bodyBytes = kJsonReplyCap / kScale;
  const std::size_t values = kMaxJsonValues / kScale;
  UiEventQueue queue;
  FakeHttpEngine engine;
  MemorySessionPlatform sessions;
  const auto client =
      std::make_shared<ApiBridge>("https://api.example.test/api", "/data", sessions, engine);
  for (HostileReply& reply : HostileReplies(bodyBytes, values)) {
    engine.reply.body = std::move(reply.body);
    const auto inFlight = std::make_shared<InFlightCounter>(kMaxInFlight);
    HeapWatch::ResetPeak();
    std::vector<std::thread> workers;
    for (std::uint32_t i = 0; i < kMaxInFlight; ++i) {
      workers.emplace_back(RunRequestJob,
                           RequestJob{queue.window(), client, inFlight, std::to_string(i), "health",
                                      nlohmann::json::array()});
    }
    // The UI thread takes each reply as it comes: the service's, decoded, or refused.
    const std::string ending = reply.decoded ? "\"ok\":true}" : "\"ok\":false}";
    for (std::uint32_t i = 0; i < kMaxInFlight; ++i) {
      std::optional<UiEventQueue::Event> event = queue.Take(std::chrono::minutes(5));
      ASSERT_TRUE(event && event->json);
      EXPECT_TRUE(event->json->ends_with(ending)) << reply.name;
    }
    for (std::thread& worker : workers) worker.join();
    const std::size_t peak = HeapWatch::PeakSinceReset();
    std::printf("%s: twelve at once peaked at %zu KiB, bound %zu KiB\n", reply.name.c_str(),
                peak >> 10, (kMaxInFlight * BoundPerReply(bodyBytes, values)) >> 10);
    EXPECT_LE(peak, kMaxInFlight * BoundPerReply(bodyBytes, values)) << reply.name;
    std::lock_guard lock(engine.mutex);
    engine.seen.clear();
  }
}

}  // namespace
}  // namespace vardeko::testing
