#include <windows.h>

#include "platform/page_channel.h"
#include "platform/window_handle_win.h"

namespace vardeko {

bool PostJsonToWindow(WindowHandle window, PostedJson text) noexcept {
  const LPARAM owned = reinterpret_cast<LPARAM>(text.get());
  if (PostMessageW(ToHwnd(window), WM_APP_POST_JSON, 0, owned) == 0) return false;
  // The window procedure owns the text now.
  static_cast<void>(text.release());
  return true;
}

bool PostCloseConfirmed(WindowHandle window) noexcept {
  return PostMessageW(ToHwnd(window), WM_APP_CLOSE_CONFIRMED, 0, 0) != 0;
}

bool PostCloseAttempt(WindowHandle window) noexcept {
  return PostMessageW(ToHwnd(window), WM_CLOSE, 0, 0) != 0;
}

}  // namespace vardeko
