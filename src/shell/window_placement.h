#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/monitors.h"

// Where the main window opens and where a maximised window goes, on any set of monitors.
// Physical pixels of the virtual screen throughout, except the remembered place, which
// is kept in logical pixels so it survives a change of the monitor's scale.
namespace vardeko {

// What WM_GETMINMAXINFO is given for a maximised window: the position relative to the
// monitor, and the size as the system reads it, against the primary monitor.
struct MaximizedMinMax {
  int x = 0;
  int y = 0;
  Size size;
  // False when no size can make the system's adjustment end on `target`; the window's
  // position change is then corrected on its way (MaximizedBounds).
  bool exact = true;
  friend bool operator==(const MaximizedMinMax&, const MaximizedMinMax&) = default;
};

// What a maximised window leaves free on an edge where an auto-hiding taskbar waits: the
// thickness Chromium leaves (kAutoHideTaskbarThicknessPx in its Windows window code).
inline constexpr int kAutoHideTaskbarGap = 2;

// The rectangle a maximised window covers: the work area, less kAutoHideTaskbarGap on
// each edge where an auto-hiding taskbar waits (a window covering that edge counts as
// full-screen and the bar would never slide out).
Bounds MaximizedBounds(const MonitorArea& area, unsigned autoHideEdges);

// The rectangle a position change (WM_WINDOWPOSCHANGING) leads to. With SWP_NOMOVE the
// proposed x and y mean nothing and the window keeps its corner; with SWP_NOSIZE its
// size.
struct PositionChange {
  int x = 0;
  int y = 0;
  Size size;
  bool keepsPosition = false;  // SWP_NOMOVE
  bool keepsSize = false;      // SWP_NOSIZE
};
Bounds RectAfterPositionChange(const Bounds& current, const PositionChange& change);

// GetWindowPlacement's normal rectangle is in workspace coordinates: relative to the work
// area of the monitor it lies on, so a taskbar on the left or top shifts it. The screen
// rectangle is the one whose monitor, shifted by that monitor's work-area offset, holds
// most of it; unchanged when it lies on none of `present`.
Bounds WorkspaceToScreen(const Bounds& workspace, const std::vector<MonitorArea>& present);

// The system reads the maximised size relative to the primary monitor: a size at least
// as large as the primary monitor in both directions grows by the difference between
// the window's monitor and the primary one; a smaller size is used as it is. The
// position is moved to the same offset on the window's monitor.
MaximizedMinMax MaximizedMinMaxFor(Size primary, const Bounds& monitor, const Bounds& target);

// The first window on the monitor it opens on: the logical default size scaled with
// that monitor's DPI, centred in its work area and clamped to it.
Bounds DefaultWindowBounds(const MonitorArea& area);

// The place kept between runs: the normal (restored) rectangle in logical pixels
// relative to its monitor's top-left corner, the monitor it was on, and whether the
// window was maximised.
struct RememberedPlace {
  Bounds monitor;  // physical; the monitor is found again by this rectangle
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool maximized = false;
  friend bool operator==(const RememberedPlace&, const RememberedPlace&) = default;
};

// The place to remember for a normal rectangle on `area` (a minimised window gives its
// restored rectangle and state).
RememberedPlace RememberPlace(const Bounds& normal, const MonitorArea& area, bool maximized);

struct StartPlace {
  Bounds bounds;
  bool maximized = false;
  friend bool operator==(const StartPlace&, const StartPlace&) = default;
};

// The remembered place, when its monitor is present and the rectangle, scaled for that
// monitor's DPI and no smaller than the minimum (MinimumWindowSize for that monitor's
// work area), lies mostly (more than half its area)
// in the monitor's work area; otherwise the default on `fallback`.
StartPlace ChooseStartPlace(const std::optional<RememberedPlace>& remembered,
                            const std::vector<MonitorArea>& present, const MonitorArea& fallback);

// The file's one format; anything else is refused.
inline constexpr std::size_t kMaxPlaceFileBytes = 128;
std::string FormatPlace(const RememberedPlace& place);
std::optional<RememberedPlace> ParsePlace(std::string_view text);

// The file in the data directory; nothing else reads it.
std::optional<RememberedPlace> LoadPlace(const std::filesystem::path& dataDirectory);
bool SavePlace(const std::filesystem::path& dataDirectory, const RememberedPlace& place);

}  // namespace vardeko
