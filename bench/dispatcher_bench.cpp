// HandleWebMessage on the UI thread: a built-in method, and a service message carrying a
// 16 MiB screenshot up to its hand-off to the worker, against parsing the same text alone.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "allocation_meter.h"
#include "base/utf.h"
#include "fakes/fake_browser.h"
#include "fakes/null_window_operations.h"
#include "fakes/stub_browser_view.h"
#include "platform/ui_event_queue_posix.h"
#include "shell/dispatcher.h"
#include "shell/host.h"

namespace vardeko::bench {
namespace {

constexpr std::size_t kScreenshotChars = 16 * 1024 * 1024;

class NullService final : public ServiceClient {
  nlohmann::json Call(std::string_view, const nlohmann::json&) override { return nullptr; }
  std::string ApiUrl() const override { return "https://api.example.test/api"; }
  bool IsPersistent() const override { return true; }
};

std::string ScreenshotMessage() {
  std::string text =
      R"({"id":"u1","method":"uploadMatch","args":[{"name":"截图 1.png","content_type":"image/png","order_id":null,"data_base64":")";
  const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  text.reserve(text.size() + kScreenshotChars + 8);
  for (std::size_t i = 0; i < kScreenshotChars; ++i) text += alphabet[(i * 7 + i / 64) % 64];
  text += R"("}]})";
  return text;
}

struct Bench {
  testing::NullWindowOperations window;
  UiEventQueue queue;
  Host host{window};
  Bench() {
    host.window = queue.window();
    host.webview = std::make_unique<testing::StubBrowserView>(
        [](std::u16string_view json) { benchmark::DoNotOptimize(json.data()); });
    host.serviceClient = std::make_shared<NullService>();
  }
  // Waits for the worker's reply so that each iteration starts with no request running.
  void AwaitReply() {
    auto event = queue.Take(std::chrono::seconds(30));
    if (!event) throw std::runtime_error("no reply");
    DeliverPostedJson(host, std::move(event->json));
  }
};

void BM_HandleWebMessage_AppInfo(benchmark::State& state) {
  Bench bench;
  const std::u16string json = Utf8ToWide(R"({"id":"a","method":"appInfo","args":[]})");
  for (auto _ : state) {
    testing::WebMessageView message(bench.host.startUrl, json);
    HandleWebMessage(bench.host, message);
  }
}
BENCHMARK(BM_HandleWebMessage_AppInfo);

void BM_HandleWebMessage_Screenshot16MiB(benchmark::State& state) {
  Bench bench;
  const std::u16string json = Utf8ToWide(ScreenshotMessage());
  std::size_t peak = 0;
  for (auto _ : state) {
    AllocationMeter::ResetPeak();
    testing::WebMessageView message(bench.host.startUrl, json);
    HandleWebMessage(bench.host, message);
    state.PauseTiming();
    peak = std::max(peak, AllocationMeter::PeakSinceReset());
    bench.AwaitReply();
    state.ResumeTiming();
  }
  state.counters["peak_MiB"] = static_cast<double>(peak) / (1024 * 1024);
  state.counters["message_MiB_utf16"] = static_cast<double>(json.size() * 2) / (1024 * 1024);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * json.size() * 2));
}
BENCHMARK(BM_HandleWebMessage_Screenshot16MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: the JSON library parsing the same message, already in UTF-8.
void BM_ParseOnly_Screenshot16MiB(benchmark::State& state) {
  const std::string utf8 = ScreenshotMessage();
  std::size_t peak = 0;
  for (auto _ : state) {
    AllocationMeter::ResetPeak();
    nlohmann::json parsed = nlohmann::json::parse(utf8);
    benchmark::DoNotOptimize(parsed);
    peak = std::max(peak, AllocationMeter::PeakSinceReset());
  }
  state.counters["peak_MiB"] = static_cast<double>(peak) / (1024 * 1024);
}
BENCHMARK(BM_ParseOnly_Screenshot16MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vardeko::bench

BENCHMARK_MAIN();
