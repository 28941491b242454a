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
#include <vector>

#include "base/scope_exit.h"
#include "base/unique_handle_win.h"
#include "base/wide_win.h"
#include "platform/display_win.h"
#include "platform/page_channel_win.h"
#include "platform/webview2_win.h"
#include "platform/window_handle_win.h"
#include "platform/window_operations_win.h"
#include "service/api_bridge.h"
#include "shell/host.h"
#include "shell/launch_config.h"
#include "shell/main_window.h"
#include "shell/window_placement.h"

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

// The main window's state outside the Host: the data directory its place is saved in,
// and the auto-hide taskbars, which the size messages read but must not ask the shell
// for. One main window per process; UI thread only.
struct WindowMemory {
  std::filesystem::path dataDirectory;
  AutoHideTaskbars taskbars;
  // The system's move or size loop runs: the shell is not asked meanwhile (its calls run
  // a message loop of their own inside the modal one), only after the loop ends.
  bool inSizeMove = false;
  bool refreshAfterSizeMove = false;
  // The taskbars changed while the window was not maximised: asked again once it is
  // (only a maximised window leaves their edges free), not at once.
  bool taskbarsStale = false;
};
WindowMemory g_memory;

// Taskbar settings and displays change in bursts of messages; the shell is asked once,
// after them, from the message loop rather than inside a message another program sent.
constexpr UINT_PTR kTaskbarRefreshTimer = 1;
constexpr UINT kTaskbarRefreshDelayMs = 200;

Host* HostOf(HWND window) {
  return reinterpret_cast<Host*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

Bounds ToBounds(const RECT& rect) { return Bounds{rect.left, rect.top, rect.right, rect.bottom}; }

LRESULT HitTest(HWND window, WPARAM wParam, LPARAM lParam) {
  RECT rect{};
  GetWindowRect(window, &rect);
  const std::optional<HitZone> zone =
      HitTestResizeBorder(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), ToBounds(rect),
                          WindowDpi(window), IsZoomed(window) != 0);
  return zone ? static_cast<LRESULT>(*zone) : DefWindowProcW(window, WM_NCHITTEST, wParam, lParam);
}

void ApplySizeLimits(HWND window, MINMAXINFO& info) {
  const std::optional<MonitorArea> area =
      MonitorAreaOf(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST));
  const SizeLimits limits =
      area ? ComputeSizeLimits(WindowDpi(window), area->monitor, area->work, PrimaryMonitorSize(),
                               g_memory.taskbars.EdgesOf(area->monitor))
           : ComputeSizeLimits(WindowDpi(window), std::nullopt, std::nullopt);
  info.ptMinTrackSize = POINT{limits.minTrack.width, limits.minTrack.height};
  if (limits.maximized) {
    info.ptMaxPosition = POINT{limits.maximized->x, limits.maximized->y};
    info.ptMaxSize = POINT{limits.maximized->size.width, limits.maximized->size.height};
  }
}

// The system grows a maximised size read against the primary monitor, so on a larger
// monitor with a taskbar no MINMAXINFO value ends on the work area: the rectangle is
// set here, on its way, for every position change of a maximised window (maximising,
// snapping to the top, moving between monitors, a change of the work area).
void KeepMaximizedOnTheWorkArea(HWND window, WINDOWPOS& position) {
  if (IsZoomed(window) == 0 || (position.flags & SWP_NOSIZE) != 0) return;
  RECT current{};
  if (GetWindowRect(window, &current) == 0) return;
  // With SWP_NOMOVE, x and y are whatever the caller left there: the window's own place
  // decides the monitor.
  const Bounds after = RectAfterPositionChange(
      ToBounds(current), PositionChange{position.x, position.y, Size{position.cx, position.cy},
                                        (position.flags & SWP_NOMOVE) != 0, false});
  const RECT probe{after.left, after.top, after.right, after.bottom};
  const std::optional<MonitorArea> area =
      MonitorAreaOf(MonitorFromRect(&probe, MONITOR_DEFAULTTONEAREST));
  if (!area) return;
  const Bounds target = MaximizedBounds(*area, g_memory.taskbars.EdgesOf(area->monitor));
  position.x = target.left;
  position.y = target.top;
  position.cx = target.right - target.left;
  position.cy = target.bottom - target.top;
  position.flags &= ~static_cast<UINT>(SWP_NOMOVE);
}

// After the taskbar's settings or the displays changed: the shell is asked again, and a
// maximised window takes the edges it now has to leave free.
void RefreshTaskbars(HWND window) {
  KillTimer(window, kTaskbarRefreshTimer);
  g_memory.taskbarsStale = false;
  g_memory.taskbars.Refresh();
  if (IsZoomed(window) == 0) return;
  const std::optional<MonitorArea> area =
      MonitorAreaOf(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST));
  if (!area) return;
  const Bounds target = MaximizedBounds(*area, g_memory.taskbars.EdgesOf(area->monitor));
  SetWindowPos(window, nullptr, target.left, target.top, target.right - target.left,
               target.bottom - target.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// At the window's end: the file for the next run. The normal rectangle comes from the
// window's placement, which a snapped or maximised window keeps apart from the rectangle
// it shows. A failure keeps the old file.
void SavePlaceForTheNextRun(HWND window) {
  if (g_memory.dataDirectory.empty()) return;
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (GetWindowPlacement(window, &placement) == 0) return;
  const std::vector<MonitorArea> present = PresentMonitors();
  const Bounds normal = WorkspaceToScreen(ToBounds(placement.rcNormalPosition), present);
  const RECT probe{normal.left, normal.top, normal.right, normal.bottom};
  const std::optional<MonitorArea> area =
      MonitorAreaOf(MonitorFromRect(&probe, MONITOR_DEFAULTTONEAREST));
  if (!area || normal.right <= normal.left || normal.bottom <= normal.top) return;
  // A minimised window is remembered in the state it restores to.
  const bool maximized =
      placement.showCmd == SW_SHOWMAXIMIZED ||
      (placement.showCmd == SW_SHOWMINIMIZED && (placement.flags & WPF_RESTORETOMAXIMIZED) != 0);
  SavePlace(g_memory.dataDirectory, RememberPlace(normal, *area, maximized));
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
    case WM_WINDOWPOSCHANGING: {
      const LRESULT result = DefWindowProcW(window, message, wParam, lParam);
      KeepMaximizedOnTheWorkArea(window, *reinterpret_cast<WINDOWPOS*>(lParam));
      return result;
    }
    case WM_SIZE:
      if (wParam == SIZE_MAXIMIZED && g_memory.taskbarsStale) {
        SetTimer(window, kTaskbarRefreshTimer, kTaskbarRefreshDelayMs, nullptr);
      }
      HandleSize(host, wParam == SIZE_MINIMIZED);
      return 0;
    case WM_MOVE:
      HandleMove(host);
      return 0;
    case WM_SETTINGCHANGE:
    case WM_DISPLAYCHANGE:
      if (IsZoomed(window) != 0) {
        SetTimer(window, kTaskbarRefreshTimer, kTaskbarRefreshDelayMs, nullptr);
      } else {
        g_memory.taskbarsStale = true;
      }
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_TIMER:
      if (wParam != kTaskbarRefreshTimer) return DefWindowProcW(window, message, wParam, lParam);
      if (g_memory.inSizeMove) {
        KillTimer(window, kTaskbarRefreshTimer);
        g_memory.refreshAfterSizeMove = true;
        return 0;
      }
      RefreshTaskbars(window);
      return 0;
    case WM_ENTERSIZEMOVE:
      g_memory.inSizeMove = true;
      return 0;
    case WM_EXITSIZEMOVE:
      g_memory.inSizeMove = false;
      if (g_memory.refreshAfterSizeMove) {
        g_memory.refreshAfterSizeMove = false;
        SetTimer(window, kTaskbarRefreshTimer, kTaskbarRefreshDelayMs, nullptr);
      }
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
    case WM_QUERYENDSESSION:
      return HandleQueryEndSession(host) ? TRUE : FALSE;
    case WM_ENDSESSION: {
      // An ending session terminates the process once this returns: the place is saved
      // here, whatever the window does next.
      const bool ending = wParam != FALSE;
      const bool closeApp = (static_cast<DWORD>(lParam) & ENDSESSION_CLOSEAPP) != 0;
      if (ending && !closeApp) SavePlaceForTheNextRun(window);
      HandleEndSession(host, ending, closeApp);
      return 0;
    }
    case kStartMoveMessage:
      HandleStartMove(host);
      return 0;
    case WM_DESTROY:
      SavePlaceForTheNextRun(window);
      HandleDestroy(host);
      PostQuitMessage(0);
      return 0;
    case WM_APP_POST_JSON:
      // Only a wake-up: the texts come from the program's own queue.
      while (PostedJson text = TakePostedJson(FromHwnd(window))) {
        DeliverPostedJson(host, std::move(text));
      }
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
  if (host == nullptr) return DefWindowProcW(window, message, wParam, lParam);
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
bool TakeSingleInstance(const std::filesystem::path& dataDirectory, UniqueHandle& mutex) {
  const std::u16string key = SingleInstanceMutexName(NativeText(dataDirectory));
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

// The monitor under the pointer: where the user started the program.
MonitorArea MonitorUnderPointer() {
  POINT pointer{};
  GetCursorPos(&pointer);
  if (const std::optional<MonitorArea> area =
          MonitorAreaOf(MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY))) {
    return *area;
  }
  RECT primary{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &primary, 0);
  return MonitorArea{ToBounds(primary), ToBounds(primary), SystemDpi()};
}

// The window is created on its monitor at that monitor's DPI: a per-monitor window gets
// no DPI change at creation to correct a size made for another one.
HWND CreateMainWindow(HINSTANCE instance, Host& host, const StartPlace& placement) {
  const Bounds& placed = placement.bounds;
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
    const std::filesystem::path dataDirectory = ResolveDataDirectory(platform);
    if (!TakeSingleInstance(dataDirectory, mutex)) {
      BringFirstInstanceToFront();
      return 0;
    }
    RegisterMainWindowClass(instance, background);
    host.emplace(windowOperations);
    const StartPlace placement =
        ChooseStartPlace(LoadPlace(dataDirectory), PresentMonitors(), MonitorUnderPointer());
    g_memory.dataDirectory = dataDirectory;
    g_memory.taskbars.Refresh();  // before the first size message
    window = CreateMainWindow(instance, *host, placement);
    // Maximised again where the user asked for a plain window; a start asked to be
    // minimised, say, keeps that.
    const bool plain =
        showCommand == SW_SHOWNORMAL || showCommand == SW_SHOWDEFAULT || showCommand == SW_SHOW;
    ShowWindow(window, placement.maximized && plain ? SW_SHOWMAXIMIZED : showCommand);
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
  vardeko::SetPerMonitorDpiAwareness();
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  const vardeko::ScopeExit uninitialize([] { CoUninitialize(); });
  return vardeko::Run(instance, showCommand);
}
