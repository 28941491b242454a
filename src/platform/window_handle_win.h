#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/page_channel.h"

namespace vardeko {

// The main window's address as Win32 sees it.
inline HWND ToHwnd(WindowHandle window) { return reinterpret_cast<HWND>(window.value); }
inline WindowHandle FromHwnd(HWND window) {
  return WindowHandle{reinterpret_cast<std::uintptr_t>(window)};
}

}  // namespace vardeko
