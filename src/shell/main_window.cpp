#include "shell/main_window.h"

#include <algorithm>

#include "base/dpi_scaling.h"
#include "shell/envelope.h"
#include "shell/window_placement.h"

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

Size MinimumWindowSize(unsigned dpi, std::optional<Size> available) {
  Size minimum{ScaleForDpi(kMinWindowWidth, dpi), ScaleForDpi(kMinWindowHeight, dpi)};
  if (available) {
    minimum.width = std::max(std::min(minimum.width, available->width), 1);
    minimum.height = std::max(std::min(minimum.height, available->height), 1);
  }
  return minimum;
}

SizeLimits ComputeSizeLimits(unsigned dpi, std::optional<Bounds> monitor,
                             std::optional<Bounds> workArea, std::optional<Size> primary,
                             unsigned autoHideEdges) {
  SizeLimits limits;
  limits.minTrack = MinimumWindowSize(dpi, std::nullopt);
  if (monitor && workArea) {
    const Bounds target = MaximizedBounds(MonitorArea{*monitor, *workArea, dpi}, autoHideEdges);
    limits.minTrack =
        MinimumWindowSize(dpi, Size{target.right - target.left, target.bottom - target.top});
    const MaximizedMinMax values = MaximizedMinMaxFor(
        primary.value_or(Size{monitor->right - monitor->left, monitor->bottom - monitor->top}),
        *monitor, target);
    limits.maximized = Placement{values.x, values.y, values.size};
  }
  return limits;
}

Bounds PlaceFirstWindow(const Bounds& workArea, Size size, Size minimum) {
  const auto place = [](int start, int end, int length, int least) {
    const int available = std::max(end - start, 1);
    const int fitted = std::min(std::max(length, least), available);
    const int offset = (available - fitted) / 2;
    return std::pair{start + offset, start + offset + fitted};
  };
  const auto [left, right] = place(workArea.left, workArea.right, size.width, minimum.width);
  const auto [top, bottom] = place(workArea.top, workArea.bottom, size.height, minimum.height);
  return Bounds{left, top, right, bottom};
}

Bounds BrowserBounds(const Bounds& client, unsigned dpi, bool maximized) {
  if (maximized) return client;
  const int band = ScaleForDpi(kResizeBand, dpi);
  const int left = client.left + band;
  const int top = client.top + band;
  return Bounds{left, top, std::max(left, client.right - band),
                std::max(top, client.bottom - band)};
}

bool IsRendererUnresponsive(const Host& host) {
  return host.lastUnresponsive && host.now() - *host.lastUnresponsive < kUnresponsiveHold;
}

CloseAction DecideClose(const Host& host) {
  return !host.closing && host.pageLoaded && !IsRendererUnresponsive(host) && host.webview
             ? CloseAction::kAskThePage
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
  if (!host.closing) return;
  SetUnsavedInput(host, false);
  host.windowOperations.Destroy(host.window);
}

void SetUnsavedInput(Host& host, bool unsaved) {
  if (host.unsavedInput == unsaved) return;
  host.unsavedInput = unsaved;
  if (unsaved) {
    host.windowOperations.BlockSessionEnd(host.window, kSessionEndReason);
  } else {
    host.windowOperations.AllowSessionEnd(host.window);
  }
}

bool HandleQueryEndSession(Host& host) {
  // A page that cannot answer, or a close under way, holds nothing up either.
  if (!host.unsavedInput || DecideClose(host) == CloseAction::kDestroy) return true;
  PostJsonToPage(host, CloseRequestedEvent());
  return false;
}

void HandleEndSession(Host& host, bool ending, bool closeApp) {
  // Called off: the reason stays registered for as long as the input is unsaved.
  if (!ending) return;
  if (closeApp) return HandleCloseAttempt(host);
  host.closing = true;
  host.windowOperations.Destroy(host.window);
}

void HandleStartMove(Host& host) {
  // Released before the posted message came: a click, not a drag.
  if (host.windowOperations.IsPrimaryButtonDown())
    host.windowOperations.StartSystemMove(host.window);
}

void HandleSize(Host& host, bool minimized) {
  if (!host.controller) return;
  // Hidden exactly while minimised: visible again means restored.
  const bool restored = !minimized && !host.controller->IsVisible();
  host.controller->SetVisible(!minimized);
  if (minimized) return;
  ResizeController(host);
  if (restored) host.controller->MoveFocus();
}

void HandleActivate(Host& host, bool active, bool minimized) {
  // A window activated while minimised gets the focus once it is restored (HandleSize).
  if (host.controller && active && !minimized) host.controller->MoveFocus();
}

void HandleMove(Host& host) {
  if (host.controller) host.controller->NotifyParentWindowPositionChanged();
}

void HandleDestroy(Host& host) noexcept {
  if (host.controller) host.controller->Close();
  host.webview.reset();
  host.controller.reset();
  host.environment.reset();
  host.window = WindowHandle{};
}

void ResizeController(Host& host) {
  if (!host.controller) return;
  WindowOperations& window = host.windowOperations;
  host.controller->SetBounds(BrowserBounds(
      window.ClientBounds(host.window), window.Dpi(host.window), window.IsMaximized(host.window)));
}

}  // namespace vardeko
