#include <windows.h>

#include "platform/window_operations_win.h"

#include <string>

#include "base/wide_win.h"
#include "platform/display_win.h"
#include "platform/window_handle_win.h"

namespace vardeko {

// Results of ShowWindow, SetWindowPos and ReleaseCapture are not checked: the page has
// no use for them and the window stays as it was.
void Win32WindowOperations::Minimize(WindowHandle window) {
  ShowWindow(ToHwnd(window), SW_MINIMIZE);
}

void Win32WindowOperations::Maximize(WindowHandle window) {
  ShowWindow(ToHwnd(window), SW_MAXIMIZE);
}

void Win32WindowOperations::Restore(WindowHandle window) { ShowWindow(ToHwnd(window), SW_RESTORE); }

bool Win32WindowOperations::IsMaximized(WindowHandle window) {
  return IsZoomed(ToHwnd(window)) != 0;
}

void Win32WindowOperations::StartSystemMove(WindowHandle window) {
  ReleaseCapture();
  SendMessageW(ToHwnd(window), WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void Win32WindowOperations::PostSystemMove(WindowHandle window) {
  PostMessageW(ToHwnd(window), kStartMoveMessage, 0, 0);
}

bool Win32WindowOperations::IsPrimaryButtonDown() {
  // The key state names physical buttons; the primary one is the right when swapped.
  const int button = GetSystemMetrics(SM_SWAPBUTTON) != 0 ? VK_RBUTTON : VK_LBUTTON;
  return (GetAsyncKeyState(button) & 0x8000) != 0;
}

// Results not checked: without the reason the system shows its own text, and a removal
// with none set has nothing to do.
void Win32WindowOperations::BlockSessionEnd(WindowHandle window, std::u16string_view reason) {
  const std::u16string terminated(reason);
  ShutdownBlockReasonCreate(ToHwnd(window), AsWide(terminated));
}

void Win32WindowOperations::AllowSessionEnd(WindowHandle window) {
  ShutdownBlockReasonDestroy(ToHwnd(window));
}

unsigned Win32WindowOperations::Dpi(WindowHandle window) { return WindowDpi(ToHwnd(window)); }

void Win32WindowOperations::SetSize(WindowHandle window, int width, int height) {
  SetWindowPos(ToHwnd(window), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
}

bool Win32WindowOperations::IsMinimized(WindowHandle window) {
  return IsIconic(ToHwnd(window)) != 0;
}

Bounds Win32WindowOperations::ClientBounds(WindowHandle window) {
  RECT client{};
  GetClientRect(ToHwnd(window), &client);
  return Bounds{client.left, client.top, client.right, client.bottom};
}

void Win32WindowOperations::Destroy(WindowHandle window) { DestroyWindow(ToHwnd(window)); }

void Win32WindowOperations::ShowError(WindowHandle window, std::u16string_view text) {
  const std::u16string terminated(text);
  MessageBoxW(ToHwnd(window), AsWide(terminated), L"Vardeko", MB_ICONERROR);
}

}  // namespace vardeko
