#pragma once

#include "platform/window_operations.h"

namespace vardeko {

// Posted by PostSystemMove; the window procedure answers it with HandleStartMove.
inline constexpr unsigned kStartMoveMessage = 0x8003;

// The main window's operations through Win32.
class Win32WindowOperations final : public WindowOperations {
 public:
  void Minimize(WindowHandle window) override;
  void Maximize(WindowHandle window) override;
  void Restore(WindowHandle window) override;
  bool IsMaximized(WindowHandle window) override;
  void StartSystemMove(WindowHandle window) override;
  void PostSystemMove(WindowHandle window) override;
  bool IsPrimaryButtonDown() override;
  void BlockSessionEnd(WindowHandle window, std::u16string_view reason) override;
  void AllowSessionEnd(WindowHandle window) override;
  unsigned Dpi(WindowHandle window) override;
  void SetSize(WindowHandle window, int width, int height) override;
  bool IsMinimized(WindowHandle window) override;
  Bounds ClientBounds(WindowHandle window) override;
  void Destroy(WindowHandle window) override;
  void ShowError(WindowHandle window, std::u16string_view text) override;
};

}  // namespace vardeko
