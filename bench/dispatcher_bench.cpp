// HandleWebMessage on the UI thread: a built-in method, and a service message carrying a
// 16 MiB screenshot up to its hand-off to the worker, against parsing the same text alone.
// The screenshot's peak is the heap from the page text's arrival to the reply, through
// the real service client down to an engine that keeps nothing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "allocation_meter.h"
#include "base/utf.h"
#include "fakes/fake_browser.h"
#include "fakes/memory_session_platform.h"
#include "fakes/null_window_operations.h"
#include "fakes/stub_browser_view.h"
#include "platform/ui_event_queue_posix.h"
#include "service/api_bridge.h"
#include "service/http_engine.h"
#include "shell/dispatcher.h"
#include "shell/host.h"

namespace vardeko::bench {
namespace {

constexpr std::size_t kScreenshotChars = 16 * 1024 * 1024;

class NullService final : public ServiceClient {
  ServiceResult Call(std::string_view, nlohmann::json&) override { return nullptr; }
  std::string ApiUrl() const override { return "https://api.example.test/api"; }
  bool IsPersistent() const override { return true; }
};

// Answers every exchange at once with a small JSON body, sending from the caller's buffer
// as the real engines do: no copy of its own.
class AnsweringEngine final : public HttpEngine {
  class Request final : public HttpRequest {
   public:
    ~Request() override {
      if (sink_ != nullptr) sink_->OnNotification(kNotifyHandleClosing, 0);
    }
    std::uint32_t SetSink(HttpNotificationSink* sink) override {
      sink_ = sink;
      return 0;
    }
    std::uint32_t Send(std::u16string_view, std::string_view body) override {
      benchmark::DoNotOptimize(body.data());
      sink_->OnNotification(kNotifySendComplete, 0);
      return 0;
    }
    std::uint32_t PrepareResend(std::uint32_t error) override { return error; }
    std::uint32_t ReceiveResponse() override {
      sink_->OnNotification(kNotifyHeadersAvailable, 0);
      return 0;
    }
    std::uint32_t QueryStatus(std::uint32_t& status) override {
      status = 200;
      return 0;
    }
    std::optional<std::u16string> QueryContentType(std::size_t) override {
      return u"application/json";
    }
    std::optional<std::uint64_t> QueryContentLength() override { return kReply.size(); }
    std::uint32_t QueryDataAvailable() override {
      sink_->OnNotification(kNotifyDataAvailable,
                            static_cast<std::uint32_t>(kReply.size() - offset_));
      return 0;
    }
    std::uint32_t Read(unsigned char* buffer, std::uint32_t size) override {
      const std::size_t count = std::min<std::size_t>(size, kReply.size() - offset_);
      std::memcpy(buffer, kReply.data() + offset_, count);
      offset_ += count;
      sink_->OnNotification(kNotifyReadComplete, static_cast<std::uint32_t>(count));
      return 0;
    }

   private:
    HttpNotificationSink* sink_ = nullptr;
    std::size_t offset_ = 0;
  };

 public:
  static constexpr std::string_view kReply = R"({"token":"t","user":{"id":1}})";
  std::uint32_t Open(const HttpTarget&, std::unique_ptr<HttpRequest>& request) override {
    request = std::make_unique<Request>();
    return 0;
  }
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
  AnsweringEngine engine;
  testing::MemorySessionPlatform sessions;
  auto client =
      std::make_shared<ApiBridge>("https://api.example.test/api", "/data", sessions, engine);
  nlohmann::json login = nlohmann::json::parse(R"([{"email":"a@b.c","password":"p"}])");
  client->Call("login", login);
  bench.host.serviceClient = client;
  const std::u16string message = Utf8ToWide(ScreenshotMessage());
  std::size_t peak = 0;
  for (auto _ : state) {
    // The page text counts once, from its arrival until the handler returns (the runtime
    // frees it then); the worker's copies count until the reply is in.
    state.PauseTiming();
    AllocationMeter::ResetPeak();
    std::u16string json = message;
    state.ResumeTiming();
    {
      testing::WebMessageView view(bench.host.startUrl, json);
      HandleWebMessage(bench.host, view);
    }
    state.PauseTiming();
    json = std::u16string();
    bench.AwaitReply();
    peak = std::max(peak, AllocationMeter::PeakSinceReset());
    state.ResumeTiming();
  }
  state.counters["peak_MiB"] = static_cast<double>(peak) / (1024 * 1024);
  state.counters["message_MiB_utf16"] = static_cast<double>(message.size() * 2) / (1024 * 1024);
  state.counters["image_MiB"] = 12;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size() * 2));
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
