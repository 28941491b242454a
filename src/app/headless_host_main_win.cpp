// vardeko-bridge on Windows: a message-only window takes the replies the workers post;
// a reader thread posts the lines of standard input to it.
#include <windows.h>

#include <cstdio>
#include <iostream>

#include "app/headless_host.h"
#include "app/line_reader.h"
#include "base/detached_thread.h"
#include "platform/page_channel_win.h"
#include "platform/window_handle_win.h"

namespace {

HWND CreateMessageWindow() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"VardekoHeadlessHost";
  RegisterClassExW(&windowClass);
  return CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         windowClass.hInstance, nullptr);
}

}  // namespace

int main() {
  std::ios::sync_with_stdio(false);
  const HWND window = CreateMessageWindow();
  if (window == nullptr) {
    std::cerr << "vardeko-bridge: no message window\n";
    return 1;
  }
  const vardeko::WindowHandle handle = vardeko::FromHwnd(window);
  vardeko::LineGate lineHandled;
  vardeko::HeadlessHost host(std::cout, std::cerr, [&lineHandled] { lineHandled.Release(); });
  if (!host.Configure(vardeko::SystemLaunchPlatform(), handle)) return 1;

  vardeko::StartDetachedThread([window, &lineHandled] {
    vardeko::LineReader input(
        [stdIn = GetStdHandle(STD_INPUT_HANDLE)](char* data, std::size_t size) {
          DWORD read = 0;
          return ReadFile(stdIn, data, static_cast<DWORD>(size), &read, nullptr) ? std::size_t{read}
                                                                                 : 0;
        });
    while (vardeko::PostedJson text = input.Next()) {
      if (!PostMessageW(window, vardeko::kHeadlessInputLine, 0,
                        reinterpret_cast<LPARAM>(text.get()))) {
        break;
      }
      static_cast<void>(text.release());
      lineHandled.Acquire();
    }
    PostMessageW(window, vardeko::kHeadlessEndOfInput, 0, 0);
  });

  const int code =
      host.Run([](int timeoutMs) -> std::optional<std::pair<std::uint32_t, vardeko::PostedJson>> {
        MSG message;
        if (timeoutMs >= 0 && !PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) {
          MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeoutMs),
                                    QS_ALLPOSTMESSAGE);
        }
        if (timeoutMs >= 0 ? !PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)
                           : GetMessageW(&message, nullptr, 0, 0) <= 0) {
          return std::nullopt;
        }
        vardeko::PostedJson payload;
        if (message.message == vardeko::WM_APP_POST_JSON) {
          payload = vardeko::TakePostedJson(vardeko::FromHwnd(message.hwnd));
        } else if (message.message == vardeko::kHeadlessInputLine) {
          payload.reset(reinterpret_cast<std::string*>(message.lParam));
        }
        return std::make_pair(static_cast<std::uint32_t>(message.message), std::move(payload));
      });
  std::cout.flush();
  ExitProcess(static_cast<UINT>(code));
}
