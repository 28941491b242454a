#include "platform/window_operations_gtk_linux.h"

#include <string>

#include "base/utf.h"

namespace vardeko {
namespace {

GdkDevice* Pointer(GtkWindow* window) {
  GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(GTK_WIDGET(window)));
  return seat != nullptr ? gdk_seat_get_pointer(seat) : nullptr;
}

std::string Utf8(std::u16string_view text) {
  std::string converted;
  return utf::Utf16ToUtf8(text, converted) ? converted : std::string();
}

}  // namespace

GtkWindowOperations::~GtkWindowOperations() {
  if (startMoveSource_ != 0) g_source_remove(startMoveSource_);
}

void GtkWindowOperations::Minimize(WindowHandle) {
  if (window_) gtk_window_iconify(window_);
}

void GtkWindowOperations::Maximize(WindowHandle) {
  if (window_) gtk_window_maximize(window_);
}

void GtkWindowOperations::Restore(WindowHandle) {
  if (!window_) return;
  gtk_window_deiconify(window_);
  gtk_window_unmaximize(window_);
}

bool GtkWindowOperations::IsMaximized(WindowHandle) {
  return window_ && gtk_window_is_maximized(window_);
}

// The window manager moves the window while the button stays down; GTK returns at once.
void GtkWindowOperations::StartSystemMove(WindowHandle) {
  if (!window_) return;
  GdkDevice* pointer = Pointer(window_);
  if (pointer == nullptr) return;
  int x = 0;
  int y = 0;
  gdk_device_get_position(pointer, nullptr, &x, &y);
  gtk_window_begin_move_drag(window_, GDK_BUTTON_PRIMARY, x, y, GDK_CURRENT_TIME);
}

void GtkWindowOperations::PostSystemMove(WindowHandle) {
  if (startMoveSource_ == 0) startMoveSource_ = g_idle_add(&RunStartMove, this);
}

gboolean GtkWindowOperations::RunStartMove(gpointer self) {
  auto& operations = *static_cast<GtkWindowOperations*>(self);
  operations.startMoveSource_ = 0;
  try {
    if (operations.startMove_) operations.startMove_();
  } catch (...) {
    // A move that cannot start leaves the window where it is.
  }
  return G_SOURCE_REMOVE;
}

bool GtkWindowOperations::IsPrimaryButtonDown() {
  if (!window_) return false;
  GdkDevice* pointer = Pointer(window_);
  GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(window_));
  if (pointer == nullptr || surface == nullptr) return false;
  GdkModifierType state{};
  gdk_window_get_device_position(surface, pointer, nullptr, nullptr, &state);
  return (state & GDK_BUTTON1_MASK) != 0;
}

void GtkWindowOperations::BlockSessionEnd(WindowHandle, std::u16string_view reason) {
  if (inhibitCookie_ != 0 || !window_) return;
  const std::string text = Utf8(reason);
  inhibitCookie_ =
      gtk_application_inhibit(application_, window_, GTK_APPLICATION_INHIBIT_LOGOUT, text.c_str());
}

void GtkWindowOperations::AllowSessionEnd(WindowHandle) {
  if (inhibitCookie_ == 0) return;
  gtk_application_uninhibit(application_, inhibitCookie_);
  inhibitCookie_ = 0;
}

unsigned GtkWindowOperations::Dpi(WindowHandle) { return 96; }

void GtkWindowOperations::SetSize(WindowHandle, int width, int height) {
  if (window_) gtk_window_resize(window_, width, height);
}

bool GtkWindowOperations::IsMinimized(WindowHandle) {
  GdkWindow* surface = window_ ? gtk_widget_get_window(GTK_WIDGET(window_)) : nullptr;
  return surface != nullptr && (gdk_window_get_state(surface) & GDK_WINDOW_STATE_ICONIFIED) != 0;
}

Bounds GtkWindowOperations::ClientBounds(WindowHandle) {
  if (!window_) return {};
  return Bounds{0, 0, gtk_widget_get_allocated_width(GTK_WIDGET(window_)),
                gtk_widget_get_allocated_height(GTK_WIDGET(window_))};
}

void GtkWindowOperations::Destroy(WindowHandle) {
  if (window_) gtk_widget_destroy(GTK_WIDGET(window_));
}

void GtkWindowOperations::ShowError(WindowHandle, std::u16string_view text) {
  const std::string message = Utf8(text);
  GtkWidget* dialog = gtk_message_dialog_new(window_, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                             GTK_BUTTONS_OK, "%s", message.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), "Vardeko");
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
}

}  // namespace vardeko
