#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/utf.h"
#include "fakes/event_log.h"
#include "fakes/fake_browser.h"
#include "fakes/fake_browser_runtime.h"
#include "fakes/fake_service_client.h"
#include "fakes/fake_window_operations.h"
#include "platform/ui_event_queue_posix.h"
#include "shell/dispatcher.h"
#include "shell/host.h"

namespace vardeko::testing {

// A Host wired to fakes on the Linux UI event queue, as the page and the UI thread see it.
class DispatcherHarness {
 public:
  DispatcherHarness() : host(window) {
    host.window = queue.window();
    host.webview = std::make_unique<RecordingView>(browser);
    host.serviceClient = service;
  }

  // The page at the start URL posts `json`.
  void Post(std::string_view json) { PostFrom(host.startUrl, Utf8ToWide(json)); }

  void PostFrom(std::optional<std::u16string> source, std::optional<std::u16string> json) {
    FakeWebMessage message(std::move(source), std::move(json));
    HandleWebMessage(host, message);
  }

  // Handles the UI thread's next queued event as the window procedure would, waiting for
  // it up to `timeout`. Returns the message number, or nullopt when none came.
  std::optional<std::uint32_t> Pump(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::optional<UiEventQueue::Event> event = queue.Take(timeout);
    if (!event) return std::nullopt;
    if (event->message == WM_APP_POST_JSON) DeliverPostedJson(host, std::move(event->json));
    return event->message;
  }

  // Lets every held service call finish and delivers the replies, returning once no
  // worker thread holds the service any more.
  void FinishWorkers() {
    service->Open();
    // The harness and the Host hold the service; every other holder is a worker's job.
    while (service.use_count() > 2) Pump(std::chrono::milliseconds(10));
    while (Pump(std::chrono::milliseconds(0))) {
    }
  }

  // Everything the fakes recorded since the last call, in order.
  std::vector<std::string> Log() { return log->Take(); }

  std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
  FakeWindowOperations window{log};
  RecordingBrowser browser{log};
  std::shared_ptr<FakeServiceClient> service = std::make_shared<FakeServiceClient>();
  UiEventQueue queue;
  Host host;
};

}  // namespace vardeko::testing
