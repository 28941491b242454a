#pragma once

#include <compare>
#include <cstdint>
#include <memory>
#include <string>

#include "base/secure_wipe.h"

namespace vardeko {

// Private messages other code posts to the main window (WM_APP + n).
inline constexpr std::uint32_t WM_APP_POST_JSON = 0x8001;        // a text is waiting
inline constexpr std::uint32_t WM_APP_CLOSE_CONFIRMED = 0x8002;  // the page agreed to close
inline constexpr std::uint32_t kCloseAttemptMessage = 0x0010;    // WM_CLOSE, as the user's

// One serialised JSON message for the page, on its way to the UI thread. Its owner
// changes with the post; whoever holds it last frees it, wiped, since replies carry
// service data.
using PostedJson = std::unique_ptr<std::string, WipingDelete>;

// Address of the main window that any thread may post to. It is a value: posting to a
// window that no longer exists fails and does no harm. On Windows it holds the HWND; on
// Linux it names a UI event queue.
struct WindowHandle {
  std::uintptr_t value = 0;

  explicit operator bool() const { return value != 0; }
  friend auto operator<=>(const WindowHandle&, const WindowHandle&) = default;
};

// Hands the text to the window's UI thread and wakes it with WM_APP_POST_JSON; without a
// text, only wakes it. On success the UI thread owns the text; on failure it is freed
// here. Any thread.
bool PostJsonToWindow(WindowHandle window, PostedJson text) noexcept;

// Posts WM_APP_CLOSE_CONFIRMED. Any thread.
bool PostCloseConfirmed(WindowHandle window) noexcept;

// Posts a close attempt, as the user's click on close would (WM_CLOSE). Any thread.
bool PostCloseAttempt(WindowHandle window) noexcept;

}  // namespace vardeko
