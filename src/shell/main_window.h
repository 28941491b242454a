#pragma once

#include <optional>

#include "platform/browser.h"
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

struct Size {
  int width = 0;
  int height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

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

SizeLimits ComputeSizeLimits(unsigned dpi, std::optional<Bounds> monitor,
                             std::optional<Bounds> workArea);

// What a close attempt does.
enum class CloseAction { kAskThePage, kDestroy };
CloseAction DecideClose(const Host& host);

// WM_CLOSE: asks the page while it is up and nothing is confirmed, else destroys.
void HandleCloseAttempt(Host& host);

// WM_APP_CLOSE_CONFIRMED.
void HandleCloseConfirmed(Host& host);

// WM_SIZE: the browser is visible exactly while the window is not minimised.
void HandleSize(Host& host, bool minimized);

// WM_DESTROY: closes the controller and drops the browser references, view first.
void HandleDestroy(Host& host) noexcept;

// Gives the controller the window's client area.
void ResizeController(Host& host);

}  // namespace vardeko
