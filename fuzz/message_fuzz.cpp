// Whole page messages through the dispatcher, a request worker and the method table of
// the real service client, down to a scripted engine. Nothing the page sends may take
// the process down; every service request is answered once, with JSON.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "base/utf.h"
#include "fakes/fake_browser.h"
#include "fakes/fake_http_engine.h"
#include "fakes/memory_session_platform.h"
#include "fakes/null_window_operations.h"
#include "fakes/stub_browser_view.h"
#include "platform/ui_event_queue_posix.h"
#include "service/api_bridge.h"
#include "shell/dispatcher.h"
#include "shell/host.h"

namespace {

using namespace vardeko;

// Counts the calls that reach the service client, so the harness knows a worker ran.
class CountingClient final : public ServiceClient {
 public:
  explicit CountingClient(std::shared_ptr<ServiceClient> real) : real_(std::move(real)) {}
  ServiceResult Call(std::string_view method, nlohmann::json& args) override {
    calls.fetch_add(1);
    return real_->Call(method, args);
  }
  std::string ApiUrl() const override { return real_->ApiUrl(); }
  bool IsPersistent() const override { return real_->IsPersistent(); }

  std::atomic<int> calls{0};

 private:
  std::shared_ptr<ServiceClient> real_;
};

// Every text reaching the page must be one JSON value.
void CheckPageText(std::u16string_view text) {
  std::string utf8;
  if (!utf::Utf16ToUtf8(text, utf8) || !nlohmann::json::accept(utf8)) std::abort();
}

struct Harness {
  testing::NullWindowOperations window;
  UiEventQueue queue;
  Host host{window};
  testing::FakeHttpEngine engine;
  testing::MemorySessionPlatform sessions;
  CountingClient* client = nullptr;  // owned by the host

  Harness() {
    engine.reply.body = R"({"token":"t0k-fuzz","user":{"id":1},"items":[{"id":"a"}]})";
    auto counting = std::make_shared<CountingClient>(std::make_shared<ApiBridge>(
        "https://api.example.test/api", "/fuzz-data", sessions, engine));
    client = counting.get();
    host.window = queue.window();
    host.debugEnabled = true;
    host.webview = std::make_unique<testing::StubBrowserView>(&CheckPageText);
    host.serviceClient = std::move(counting);
  }

  void Deliver(UiEventQueue::Event event) {
    if (event.message == WM_APP_POST_JSON) DeliverPostedJson(host, std::move(event.json));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness h;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::u16string text;
  if (!utf::Utf8ToUtf16(bytes, text)) {
    // Not UTF-8: the bytes as UTF-16 code units, unpaired surrogates and all.
    text.resize(size / 2);
    std::memcpy(text.data(), data, text.size() * 2);
  }
  const int callsBefore = h.client->calls.load();
  testing::WebMessageView message(h.host.startUrl, text);
  HandleWebMessage(h.host, message);
  // The worker leaves its slot only after its call, so either the slot is still taken or
  // the call has been counted: then exactly one reply is on its way.
  if (h.host.inFlight->load() > 0 || h.client->calls.load() != callsBefore) {
    for (;;) {
      std::optional<UiEventQueue::Event> event = h.queue.Take(std::chrono::seconds(60));
      if (!event) std::abort();  // a service request left without a reply
      const bool reply = event->message == WM_APP_POST_JSON;
      h.Deliver(std::move(*event));
      if (reply) break;
    }
    // The worker ends once its job is gone, the job's share of the client with it: it
    // must not still run when the next input, or the end of the run, comes.
    while (h.host.serviceClient.use_count() > 1) std::this_thread::yield();
  }
  while (std::optional<UiEventQueue::Event> event = h.queue.Take(std::chrono::milliseconds(0))) {
    h.Deliver(std::move(*event));
  }
  h.host.closing = false;
  std::lock_guard lock(h.engine.mutex);
  h.engine.seen.clear();
  return 0;
}
