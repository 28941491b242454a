#include "shell/main_window.h"

#include "base/dpi_scaling.h"
#include "shell/envelope.h"

namespace vardeko {

std::optional<HitZone> HitTestResizeBorder(int x, int y, const Bounds& window, unsigned dpi,
                                           bool maximized) {
  if (maximized) return std::nullopt;
  const int band = ScaleForDpi(kResizeBand, dpi);
  const bool top = y < window.top + band;
  const bool bottom = y >= window.bottom - band;
  const bool left = x < window.left + band;
  const bool right = x >= window.right - band;
  // Left before right and top before bottom: on a window narrower than two bands the
  // left or top band wins.
  if (top && left) return HitZone::kTopLeft;
  if (top && right) return HitZone::kTopRight;
  if (left && bottom) return HitZone::kBottomLeft;
  if (left) return HitZone::kLeft;
  if (right && bottom) return HitZone::kBottomRight;
  if (right) return HitZone::kRight;
  if (top) return HitZone::kTop;
  if (bottom) return HitZone::kBottom;
  return std::nullopt;
}

SizeLimits ComputeSizeLimits(unsigned dpi, std::optional<Bounds> monitor,
                             std::optional<Bounds> workArea) {
  SizeLimits limits;
  limits.minTrack = {ScaleForDpi(kMinWindowWidth, dpi), ScaleForDpi(kMinWindowHeight, dpi)};
  if (monitor && workArea) {
    limits.maximized =
        Placement{workArea->left - monitor->left, workArea->top - monitor->top,
                  Size{workArea->right - workArea->left, workArea->bottom - workArea->top}};
  }
  return limits;
}

CloseAction DecideClose(const Host& host) {
  return !host.closing && host.pageLoaded && host.webview ? CloseAction::kAskThePage
                                                          : CloseAction::kDestroy;
}

void HandleCloseAttempt(Host& host) {
  if (DecideClose(host) == CloseAction::kAskThePage) {
    PostJsonToPage(host, CloseRequestedEvent());
  } else {
    host.windowOperations.Destroy(host.window);
  }
}

void HandleCloseConfirmed(Host& host) {
  host.closing = true;
  host.windowOperations.Destroy(host.window);
}

void HandleSize(Host& host, bool minimized) {
  if (!host.controller) return;
  host.controller->SetVisible(!minimized);
  if (!minimized) ResizeController(host);
}

void HandleDestroy(Host& host) noexcept {
  if (host.controller) host.controller->Close();
  host.webview.reset();
  host.controller.reset();
  host.environment.reset();
}

void ResizeController(Host& host) {
  if (!host.controller) return;
  host.controller->SetBounds(host.windowOperations.ClientBounds(host.window));
}

}  // namespace vardeko
