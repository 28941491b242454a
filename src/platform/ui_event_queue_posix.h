#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/page_channel.h"

namespace vardeko {

// The UI thread's event queue on Linux, standing where the Win32 message queue of the
// main window stands on Windows: messages posted to its WindowHandle land here, from
// any thread. Destroying the queue unregisters its handle, so later posts fail, and
// frees the texts still queued.
class UiEventQueue {
 public:
  // A close attempt, as WM_CLOSE on Windows.
  static constexpr std::uint32_t kCloseAttempt = kCloseAttemptMessage;

  struct Event {
    std::uint32_t message = 0;
    PostedJson json;  // set for WM_APP_POST_JSON only
  };

  UiEventQueue();
  ~UiEventQueue();
  UiEventQueue(const UiEventQueue&) = delete;
  UiEventQueue& operator=(const UiEventQueue&) = delete;

  WindowHandle window() const { return window_; }

  // Takes the oldest event, waiting for one until the time-out passes.
  std::optional<Event> Take(std::chrono::milliseconds timeout);
  // Takes the oldest event, waiting as long as it takes.
  Event Take();

  // Called through the registry by the posting functions.
  void Push(Event event);

  // Called after every push, on the posting thread, without the queue's lock: a main
  // loop that waits elsewhere (GLib's) is woken to take the events. The posting
  // functions' registry lock is held, so it must not post. Set before any thread posts;
  // must not throw.
  void SetWakeUp(std::function<void()> wakeUp) { wakeUp_ = std::move(wakeUp); }

 private:
  WindowHandle window_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Event> events_;
  std::function<void()> wakeUp_;
};

}  // namespace vardeko
