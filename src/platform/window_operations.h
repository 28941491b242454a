#pragma once

#include <string_view>

#include "platform/browser.h"
#include "platform/page_channel.h"

namespace vardeko {

// The operations the shell performs on the main window: those the page asks for through
// the built-in bridge methods, and those of the window's own life (Win32 on Windows; a
// console or GTK window elsewhere). UI thread only.
class WindowOperations {
 public:
  virtual ~WindowOperations() = default;

  virtual void Minimize(WindowHandle window) = 0;
  virtual void Maximize(WindowHandle window) = 0;
  virtual void Restore(WindowHandle window) = 0;
  virtual bool IsMaximized(WindowHandle window) = 0;

  // Starts the system's move loop as if the caption had been pressed; returns only when
  // the move ends.
  virtual void StartSystemMove(WindowHandle window) = 0;

  // Asks the window to start the move loop once the current handler has returned: the
  // browser's event handlers may not run a nested message loop. The window then calls
  // HandleStartMove.
  virtual void PostSystemMove(WindowHandle window) = 0;

  // Whether the primary (usually left) mouse button is down now.
  virtual bool IsPrimaryButtonDown() = 0;

  // The reason the system shows while this window holds up the end of the session, and
  // its removal (nothing when none is set).
  virtual void BlockSessionEnd(WindowHandle window, std::u16string_view reason) = 0;
  virtual void AllowSessionEnd(WindowHandle window) = 0;

  virtual unsigned Dpi(WindowHandle window) = 0;

  // Sets the outer size in physical pixels, keeping position and z-order.
  virtual void SetSize(WindowHandle window, int width, int height) = 0;

  virtual bool IsMinimized(WindowHandle window) = 0;
  virtual Bounds ClientBounds(WindowHandle window) = 0;
  virtual void Destroy(WindowHandle window) = 0;

  // A modal error message owned by the window; returns when the user dismisses it.
  virtual void ShowError(WindowHandle window, std::u16string_view text) = 0;
};

}  // namespace vardeko
