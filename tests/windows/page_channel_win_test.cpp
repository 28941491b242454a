// The hand-over of reply texts to the UI thread through real Win32 window messages.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "base/utf.h"
#include "fakes/null_window_operations.h"
#include "fakes/stub_browser_view.h"
#include "platform/page_channel_win.h"
#include "platform/window_handle_win.h"
#include "shell/host.h"

namespace vardeko {
namespace {

// A message-only window whose procedure handles the private messages as the main
// window's does; it needs no display.
class MessageWindow {
 public:
  MessageWindow() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &MessageWindow::Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VardekoPageChannelTest";
    RegisterClassExW(&windowClass);
    hwnd_ = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            windowClass.hInstance, nullptr);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~MessageWindow() { Destroy(); }

  void Destroy() {
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
    hwnd_ = nullptr;
  }

  WindowHandle handle() const { return WindowHandle{reinterpret_cast<std::uintptr_t>(hwnd_)}; }
  bool created() const { return hwnd_ != nullptr; }

  // Dispatches messages until `count` private messages have been handled.
  void PumpUntil(std::size_t count) {
    MSG message;
    while (received.size() < count && GetMessageW(&message, nullptr, 0, 0) > 0) {
      DispatchMessageW(&message);
    }
  }

  Host* host = nullptr;
  std::vector<UINT> received;

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<MessageWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self != nullptr && message == WM_APP_POST_JSON) {
      self->received.push_back(message);
      while (PostedJson text = TakePostedJson(FromHwnd(hwnd))) {
        DeliverPostedJson(*self->host, std::move(text));
      }
      return 0;
    }
    if (self != nullptr && (message == WM_APP_CLOSE_CONFIRMED || message == WM_CLOSE)) {
      self->received.push_back(message);
      return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }

  HWND hwnd_ = nullptr;
};

TEST(Win32PageChannelTest, RepliesPostedFromWorkersReachThePageInOrder) {
  testing::NullWindowOperations operations;
  Host host(operations);
  std::vector<std::string> posted;
  host.webview = std::make_unique<testing::StubBrowserView>(
      [&posted](std::u16string_view json) { posted.push_back(WideToUtf8(json)); });
  MessageWindow window;
  ASSERT_TRUE(window.created());
  window.host = &host;

  std::thread worker([target = window.handle()] {
    for (int i = 0; i < 3; ++i) {
      const std::string reply = R"({"data":"截图)" + std::to_string(i) + R"(","id":"r","ok":true})";
      ASSERT_TRUE(PostJsonToWindow(target, PostedJson(new std::string(reply))));
    }
    ASSERT_TRUE(PostCloseConfirmed(target));
    ASSERT_TRUE(PostCloseAttempt(target));
  });
  worker.join();
  window.PumpUntil(5);

  EXPECT_EQ(window.received,
            (std::vector<UINT>{WM_APP_POST_JSON, WM_APP_POST_JSON, WM_APP_POST_JSON,
                               WM_APP_CLOSE_CONFIRMED, WM_CLOSE}));
  EXPECT_EQ(posted, (std::vector<std::string>{R"({"data":"截图0","id":"r","ok":true})",
                                              R"({"data":"截图1","id":"r","ok":true})",
                                              R"({"data":"截图2","id":"r","ok":true})"}));
}

// Any program can post the message value: its parameter is never read, and a window
// takes only the texts queued for it.
TEST(Win32PageChannelTest, AForeignWakeUpDeliversNothingOfItsOwn) {
  testing::NullWindowOperations operations;
  Host host(operations);
  Host otherHost(operations);
  std::vector<std::string> posted;
  std::vector<std::string> otherPosted;
  host.webview = std::make_unique<testing::StubBrowserView>(
      [&posted](std::u16string_view json) { posted.push_back(WideToUtf8(json)); });
  otherHost.webview = std::make_unique<testing::StubBrowserView>(
      [&otherPosted](std::u16string_view json) { otherPosted.push_back(WideToUtf8(json)); });
  MessageWindow window;
  MessageWindow other;
  ASSERT_TRUE(window.created() && other.created());
  window.host = &host;
  other.host = &otherHost;
  PostMessageW(ToHwnd(window.handle()), WM_APP_POST_JSON, 0, static_cast<LPARAM>(0x12345678));
  ASSERT_TRUE(PostJsonToWindow(other.handle(), PostedJson(new std::string(R"({"a":1})"))));
  PostMessageW(ToHwnd(window.handle()), WM_APP_POST_JSON, 0, 0);
  window.PumpUntil(2);
  other.PumpUntil(1);
  EXPECT_EQ(posted, std::vector<std::string>{});
  EXPECT_EQ(otherPosted, std::vector<std::string>{R"({"a":1})"});
}

TEST(Win32PageChannelTest, TextForAReleasedBrowserViewIsDroppedAndFreed) {
  testing::NullWindowOperations operations;
  Host host(operations);
  MessageWindow window;
  ASSERT_TRUE(window.created());
  window.host = &host;
  ASSERT_TRUE(PostJsonToWindow(window.handle(), PostedJson(new std::string("{}"))));
  window.PumpUntil(1);
  EXPECT_EQ(window.received.size(), 1u);
}

TEST(Win32PageChannelTest, PostToADestroyedWindowFails) {
  MessageWindow window;
  ASSERT_TRUE(window.created());
  const WindowHandle gone = window.handle();
  window.Destroy();
  EXPECT_FALSE(PostJsonToWindow(gone, PostedJson(new std::string("{}"))));
  EXPECT_FALSE(PostCloseConfirmed(gone));
  EXPECT_FALSE(PostCloseAttempt(gone));
}

TEST(Win32PageChannelTest, PostsWithoutAWindowFailAndLeaveNoThreadMessage) {
  // The Host's window is cleared once the window is destroyed; PostMessageW would take a
  // null window as the thread's own queue, where no window procedure frees the text.
  const WindowHandle none{};
  EXPECT_FALSE(PostJsonToWindow(none, PostedJson(new std::string("{}"))));
  EXPECT_FALSE(PostCloseConfirmed(none));
  EXPECT_FALSE(PostCloseAttempt(none));
  MSG message;
  EXPECT_FALSE(PeekMessageW(&message, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));
}

}  // namespace
}  // namespace vardeko
