#pragma once

#include <windows.h>

#include <optional>
#include <utility>
#include <vector>

#include "platform/monitors.h"

// Monitors and DPI through the functions of every Windows 10: those newer than 1507
// (per-monitor awareness contexts, the window and system DPI calls) and shcore's are
// looked up at run time, each with the documented older way as fallback.
namespace vardeko {

// Per-monitor v2 where the system has it (1703), else per-monitor (shcore, 8.1). The
// manifest asks for the same; a failure leaves the process as the manifest set it.
void SetPerMonitorDpiAwareness() noexcept;

unsigned SystemDpi() noexcept;
unsigned MonitorDpi(HMONITOR monitor) noexcept;
unsigned WindowDpi(HWND window) noexcept;

// The monitor's rectangle, work area and DPI; nullopt when the system cannot say.
std::optional<MonitorArea> MonitorAreaOf(HMONITOR monitor) noexcept;
std::vector<MonitorArea> PresentMonitors();

// The primary monitor's size, which the system measures a maximised size against.
std::optional<Size> PrimaryMonitorSize() noexcept;

// The edges of the monitor with an auto-hiding taskbar (AutoHideEdge bits). Costly and
// re-entrant: each shell query runs a nested message loop, so this is called only
// through AutoHideTaskbars, never while a size message is handled.
unsigned AutoHideEdgesOf(HMONITOR monitor) noexcept;

// The auto-hide edges of every present monitor, read once and kept until the taskbar's
// settings or the displays change. UI thread only.
class AutoHideTaskbars {
 public:
  void Refresh();
  // From the last Refresh; 0 for a monitor it did not see.
  unsigned EdgesOf(const Bounds& monitor) const noexcept;

 private:
  std::vector<std::pair<Bounds, unsigned>> edges_;
};

}  // namespace vardeko
