#pragma once

#include <chrono>
#include <optional>

#include "platform/browser.h"
#include "platform/monitors.h"
#include "shell/host.h"

// The main window's behaviour, apart from the Win32 message plumbing: resize bands,
// size limits, closing with the page's consent, and keeping the browser in step.
namespace vardeko {

inline constexpr int kWindowWidth = 1320;  // logical pixels
inline constexpr int kWindowHeight = 880;
inline constexpr int kMinWindowWidth = 960;
inline constexpr int kMinWindowHeight = 640;
inline constexpr int kResizeBand = 7;
inline constexpr Color kBackgroundColor{255, 13, 22, 33};

// Hit-test codes (HT*).
enum class HitZone : int {
  kLeft = 10,
  kRight = 11,
  kTop = 12,
  kTopLeft = 13,
  kTopRight = 14,
  kBottom = 15,
  kBottomLeft = 16,
  kBottomRight = 17,
};

// The resize border under a screen point, or nullopt to leave the point to the default
// procedure (the client area, or any point of a maximised window).
std::optional<HitZone> HitTestResizeBorder(int x, int y, const Bounds& window, unsigned dpi,
                                           bool maximized);

struct Placement {
  int x = 0;  // relative to the monitor
  int y = 0;
  Size size;
  friend bool operator==(const Placement&, const Placement&) = default;
};

struct SizeLimits {
  Size minTrack;
  // Set when the monitor is known: a maximised window covers its work area, leaving
  // the taskbar visible.
  std::optional<Placement> maximized;
};

// The smallest the window may be: the logical minimum at `dpi`, but never more than
// `available` (the area a maximised window covers on its monitor), or the window could
// neither fit on a small screen at a high scale nor be made to.
Size MinimumWindowSize(unsigned dpi, std::optional<Size> available);

// `primary` is the primary monitor's size, against which the system reads the maximised
// size (the window's own monitor when not given); `autoHideEdges` those of the monitor.
// The minimum tracking size is clamped to the monitor's maximised area when it is known.
SizeLimits ComputeSizeLimits(unsigned dpi, std::optional<Bounds> monitor,
                             std::optional<Bounds> workArea, std::optional<Size> primary = {},
                             unsigned autoHideEdges = 0);

// The first window's rectangle: centred in the work area of the user's monitor and
// clamped to it (no smaller than `minimum` where the work area allows), since a pop-up
// window ignores the system's default position and would open at (0,0), under a top or
// left taskbar.
Bounds PlaceFirstWindow(const Bounds& workArea, Size size, Size minimum);

// Where the browser goes in the client area. The browser's window belongs to another
// process and answers its own hit tests, so the window's resize band must stay
// uncovered for the hit test to be asked there; the band shows the class background,
// the page's colour. A maximised window has no band.
Bounds BrowserBounds(const Bounds& client, unsigned dpi, bool maximized);

// The runtime repeats its unresponsive report every few seconds while the renderer
// hangs; a report older than this is a hang (or a busy moment) that has passed.
inline constexpr std::chrono::seconds kUnresponsiveHold{10};

// Whether the renderer counts as unresponsive now: reported within kUnresponsiveHold
// and not heard from since.
bool IsRendererUnresponsive(const Host& host);

// What a close attempt does.
enum class CloseAction { kAskThePage, kDestroy };
CloseAction DecideClose(const Host& host);

// WM_CLOSE: asks the page while it is up and nothing is confirmed, else destroys.
void HandleCloseAttempt(Host& host);

// WM_APP_CLOSE_CONFIRMED: destroys the window, but only after the page's own close set
// `closing`; any program can post the message value.
void HandleCloseConfirmed(Host& host);

// The text the system shows while the page holds up the end of the session.
inline constexpr char16_t kSessionEndReason[] = u"有未保存的内容，请在 Vardeko 中确认后再关机。";

// The page's setUnsavedInput, and the page going away (unsaved = false): the reason
// for holding up the end of the session is registered when input becomes unsaved and
// removed when it no longer is. Only changes reach the system.
void SetUnsavedInput(Host& host, bool unsaved);

// WM_QUERYENDSESSION: whether the session may end now. Only unsaved input in a page that
// can answer holds it up: the page is asked, as on a close, and the answer is no. The
// system then lists the program with the reason; a cancelled end is not resumed.
bool HandleQueryEndSession(Host& host);

// WM_ENDSESSION. `closeApp`: the Restart Manager asks the program to close (an installer
// replacing its files), which is a close attempt as the user's. Otherwise an ending
// session closes the browser and the window, so the browser's data is left whole.
void HandleEndSession(Host& host, bool ending, bool closeApp);

// The move posted by windowDrag: only while the button that began it is still down.
void HandleStartMove(Host& host);

// WM_SIZE: the browser is visible exactly while the window is not minimised; coming
// back from minimised, keyboard focus goes into it.
void HandleSize(Host& host, bool minimized);

// WM_ACTIVATE, after the default handling (which gives the window itself the focus):
// keyboard focus goes into the browser, so typing and input methods reach the page.
void HandleActivate(Host& host, bool active, bool minimized);

// WM_MOVE: the browser places its pop-ups relative to the window.
void HandleMove(Host& host);

// WM_DESTROY: closes the controller, drops the browser references, view first, and
// clears the window handle, which completions arriving later find empty.
void HandleDestroy(Host& host) noexcept;

// Gives the controller its place in the client area (BrowserBounds).
void ResizeController(Host& host);

}  // namespace vardeko
