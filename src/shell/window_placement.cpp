#include "shell/window_placement.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <system_error>

#include "base/dpi_scaling.h"
#include "platform/state_file.h"
#include "shell/main_window.h"

namespace vardeko {
namespace {

constexpr char kPlaceFileName[] = "window-place.txt";
constexpr char kPlaceFileTag[] = "vardeko-window";
constexpr char kPlaceFileVersion[] = "1";
constexpr int kMaxCoordinate = 100000;  // far beyond any virtual screen

Size SizeOf(const Bounds& bounds) {
  return Size{bounds.right - bounds.left, bounds.bottom - bounds.top};
}

unsigned UsableDpi(unsigned dpi) { return dpi == 0 ? 96 : dpi; }

int ToLogical(int physical, unsigned dpi) {
  return MulDiv(physical, 96, static_cast<int>(UsableDpi(dpi)));
}

std::int64_t Area(const Bounds& bounds) {
  if (bounds.right <= bounds.left || bounds.bottom <= bounds.top) return 0;
  return static_cast<std::int64_t>(bounds.right - bounds.left) * (bounds.bottom - bounds.top);
}

Bounds Intersection(const Bounds& a, const Bounds& b) {
  return Bounds{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

// A decimal integer as FormatPlace writes it: no sign but '-', no leading zeros, no
// "-0", within the coordinate range.
std::optional<int> ParseNumber(std::string_view token) {
  const std::string_view digits = token.starts_with('-') ? token.substr(1) : token;
  if (digits.empty() || digits.size() > 6 || (digits.size() > 1 && digits[0] == '0') ||
      (token.starts_with('-') && digits == "0")) {
    return std::nullopt;
  }
  int value = 0;
  const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (error != std::errc{} || end != token.data() + token.size()) return std::nullopt;
  if (value < -kMaxCoordinate || value > kMaxCoordinate) return std::nullopt;
  return value;
}

std::filesystem::path PlaceFile(const std::filesystem::path& dataDirectory) {
  return dataDirectory / kPlaceFileName;
}

}  // namespace

Bounds MaximizedBounds(const MonitorArea& area, unsigned autoHideEdges) {
  Bounds bounds = area.work;
  // Only where the work area reaches the monitor's edge: elsewhere the edge is free.
  const int gap = kAutoHideTaskbarGap;
  if ((autoHideEdges & kAutoHideLeft) && bounds.left == area.monitor.left) bounds.left += gap;
  if ((autoHideEdges & kAutoHideTop) && bounds.top == area.monitor.top) bounds.top += gap;
  if ((autoHideEdges & kAutoHideRight) && bounds.right == area.monitor.right) bounds.right -= gap;
  if ((autoHideEdges & kAutoHideBottom) && bounds.bottom == area.monitor.bottom) {
    bounds.bottom -= gap;
  }
  return bounds;
}

Bounds RectAfterPositionChange(const Bounds& current, const PositionChange& change) {
  const Size size = change.keepsSize ? SizeOf(current) : change.size;
  const int left = change.keepsPosition ? current.left : change.x;
  const int top = change.keepsPosition ? current.top : change.y;
  return Bounds{left, top, left + size.width, top + size.height};
}

Bounds WorkspaceToScreen(const Bounds& workspace, const std::vector<MonitorArea>& present) {
  Bounds best = workspace;
  std::int64_t bestArea = 0;
  for (const MonitorArea& area : present) {
    const int dx = area.work.left - area.monitor.left;
    const int dy = area.work.top - area.monitor.top;
    const Bounds screen{workspace.left + dx, workspace.top + dy, workspace.right + dx,
                        workspace.bottom + dy};
    if (const std::int64_t on = Area(Intersection(screen, area.monitor)); on > bestArea) {
      best = screen;
      bestArea = on;
    }
  }
  return best;
}

MaximizedMinMax MaximizedMinMaxFor(Size primary, const Bounds& monitor, const Bounds& target) {
  const Size wanted = SizeOf(target);
  const Size grows{SizeOf(monitor).width - primary.width, SizeOf(monitor).height - primary.height};
  const auto covers = [&](Size size) {
    return size.width >= primary.width && size.height >= primary.height;
  };
  const int x = target.left - monitor.left;
  const int y = target.top - monitor.top;
  // Used as it is, or on the primary monitor itself.
  if (!covers(wanted) || (grows.width == 0 && grows.height == 0)) return {x, y, wanted, true};
  // Given smaller by the difference, to grow back to the work area.
  const Size shrunk{wanted.width - grows.width, wanted.height - grows.height};
  if (covers(shrunk)) return {x, y, shrunk, true};
  // Neither works (a work area smaller than the monitor in one direction only on a larger
  // monitor): a size that cannot grow and stays within the work area.
  return {x, y, Size{std::min(wanted.width, shrunk.width), std::min(wanted.height, shrunk.height)},
          false};
}

Bounds DefaultWindowBounds(const MonitorArea& area) {
  const unsigned dpi = UsableDpi(area.dpi);
  return PlaceFirstWindow(area.work,
                          Size{ScaleForDpi(kWindowWidth, dpi), ScaleForDpi(kWindowHeight, dpi)},
                          MinimumWindowSize(dpi, SizeOf(area.work)));
}

RememberedPlace RememberPlace(const Bounds& normal, const MonitorArea& area, bool maximized) {
  const Size size = SizeOf(normal);
  return RememberedPlace{area.monitor,
                         ToLogical(normal.left - area.monitor.left, area.dpi),
                         ToLogical(normal.top - area.monitor.top, area.dpi),
                         ToLogical(size.width, area.dpi),
                         ToLogical(size.height, area.dpi),
                         maximized};
}

StartPlace ChooseStartPlace(const std::optional<RememberedPlace>& remembered,
                            const std::vector<MonitorArea>& present, const MonitorArea& fallback) {
  const StartPlace otherwise{DefaultWindowBounds(fallback), false};
  if (!remembered) return otherwise;
  const auto found = std::find_if(present.begin(), present.end(), [&](const MonitorArea& area) {
    return area.monitor == remembered->monitor;
  });
  if (found == present.end()) return otherwise;
  const unsigned dpi = UsableDpi(found->dpi);
  const int left = found->monitor.left + ScaleForDpi(remembered->left, dpi);
  const int top = found->monitor.top + ScaleForDpi(remembered->top, dpi);
  const Size minimum = MinimumWindowSize(dpi, SizeOf(found->work));
  const int width = std::max(ScaleForDpi(remembered->width, dpi), minimum.width);
  const int height = std::max(ScaleForDpi(remembered->height, dpi), minimum.height);
  const Bounds bounds{left, top, left + width, top + height};
  if (Area(Intersection(bounds, found->work)) * 2 <= Area(bounds)) return otherwise;
  return StartPlace{bounds, remembered->maximized};
}

std::string FormatPlace(const RememberedPlace& place) {
  std::string text = std::string(kPlaceFileTag) + " " + kPlaceFileVersion;
  for (const int value :
       {place.monitor.left, place.monitor.top, place.monitor.right, place.monitor.bottom,
        place.left, place.top, place.width, place.height, place.maximized ? 1 : 0}) {
    text += ' ';
    text += std::to_string(value);
  }
  text += '\n';
  return text;
}

std::optional<RememberedPlace> ParsePlace(std::string_view text) {
  if (text.size() > kMaxPlaceFileBytes || !text.ends_with('\n')) return std::nullopt;
  text.remove_suffix(1);
  std::vector<std::string_view> tokens;
  while (tokens.size() < 12) {
    const std::size_t space = text.find(' ');
    tokens.push_back(text.substr(0, space));
    if (space == std::string_view::npos) break;
    text.remove_prefix(space + 1);
  }
  if (tokens.size() != 11 || tokens[0] != kPlaceFileTag || tokens[1] != kPlaceFileVersion) {
    return std::nullopt;
  }
  int values[9]{};
  for (int i = 0; i < 9; ++i) {
    const std::optional<int> value = ParseNumber(tokens[static_cast<std::size_t>(i) + 2]);
    if (!value) return std::nullopt;
    values[i] = *value;
  }
  RememberedPlace place{Bounds{values[0], values[1], values[2], values[3]},
                        values[4],
                        values[5],
                        values[6],
                        values[7],
                        values[8] == 1};
  if (place.monitor.right <= place.monitor.left || place.monitor.bottom <= place.monitor.top ||
      place.width <= 0 || place.height <= 0 || (values[8] != 0 && values[8] != 1)) {
    return std::nullopt;
  }
  return place;
}

std::optional<RememberedPlace> LoadPlace(const std::filesystem::path& dataDirectory) {
  const std::optional<std::string> text =
      ReadStateFile(PlaceFile(dataDirectory), kMaxPlaceFileBytes);
  if (!text) return std::nullopt;
  return ParsePlace(*text);
}

bool SavePlace(const std::filesystem::path& dataDirectory, const RememberedPlace& place) {
  const std::filesystem::path target = PlaceFile(dataDirectory);
  std::filesystem::path temporary = target;
  temporary += ".tmp";
  // One instance per data directory: a temporary file left here is a dead run's.
  std::error_code ignored;
  std::filesystem::remove(temporary, ignored);
  return ReplaceStateFile(target, temporary, FormatPlace(place));
}

}  // namespace vardeko
