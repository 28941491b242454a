#include "platform/page_channel_win.h"

#include <windows.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <utility>

#include "platform/window_handle_win.h"

namespace vardeko {
namespace {

struct Posted {
  WindowHandle window;
  PostedJson text;
};

// Texts on their way to a window's UI thread. The lock is never held across a call
// into the system.
struct PostedQueue {
  std::mutex lock;
  std::deque<Posted> entries;
};

// Never destroyed: a request worker may still post while the process ends, after static
// destructors have run.
PostedQueue& Queue() {
  static union Storage {
    Storage() : queue() {}
    ~Storage() {}
    PostedQueue queue;
  } storage;
  return storage.queue;
}

}  // namespace

// A null window is refused: PostMessageW would take it as a thread message, which no
// window procedure sees.

bool PostJsonToWindow(WindowHandle window, PostedJson text) noexcept {
  if (!window) return false;
  // No text: a wake-up alone.
  if (!text) return PostMessageW(ToHwnd(window), WM_APP_POST_JSON, 0, 0) != 0;
  const std::string* const posted = text.get();
  PostedQueue& queue = Queue();
  try {
    const std::lock_guard<std::mutex> guard(queue.lock);
    queue.entries.push_back(Posted{window, std::move(text)});
  } catch (...) {
    return false;  // the text goes, wiped, with the unwinding
  }
  if (PostMessageW(ToHwnd(window), WM_APP_POST_JSON, 0, 0) != 0) return true;
  // No window to wake: the text is taken back (it may not be the last one by now).
  PostedJson taken;
  {
    const std::lock_guard<std::mutex> guard(queue.lock);
    const auto found =
        std::find_if(queue.entries.begin(), queue.entries.end(),
                     [posted](const Posted& entry) { return entry.text.get() == posted; });
    if (found != queue.entries.end()) {
      taken = std::move(found->text);
      queue.entries.erase(found);
    }
  }
  return false;
}

PostedJson TakePostedJson(WindowHandle window) noexcept {
  PostedQueue& queue = Queue();
  const std::lock_guard<std::mutex> guard(queue.lock);
  const auto found = std::find_if(queue.entries.begin(), queue.entries.end(),
                                  [window](const Posted& entry) { return entry.window == window; });
  if (found == queue.entries.end()) return {};
  PostedJson text = std::move(found->text);
  queue.entries.erase(found);
  return text;
}

bool PostCloseConfirmed(WindowHandle window) noexcept {
  return window && PostMessageW(ToHwnd(window), WM_APP_CLOSE_CONFIRMED, 0, 0) != 0;
}

bool PostCloseAttempt(WindowHandle window) noexcept {
  return window && PostMessageW(ToHwnd(window), WM_CLOSE, 0, 0) != 0;
}

}  // namespace vardeko
