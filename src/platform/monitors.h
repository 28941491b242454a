#pragma once

#include "platform/browser.h"

namespace vardeko {

struct Size {
  int width = 0;
  int height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

// One monitor as the window rules see it, in physical pixels of the virtual screen.
struct MonitorArea {
  Bounds monitor;
  Bounds work;  // the monitor less the taskbar and other docked bars
  unsigned dpi = 96;
  friend bool operator==(const MonitorArea&, const MonitorArea&) = default;
};

// Edges of a monitor on which an auto-hiding taskbar waits (bit set).
enum AutoHideEdge : unsigned {
  kAutoHideLeft = 1,
  kAutoHideTop = 2,
  kAutoHideRight = 4,
  kAutoHideBottom = 8,
};

}  // namespace vardeko
