// The Linux engine over loopback: a 32 MiB reply beside the curl command fetching the
// same reply, and a 32 MiB JSON reply of records decoded, both from the fast loopback
// service (bench/loopback_service.c), whose bodies are made before the timing starts;
// the transport's side is the exchange alone, curl's a whole process (its own transfer
// is curl_xfer_ms). Then twelve exchanges at once against the test service, which delays
// each, and the heap of twelve hostile replies of the full size, decoded at once by
// request workers.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "allocation_meter.h"
#include "base/bounded_json.h"
#include "child_process.h"
#include "fakes/fake_http_engine.h"
#include "fakes/hostile_replies.h"
#include "fakes/memory_session_platform.h"
#include "fakes/temp_dir.h"
#include "integration/test_server.h"
#include "platform/ui_event_queue_posix.h"
#include "service/api_bridge.h"
#include "service/http_transport.h"
#include "service/session_platform_posix.h"
#include "shell/dispatcher.h"
#include "shell/request_worker.h"

namespace vardeko::bench {
namespace {

constexpr int kReplyBytes = 32 * 1024 * 1024;
constexpr int kDelayMs = 500;

struct Fixture {
  testing::TestServer server;
  testing::TempDir home;
  testing::TempDir data;
  SodiumSessionPlatform platform{home.path() / "key"};
  ServiceAddress address = ParseServiceAddress(server.Url());
  SessionStore session{platform, address.baseUrl, data.path()};
  HttpTransport transport{address, session, SystemHttpEngine()};
  ServiceAddress loopbackAddress = ParseServiceAddress(TheService().Url(kReplyBytes, ""));
  HttpTransport loopback{loopbackAddress, session, SystemHttpEngine()};
  Fixture() {
    // The service makes the records on the first request, outside any timing.
    loopback.Json(u"GET", "/health", nullptr, false, 60000);
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void BM_Reply32MiB_Vardeko(benchmark::State& state) {
  Fixture& f = Shared();
  RawRequest request;
  request.verb = u"GET";
  request.path = "/health";
  request.cap = kReplyBytes;
  for (auto _ : state) {
    HttpResponse response = f.loopback.Raw(request);
    if (response.body.size() + 1024 < static_cast<std::size_t>(kReplyBytes)) {
      state.SkipWithError("short");
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kReplyBytes);
}
BENCHMARK(BM_Reply32MiB_Vardeko)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Reply32MiB_CurlCommand(benchmark::State& state) {
  Shared();
  double transfer = 0;
  for (auto _ : state) {
    Child curl({"curl", "-s", "-o", "/dev/null", "-w", "%{time_total}\\n",
                TheService().Url(kReplyBytes, "/health")},
               {});
    transfer += std::atof(curl.ReadLine().c_str()) * 1000;
  }
  state.counters["curl_xfer_ms"] = transfer / static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kReplyBytes);
}
BENCHMARK(BM_Reply32MiB_CurlCommand)->Unit(benchmark::kMillisecond)->UseRealTime();

// The JSON request's whole path for the largest reply: read, checked and decoded.
void BM_JsonReply32MiB_Records(benchmark::State& state) {
  Fixture& f = Shared();
  std::size_t peak = 0;
  std::size_t records = 0;
  for (auto _ : state) {
    AllocationMeter::ResetPeak();
    nlohmann::json reply = f.loopback.Json(u"GET", "/health", nullptr, false, 60000);
    records = reply.size();
    peak = std::max(peak, AllocationMeter::PeakSinceReset());
  }
  state.counters["records"] = static_cast<double>(records);
  state.counters["peak_MiB"] = static_cast<double>(peak) / (1024 * 1024);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kReplyBytes);
}
BENCHMARK(BM_JsonReply32MiB_Records)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The same reply as the methods take it: read and checked, passed on without a tree.
void BM_ForwardedReply32MiB_Records(benchmark::State& state) {
  Fixture& f = Shared();
  std::size_t peak = 0;
  for (auto _ : state) {
    AllocationMeter::ResetPeak();
    ServiceResult reply = f.loopback.Forward(u"GET", "/health", nullptr, false, 60000);
    benchmark::DoNotOptimize(reply.text().data());
    peak = std::max(peak, AllocationMeter::PeakSinceReset());
  }
  state.counters["peak_MiB"] = static_cast<double>(peak) / (1024 * 1024);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kReplyBytes);
}
BENCHMARK(BM_ForwardedReply32MiB_Records)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

void BM_TwelveDelayedExchangesAtOnce(benchmark::State& state) {
  Fixture& f = Shared();
  const std::string path = "/delay/" + std::to_string(kDelayMs);
  for (auto _ : state) {
    std::vector<std::thread> workers;
    for (int i = 0; i < 12; ++i) {
      workers.emplace_back([&] { f.transport.Json(u"GET", path, nullptr, false, 15000); });
    }
    for (std::thread& worker : workers) worker.join();
  }
  state.counters["delay_ms"] = kDelayMs;
}
BENCHMARK(BM_TwelveDelayedExchangesAtOnce)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// Twelve replies of one hostile kind (the argument picks it), as long as the cap with as
// many values as the bound lets through (the last kind goes past it and is refused),
// decoded at once by twelve request workers and serialised for the page; peak_MiB is the
// heap of all twelve together.
void BM_TwelveHostileRepliesAtOnce(benchmark::State& state) {
  std::vector<testing::HostileReply> replies =
      testing::HostileReplies(kJsonReplyCap, kMaxJsonValues);
  replies.push_back(testing::OnesPastTheValueBound(kJsonReplyCap));
  testing::HostileReply reply = std::move(replies.at(static_cast<std::size_t>(state.range(0))));
  UiEventQueue queue;
  testing::FakeHttpEngine engine;
  testing::MemorySessionPlatform sessions;
  const auto client =
      std::make_shared<ApiBridge>("https://api.example.test/api", "/data", sessions, engine);
  engine.reply.body = std::move(reply.body);
  replies.clear();
  std::size_t peak = 0;
  for (auto _ : state) {
    const auto inFlight = std::make_shared<InFlightCounter>(kMaxInFlight);
    AllocationMeter::ResetPeak();
    std::vector<std::thread> workers;
    for (std::uint32_t i = 0; i < kMaxInFlight; ++i) {
      workers.emplace_back(RunRequestJob,
                           RequestJob{queue.window(), client, inFlight, std::to_string(i), "health",
                                      nlohmann::json::array()});
    }
    for (std::uint32_t i = 0; i < kMaxInFlight; ++i) {
      if (!queue.Take(std::chrono::minutes(5))) state.SkipWithError("no reply");
    }
    for (std::thread& worker : workers) worker.join();
    peak = std::max(peak, AllocationMeter::PeakSinceReset());
    std::lock_guard lock(engine.mutex);
    engine.seen.clear();
  }
  state.SetLabel(reply.name);
  state.counters["peak_MiB"] = static_cast<double>(peak) / (1024 * 1024);
}
BENCHMARK(BM_TwelveHostileRepliesAtOnce)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
}  // namespace vardeko::bench

BENCHMARK_MAIN();
