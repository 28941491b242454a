#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string_view>

#include "platform/window_operations.h"

namespace vardeko {

// The window operations on one GTK main window, in logical pixels: Dpi is always 96,
// since GTK applies the display's scale itself. The end of the session is held up with
// the application's logout inhibition. Main loop only.
class GtkWindowOperations final : public WindowOperations {
 public:
  explicit GtkWindowOperations(GtkApplication* application) : application_(application) {}
  ~GtkWindowOperations() override;
  GtkWindowOperations(const GtkWindowOperations&) = delete;
  GtkWindowOperations& operator=(const GtkWindowOperations&) = delete;

  // The window the operations act on; nullptr once it is destroyed.
  void SetWindow(GtkWindow* window) { window_ = window; }
  // What PostSystemMove runs from the main loop (HandleStartMove of the shell).
  void SetStartMove(std::function<void()> startMove) { startMove_ = std::move(startMove); }

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

 private:
  static gboolean RunStartMove(gpointer self);

  GtkApplication* application_;
  GtkWindow* window_ = nullptr;
  std::function<void()> startMove_;
  guint inhibitCookie_ = 0;
  guint startMoveSource_ = 0;
};

}  // namespace vardeko
