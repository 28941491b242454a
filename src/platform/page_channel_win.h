#pragma once

#include "platform/page_channel.h"

namespace vardeko {

// The next text posted to the window, oldest first; empty when none is waiting. The
// window procedure takes them on WM_APP_POST_JSON, which only wakes it: any program on
// the desktop can post that message value, so its parameters are never read. UI thread.
PostedJson TakePostedJson(WindowHandle window) noexcept;

}  // namespace vardeko
