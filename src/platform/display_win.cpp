#include <windows.h>

#include <shellapi.h>

#include "platform/display_win.h"

#include <utility>

#include "base/unique_handle_win.h"

namespace vardeko {
namespace {

// GetProcAddress gives a generic function pointer; the cast goes through the one type
// the compiler accepts as generic.
template <class Function>
Function Resolve(HMODULE module, const char* name) noexcept {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

HMODULE User32() noexcept { return GetModuleHandleW(L"user32.dll"); }

// shcore (Windows 8.1) from the system folder only, loaded once for the process.
HMODULE Shcore() noexcept {
  static const UniqueModule module(
      LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  return module.get();
}

using SetAwarenessContextFunction = BOOL(WINAPI*)(HANDLE);
using SetAwarenessFunction = HRESULT(WINAPI*)(int);
using DpiForWindowFunction = UINT(WINAPI*)(HWND);
using DpiForSystemFunction = UINT(WINAPI*)();
using DpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

constexpr int kProcessPerMonitorDpiAware = 2;  // PROCESS_PER_MONITOR_DPI_AWARE
constexpr int kEffectiveDpi = 0;               // MDT_EFFECTIVE_DPI

Bounds ToBounds(const RECT& rect) { return Bounds{rect.left, rect.top, rect.right, rect.bottom}; }

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM list) {
  if (const std::optional<MonitorArea> area = MonitorAreaOf(monitor)) {
    // No exception may leave the callback: a monitor that cannot be added is skipped.
    try {
      reinterpret_cast<std::vector<MonitorArea>*>(list)->push_back(*area);
    } catch (...) {
      return FALSE;
    }
  }
  return TRUE;
}

}  // namespace

void SetPerMonitorDpiAwareness() noexcept {
  if (const auto set =
          Resolve<SetAwarenessContextFunction>(User32(), "SetProcessDpiAwarenessContext")) {
    set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    return;
  }
  if (const auto set = Resolve<SetAwarenessFunction>(Shcore(), "SetProcessDpiAwareness")) {
    set(kProcessPerMonitorDpiAware);
  }
}

unsigned SystemDpi() noexcept {
  static const auto forSystem = Resolve<DpiForSystemFunction>(User32(), "GetDpiForSystem");
  if (forSystem != nullptr) return forSystem();
  const HDC screen = GetDC(nullptr);
  if (screen == nullptr) return USER_DEFAULT_SCREEN_DPI;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<unsigned>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

unsigned MonitorDpi(HMONITOR monitor) noexcept {
  static const auto forMonitor = Resolve<DpiForMonitorFunction>(Shcore(), "GetDpiForMonitor");
  UINT x = 0;
  UINT y = 0;
  if (forMonitor != nullptr && monitor != nullptr &&
      SUCCEEDED(forMonitor(monitor, kEffectiveDpi, &x, &y)) && x > 0) {
    return x;
  }
  return SystemDpi();
}

unsigned WindowDpi(HWND window) noexcept {
  static const auto forWindow = Resolve<DpiForWindowFunction>(User32(), "GetDpiForWindow");
  if (forWindow != nullptr) {
    if (const UINT dpi = forWindow(window); dpi > 0) return dpi;
  }
  return MonitorDpi(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST));
}

std::optional<MonitorArea> MonitorAreaOf(HMONITOR monitor) noexcept {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (monitor == nullptr || GetMonitorInfoW(monitor, &info) == 0) return std::nullopt;
  return MonitorArea{ToBounds(info.rcMonitor), ToBounds(info.rcWork), MonitorDpi(monitor)};
}

std::vector<MonitorArea> PresentMonitors() {
  std::vector<MonitorArea> monitors;
  EnumDisplayMonitors(nullptr, nullptr, &AddMonitor, reinterpret_cast<LPARAM>(&monitors));
  return monitors;
}

std::optional<Size> PrimaryMonitorSize() noexcept {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info) == 0) {
    return std::nullopt;
  }
  return Size{info.rcMonitor.right - info.rcMonitor.left,
              info.rcMonitor.bottom - info.rcMonitor.top};
}

namespace {

// The shell's answers, as Chromium reads them (MonitorHasAutohideTaskbarForEdge in its
// Windows views delegate): ABM_GETAUTOHIDEBAREX sometimes answers null for a bar that is
// there, so ABM_GETAUTOHIDEBAR, and failing that the taskbar's auto-hide state and the
// edge it is on, are asked too. The bar found must lie on the monitor and be shown: a
// hidden bar never slides out (Wine answers "auto-hide, bottom" for its hidden tray).
bool HasAutoHideBar(HMONITOR monitor, const RECT& rect, UINT edge) noexcept {
  APPBARDATA data{};
  data.cbSize = sizeof data;
  data.uEdge = edge;
  data.rc = rect;
  if (IsWindow(reinterpret_cast<HWND>(SHAppBarMessage(ABM_GETAUTOHIDEBAREX, &data))) != 0) {
    return true;
  }
  APPBARDATA primary{};
  primary.cbSize = sizeof primary;
  primary.uEdge = edge;
  auto bar = reinterpret_cast<HWND>(SHAppBarMessage(ABM_GETAUTOHIDEBAR, &primary));
  if (IsWindow(bar) == 0) {
    APPBARDATA state{};
    state.cbSize = sizeof state;
    if ((SHAppBarMessage(ABM_GETSTATE, &state) & ABS_AUTOHIDE) == 0) return false;
    APPBARDATA position{};
    position.cbSize = sizeof position;
    position.hWnd = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (IsWindow(position.hWnd) == 0 || SHAppBarMessage(ABM_GETTASKBARPOS, &position) == 0 ||
        position.uEdge != edge) {
      return false;
    }
    bar = position.hWnd;
  }
  return IsWindowVisible(bar) != 0 && MonitorFromWindow(bar, MONITOR_DEFAULTTONEAREST) == monitor;
}

}  // namespace

unsigned AutoHideEdgesOf(HMONITOR monitor) noexcept {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (monitor == nullptr || GetMonitorInfoW(monitor, &info) == 0) return 0;
  constexpr std::pair<UINT, unsigned> kEdges[] = {{ABE_LEFT, kAutoHideLeft},
                                                  {ABE_TOP, kAutoHideTop},
                                                  {ABE_RIGHT, kAutoHideRight},
                                                  {ABE_BOTTOM, kAutoHideBottom}};
  unsigned edges = 0;
  for (const auto& [edge, bit] : kEdges) {
    if (HasAutoHideBar(monitor, info.rcMonitor, edge)) edges |= bit;
  }
  return edges;
}

void AutoHideTaskbars::Refresh() {
  std::vector<HMONITOR> monitors;
  EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR monitor, HDC, LPRECT, LPARAM list) -> BOOL {
        try {
          reinterpret_cast<std::vector<HMONITOR>*>(list)->push_back(monitor);
        } catch (...) {
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&monitors));
  std::vector<std::pair<Bounds, unsigned>> edges;
  for (const HMONITOR monitor : monitors) {
    if (const std::optional<MonitorArea> area = MonitorAreaOf(monitor)) {
      edges.emplace_back(area->monitor, AutoHideEdgesOf(monitor));
    }
  }
  edges_ = std::move(edges);
}

unsigned AutoHideTaskbars::EdgesOf(const Bounds& monitor) const noexcept {
  for (const auto& [bounds, edges] : edges_) {
    if (bounds == monitor) return edges;
  }
  return 0;
}

}  // namespace vardeko
