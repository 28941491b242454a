#include <mutex>
#include <unordered_map>
#include <utility>

#include "platform/page_channel.h"
#include "platform/ui_event_queue_posix.h"

namespace vardeko {
namespace {

// Live queues by handle value. A post looks its queue up and pushes while holding the
// registry lock, so a queue can never be destroyed under a posting thread.
struct Registry {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, UiEventQueue*> queues;
  std::uintptr_t lastHandle = 0;  // handles are never reused
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

bool Post(WindowHandle window, UiEventQueue::Event event) noexcept {
  Registry& registry = TheRegistry();
  try {
    std::lock_guard lock(registry.mutex);
    const auto found = registry.queues.find(window.value);
    if (found == registry.queues.end()) return false;
    found->second->Push(std::move(event));
    return true;
  } catch (...) {
    return false;  // out of memory, as a full Win32 queue: the post fails
  }
}

}  // namespace

UiEventQueue::UiEventQueue() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  window_ = WindowHandle{++registry.lastHandle};
  registry.queues.emplace(window_.value, this);
}

UiEventQueue::~UiEventQueue() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.queues.erase(window_.value);
}

void UiEventQueue::Push(Event event) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  ready_.notify_one();
  if (wakeUp_) wakeUp_();
}

std::optional<UiEventQueue::Event> UiEventQueue::Take(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!ready_.wait_for(lock, timeout, [this] { return !events_.empty(); })) return std::nullopt;
  Event event = std::move(events_.front());
  events_.pop_front();
  return event;
}

UiEventQueue::Event UiEventQueue::Take() {
  std::unique_lock lock(mutex_);
  ready_.wait(lock, [this] { return !events_.empty(); });
  Event event = std::move(events_.front());
  events_.pop_front();
  return event;
}

bool PostJsonToWindow(WindowHandle window, PostedJson text) noexcept {
  return Post(window, {WM_APP_POST_JSON, std::move(text)});
}

bool PostCloseConfirmed(WindowHandle window) noexcept {
  return Post(window, {WM_APP_CLOSE_CONFIRMED, nullptr});
}

bool PostCloseAttempt(WindowHandle window) noexcept {
  return Post(window, {UiEventQueue::kCloseAttempt, nullptr});
}

}  // namespace vardeko
