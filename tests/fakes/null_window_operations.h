#pragma once

#include "platform/window_operations.h"

namespace vardeko::testing {

// A window that does nothing and reports a plain 96-DPI window, for code under test
// that needs a window but not its behaviour.
class NullWindowOperations final : public WindowOperations {
 public:
  void Minimize(WindowHandle) override {}
  void Maximize(WindowHandle) override {}
  void Restore(WindowHandle) override {}
  bool IsMaximized(WindowHandle) override { return false; }
  void StartSystemMove(WindowHandle) override {}
  void PostSystemMove(WindowHandle) override {}
  bool IsPrimaryButtonDown() override { return false; }
  void BlockSessionEnd(WindowHandle, std::u16string_view) override {}
  void AllowSessionEnd(WindowHandle) override {}
  unsigned Dpi(WindowHandle) override { return 96; }
  void SetSize(WindowHandle, int, int) override {}
  bool IsMinimized(WindowHandle) override { return false; }
  Bounds ClientBounds(WindowHandle) override { return {}; }
  void Destroy(WindowHandle) override {}
  void ShowError(WindowHandle, std::u16string_view) override {}
};

}  // namespace vardeko::testing
