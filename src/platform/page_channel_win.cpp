#include <windows.h>

#include "platform/page_channel.h"
#include "platform/window_handle_win.h"

namespace vardeko {

// A null window is refused: PostMessageW would take it as a thread message, which no
// window procedure sees, and an owned text would be lost.

bool PostJsonToWindow(WindowHandle window, PostedJson text) noexcept {
  if (!window) return false;
  const LPARAM owned = reinterpret_cast<LPARAM>(text.get());
  if (PostMessageW(ToHwnd(window), WM_APP_POST_JSON, 0, owned) == 0) return false;
  // The window procedure owns the text now.
  static_cast<void>(text.release());
  return true;
}

bool PostCloseConfirmed(WindowHandle window) noexcept {
  return window && PostMessageW(ToHwnd(window), WM_APP_CLOSE_CONFIRMED, 0, 0) != 0;
}

bool PostCloseAttempt(WindowHandle window) noexcept {
  return window && PostMessageW(ToHwnd(window), WM_CLOSE, 0, 0) != 0;
}

}  // namespace vardeko
