// Process entry and the main window procedure of the Windows program.
#include <windows.h>

#include <dwmapi.h>
#include <objbase.h>
#include <windowsx.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/dpi_scaling.h"
#include "base/scope_exit.h"
#include "base/unique_handle_win.h"
#include "base/wide_win.h"
#include "platform/webview2_win.h"
#include "platform/window_handle_win.h"
#include "platform/window_operations_win.h"
#include "service/api_bridge.h"
#include "shell/host.h"
#include "shell/launch_config.h"
#include "shell/main_window.h"

namespace vardeko {
namespace {

constexpr wchar_t kWindowClass[] = L"VardekoWebView2";
constexpr wchar_t kWindowTitle[] = L"Vardeko \u00B7 Bokvara";
constexpr DWORD kWindowStyle =
    WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
static_assert(kWindowStyle == 0x820F0000);
constexpr COLORREF kBackground =
    RGB(kBackgroundColor.red, kBackgroundColor.green, kBackgroundColor.blue);
// Debian's MinGW headers predate the corner preference attribute.
constexpr DWORD kDwmWindowCornerPreference = 33;
constexpr DWORD kDwmCornerRound = 2;
constexpr wchar_t kStartupFailureText[] = L"Vardeko 未能启动，请检查安装文件和后端地址后重试。";

Host* HostOf(HWND window) {
  return reinterpret_cast<Host*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

Bounds ToBounds(const RECT& rect) { return Bounds{rect.left, rect.top, rect.right, rect.bottom}; }

LRESULT HitTest(HWND window, WPARAM wParam, LPARAM lParam) {
  RECT rect{};
  GetWindowRect(window, &rect);
  const std::optional<HitZone> zone =
      HitTestResizeBorder(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), ToBounds(rect),
                          GetDpiForWindow(window), IsZoomed(window) != 0);
  return zone ? static_cast<LRESULT>(*zone) : DefWindowProcW(window, WM_NCHITTEST, wParam, lParam);
}

void ApplySizeLimits(HWND window, MINMAXINFO& info) {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  const bool known =
      GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor) != 0;
  const SizeLimits limits = ComputeSizeLimits(
      GetDpiForWindow(window), known ? std::optional(ToBounds(monitor.rcMonitor)) : std::nullopt,
      known ? std::optional(ToBounds(monitor.rcWork)) : std::nullopt);
  info.ptMinTrackSize = POINT{limits.minTrack.width, limits.minTrack.height};
  if (limits.maximized) {
    info.ptMaxPosition = POINT{limits.maximized->x, limits.maximized->y};
    info.ptMaxSize = POINT{limits.maximized->size.width, limits.maximized->size.height};
  }
}

LRESULT HandleMessage(Host& host, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCALCSIZE:
      return 0;  // no non-client area: the client area is the whole window
    case WM_NCHITTEST:
      return HitTest(window, wParam, lParam);
    case WM_GETMINMAXINFO:
      ApplySizeLimits(window, *reinterpret_cast<MINMAXINFO*>(lParam));
      return 0;
    case WM_SIZE:
      HandleSize(host, wParam == SIZE_MINIMIZED);
      return 0;
    case WM_MOVE:
      HandleMove(host);
      return 0;
    case WM_ACTIVATE: {
      // The default handling focuses the window itself; the browser takes it over after.
      const LRESULT result = DefWindowProcW(window, message, wParam, lParam);
      HandleActivate(host, LOWORD(wParam) != WA_INACTIVE, HIWORD(wParam) != 0);
      return result;
    }
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_CLOSE:
      HandleCloseAttempt(host);
      return 0;
    case WM_DESTROY:
      HandleDestroy(host);
      PostQuitMessage(0);
      return 0;
    case WM_APP_POST_JSON:
      DeliverPostedJson(host, PostedJson(reinterpret_cast<std::string*>(lParam)));
      return 0;
    case WM_APP_CLOSE_CONFIRMED:
      HandleCloseConfirmed(host);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* host = static_cast<Host*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    host->window = FromHwnd(window);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(host));
    return DefWindowProcW(window, message, wParam, lParam);
  }
  Host* host = HostOf(window);
  if (host == nullptr) {
    // Owned text must not leak even without a Host.
    if (message == WM_APP_POST_JSON) PostedJson(reinterpret_cast<std::string*>(lParam)).reset();
    return DefWindowProcW(window, message, wParam, lParam);
  }
  // No exception may leave a window procedure.
  try {
    return HandleMessage(*host, window, message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

void BringFirstInstanceToFront() {
  const HWND first = FindWindowW(kWindowClass, nullptr);
  if (first == nullptr) return;
  ShowWindow(first, IsIconic(first) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(first);
}

std::u16string_view NativeText(const std::filesystem::path& path) {
  const std::wstring& native = path.native();
  return std::u16string_view(AsUtf16(native.c_str()), native.size());
}

// Takes the data directory's single-instance mutex into `mutex`; false when another
// instance holds it. Without a mutex at all the program runs unguarded.
bool TakeSingleInstance(LaunchPlatform& platform, UniqueHandle& mutex) {
  const std::u16string key = SingleInstanceMutexName(NativeText(ResolveDataDirectory(platform)));
  mutex.reset(CreateMutexW(nullptr, FALSE, AsWide(key)));
  return !(mutex && GetLastError() == ERROR_ALREADY_EXISTS);
}

// The class's background brush goes into `background`: it must outlive the window.
void RegisterMainWindowClass(HINSTANCE instance, UniqueBrush& background) {
  background.reset(CreateSolidBrush(kBackground));
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  windowClass.hIconSm = windowClass.hIcon;
  windowClass.hbrBackground = background.get();
  windowClass.lpszClassName = kWindowClass;
  if (RegisterClassExW(&windowClass) == 0) throw std::runtime_error("WebView2 operation failed");
}

// The work area of the monitor under the pointer: where the user started the program.
Bounds WorkAreaUnderPointer() {
  POINT pointer{};
  GetCursorPos(&pointer);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (GetMonitorInfoW(MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY), &monitor) != 0) {
    return ToBounds(monitor.rcWork);
  }
  RECT primary{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &primary, 0);
  return ToBounds(primary);
}

HWND CreateMainWindow(HINSTANCE instance, Host& host) {
  const UINT dpi = GetDpiForSystem();
  const Bounds placed = PlaceFirstWindow(
      WorkAreaUnderPointer(), Size{ScaleForDpi(kWindowWidth, dpi), ScaleForDpi(kWindowHeight, dpi)},
      Size{ScaleForDpi(kMinWindowWidth, dpi), ScaleForDpi(kMinWindowHeight, dpi)});
  const HWND window = CreateWindowExW(
      0, kWindowClass, kWindowTitle, kWindowStyle, placed.left, placed.top,
      placed.right - placed.left, placed.bottom - placed.top, nullptr, nullptr, instance, &host);
  if (window == nullptr) throw std::runtime_error("window creation");
  DwmSetWindowAttribute(window, kDwmWindowCornerPreference, &kDwmCornerRound,
                        sizeof kDwmCornerRound);
  return window;
}

void RunMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

int Run(HINSTANCE instance, int showCommand) {
  UniqueHandle mutex;
  UniqueBrush background;
  Win32WindowOperations windowOperations;
  std::unique_ptr<BrowserRuntime> runtime;  // outlives the Host and its browser objects
  std::optional<Host> host;
  HWND window = nullptr;
  try {
    LaunchPlatform& platform = SystemLaunchPlatform();
    if (!TakeSingleInstance(platform, mutex)) {
      BringFirstInstanceToFront();
      return 0;
    }
    RegisterMainWindowClass(instance, background);
    host.emplace(windowOperations);
    window = CreateMainWindow(instance, *host);
    ShowWindow(window, showCommand);
    UpdateWindow(window);  // the background colour shows before the browser exists

    runtime = CreateWebView2Runtime(ExecutableDirectory(platform) / L"WebView2Loader.dll");
    const LaunchConfig config = ResolveLaunchConfig(platform, PageSource::kRendererFolder);
    host->Start(config, std::make_shared<ApiBridge>(config.serviceBaseUrl, config.dataDirectory),
                *runtime);
    RunMessageLoop();
    return 0;
  } catch (...) {
    MessageBoxW(nullptr, kStartupFailureText, L"Vardeko", MB_ICONERROR);
    // The window goes before the Host it points to.
    if (window != nullptr && IsWindow(window)) DestroyWindow(window);
    return 1;
  }
}

}  // namespace
}  // namespace vardeko

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  const vardeko::ScopeExit uninitialize([] { CoUninitialize(); });
  return vardeko::Run(instance, showCommand);
}
