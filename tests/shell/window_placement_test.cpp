#include "shell/window_placement.h"

#include <gtest/gtest.h>

#include "fakes/temp_dir.h"
#include "shell/main_window.h"

namespace vardeko::testing {
namespace {

Size SizeOf(const Bounds& bounds) {
  return Size{bounds.right - bounds.left, bounds.bottom - bounds.top};
}

// What the system makes of the values (MINMAXINFO remarks; "How does the window manager
// adjust ptMaxSize and ptMaxPosition for multiple monitors?", 2015): the position moves to
// the window's monitor; a size covering the primary monitor grows by the difference.
Bounds AsTheSystemApplies(const MaximizedMinMax& values, Size primary, const Bounds& monitor) {
  Size size = values.size;
  if (size.width >= primary.width && size.height >= primary.height) {
    size.width += SizeOf(monitor).width - primary.width;
    size.height += SizeOf(monitor).height - primary.height;
  }
  const int left = monitor.left + values.x;
  const int top = monitor.top + values.y;
  return Bounds{left, top, left + size.width, top + size.height};
}

struct MaximizeCase {
  const char* name;
  Bounds monitor;
  Bounds work;
  unsigned autoHide;
  Bounds expected;
  bool exact;  // whether the values alone reach it, without the position correction
};

class MaximizeTest : public ::testing::TestWithParam<MaximizeCase> {};

// The primary monitor is 1920 x 1080 at the origin in every case.
TEST_P(MaximizeTest, CoversExactlyTheWorkAreaOfItsMonitor) {
  const Size primary{1920, 1080};
  const MaximizeCase& c = GetParam();
  const MonitorArea area{c.monitor, c.work, 96};
  const Bounds target = MaximizedBounds(area, c.autoHide);
  EXPECT_EQ(target, c.expected);
  const MaximizedMinMax values = MaximizedMinMaxFor(primary, c.monitor, target);
  EXPECT_EQ(values.exact, c.exact);
  const Bounds applied = AsTheSystemApplies(values, primary, c.monitor);
  if (c.exact) {
    EXPECT_EQ(applied, target);
  } else {
    // Never larger than the work area, so the page's buttons stay on screen even before
    // the correction.
    EXPECT_EQ(applied.left, target.left);
    EXPECT_EQ(applied.top, target.top);
    EXPECT_LE(applied.right, target.right);
    EXPECT_LE(applied.bottom, target.bottom);
  }
  // Through the window's size limits, as the window procedure asks.
  const SizeLimits limits = ComputeSizeLimits(144, c.monitor, c.work, primary, c.autoHide);
  EXPECT_EQ(limits.minTrack,
            (Size{std::min(1440, SizeOf(target).width), std::min(960, SizeOf(target).height)}));
  ASSERT_TRUE(limits.maximized);
  EXPECT_EQ(limits.maximized->size, values.size);
}

INSTANTIATE_TEST_SUITE_P(
    MonitorPairs, MaximizeTest,
    ::testing::Values(MaximizeCase{"PrimaryTaskbarBottom",
                                   {0, 0, 1920, 1080},
                                   {0, 0, 1920, 1040},
                                   0,
                                   {0, 0, 1920, 1040},
                                   true},
                      MaximizeCase{"PrimaryTaskbarRight",
                                   {0, 0, 1920, 1080},
                                   {0, 0, 1872, 1080},
                                   0,
                                   {0, 0, 1872, 1080},
                                   true},
                      MaximizeCase{"PrimaryTaskbarTop",
                                   {0, 0, 1920, 1080},
                                   {0, 40, 1920, 1080},
                                   0,
                                   {0, 40, 1920, 1080},
                                   true},
                      MaximizeCase{"LargerRightNoTaskbar",
                                   {1920, 0, 4480, 1440},
                                   {1920, 0, 4480, 1440},
                                   0,
                                   {1920, 0, 4480, 1440},
                                   true},
                      // The laptop beside a larger screen with its own taskbar: no value the system
                      // grows comes out right.
                      MaximizeCase{"LargerRightTaskbarBottom",
                                   {1920, 0, 4480, 1440},
                                   {1920, 0, 4480, 1392},
                                   0,
                                   {1920, 0, 4480, 1392},
                                   false},
                      MaximizeCase{"LargerAboveTaskbarTop",
                                   {0, -1440, 2560, 0},
                                   {0, -1400, 2560, 0},
                                   0,
                                   {0, -1400, 2560, 0},
                                   false},
                      MaximizeCase{"SmallerLeftOfPrimary",
                                   {-1280, 0, 0, 1024},
                                   {-1280, 0, 0, 984},
                                   0,
                                   {-1280, 0, 0, 984},
                                   true},
                      MaximizeCase{"SameSizeAboveTaskbarLeft",
                                   {0, -1080, 1920, 0},
                                   {48, -1080, 1920, 0},
                                   0,
                                   {48, -1080, 1920, 0},
                                   true},
                      MaximizeCase{"LargerLeftTaskbarLeft",
                                   {-2560, -200, 0, 1240},
                                   {-2512, -200, 0, 1240},
                                   0,
                                   {-2512, -200, 0, 1240},
                                   false},
                      MaximizeCase{"AutoHideBottom",
                                   {0, 0, 1920, 1080},
                                   {0, 0, 1920, 1080},
                                   kAutoHideBottom,
                                   {0, 0, 1920, 1078},
                                   true},
                      MaximizeCase{"AutoHideLeftOnTheRightMonitor",
                                   {1920, 0, 4480, 1440},
                                   {1920, 0, 4480, 1440},
                                   kAutoHideLeft,
                                   {1922, 0, 4480, 1440},
                                   false},
                      MaximizeCase{"AutoHideTopLargerMonitor",
                                   {1920, 0, 4480, 1440},
                                   {1920, 0, 4480, 1440},
                                   kAutoHideTop,
                                   {1920, 2, 4480, 1440},
                                   false},
                      // An edge already left free by another docked bar needs no gap.
                      MaximizeCase{"AutoHideRightBesideADockedBar",
                                   {0, 0, 1920, 1080},
                                   {0, 0, 1800, 1080},
                                   kAutoHideRight,
                                   {0, 0, 1800, 1080},
                                   true}),
    [](const auto& test) { return std::string(test.param.name); });

// Screens where the logical minimum does not fit: it shrinks to what a maximised window
// covers, and the first window and a remembered place too small for it follow.
struct SmallScreenCase {
  const char* name;
  MonitorArea area;
  unsigned autoHide;
  Size minimum;
  Bounds first;
};

class SmallScreenTest : public ::testing::TestWithParam<SmallScreenCase> {};

TEST_P(SmallScreenTest, MinimumAndFirstWindowFitTheWorkArea) {
  const SmallScreenCase& c = GetParam();
  const SizeLimits limits =
      ComputeSizeLimits(c.area.dpi, c.area.monitor, c.area.work, Size{1920, 1080}, c.autoHide);
  EXPECT_EQ(limits.minTrack, c.minimum);
  EXPECT_EQ(DefaultWindowBounds(c.area), c.first);
  // A remembered place below the minimum grows to it, and no further (the place is chosen
  // before any auto-hide gap is known).
  if (c.autoHide != 0) return;
  const RememberedPlace tiny{c.area.monitor, 0, 0, 300, 200, false};
  const int left = c.area.monitor.left;
  const int top = c.area.monitor.top;
  EXPECT_EQ(ChooseStartPlace(tiny, {c.area}, c.area),
            (StartPlace{Bounds{left, top, left + c.minimum.width, top + c.minimum.height}, false}));
}

INSTANTIATE_TEST_SUITE_P(
    Screens, SmallScreenTest,
    ::testing::Values(SmallScreenCase{"At1366x768And125",
                                      {{0, 0, 1366, 768}, {0, 0, 1366, 720}, 120},
                                      0,
                                      {1200, 720},
                                      {0, 0, 1366, 720}},
                      SmallScreenCase{"At1920x1080And175",
                                      {{0, 0, 1920, 1080}, {0, 0, 1920, 996}, 168},
                                      0,
                                      {1680, 996},
                                      {0, 0, 1920, 996}},
                      SmallScreenCase{"At1920x1080And200",
                                      {{0, 0, 1920, 1080}, {0, 0, 1920, 984}, 192},
                                      0,
                                      {1920, 984},
                                      {0, 0, 1920, 984}},
                      SmallScreenCase{"SecondScreenLeftAt150",
                                      {{-1280, 0, 0, 720}, {-1280, 0, 0, 672}, 144},
                                      0,
                                      {1280, 672},
                                      {-1280, 0, 0, 672}},
                      // The gap an auto-hidden taskbar needs stays free of the minimum too.
                      SmallScreenCase{"AutoHideBottomAt1366x768And125",
                                      {{0, 0, 1366, 768}, {0, 0, 1366, 768}, 120},
                                      kAutoHideBottom,
                                      {1200, 766},
                                      {0, 0, 1366, 768}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(PositionChangeTest, WithoutAMoveTheWindowKeepsItsCornerWhateverXAndYSay) {
  // Maximised on the right monitor; x and y left at the primary's origin.
  const Bounds current{1920, 0, 4480, 1392};
  EXPECT_EQ(RectAfterPositionChange(current, {0, 0, Size{2560, 1400}, true, false}),
            (Bounds{1920, 0, 4480, 1400}));
  EXPECT_EQ(RectAfterPositionChange(current, {0, 0, Size{1920, 1040}, false, false}),
            (Bounds{0, 0, 1920, 1040}));
  EXPECT_EQ(RectAfterPositionChange(current, {-1280, 10, Size{}, false, true}),
            (Bounds{-1280, 10, 1280, 1402}));
}

TEST(WorkspaceTest, NormalRectangleShiftsByTheWorkAreaOfItsMonitor) {
  const MonitorArea leftBar{{0, 0, 1920, 1080}, {48, 0, 1920, 1080}, 96};
  const MonitorArea right{{1920, 0, 4480, 1440}, {1920, 0, 4480, 1392}, 96};
  const MonitorArea aboveTopBar{{0, -1080, 1920, 0}, {0, -1040, 1920, 0}, 96};
  const std::vector<MonitorArea> present{leftBar, right, aboveTopBar};
  EXPECT_EQ(WorkspaceToScreen(Bounds{52, 10, 1052, 710}, present), (Bounds{100, 10, 1100, 710}));
  EXPECT_EQ(WorkspaceToScreen(Bounds{2000, 100, 3000, 800}, present),
            (Bounds{2000, 100, 3000, 800}));
  EXPECT_EQ(WorkspaceToScreen(Bounds{100, -1000, 1100, -300}, present),
            (Bounds{100, -960, 1100, -260}));
  // On no monitor: left as it is, for the start to refuse.
  EXPECT_EQ(WorkspaceToScreen(Bounds{9000, 0, 9100, 100}, present), (Bounds{9000, 0, 9100, 100}));
}

TEST(DefaultWindowTest, SizedWithTheDpiOfItsOwnMonitor) {
  // 200 % screen right of a 100 % laptop: 1320 x 880 logical pixels there.
  EXPECT_EQ(DefaultWindowBounds(MonitorArea{{1920, 0, 5760, 2160}, {1920, 0, 5760, 2080}, 192}),
            (Bounds{2520, 160, 5160, 1920}));
  EXPECT_EQ(DefaultWindowBounds(MonitorArea{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, 96}),
            (Bounds{300, 80, 1620, 960}));
  // 150 % on 1920 x 1080: too large, so the work area, never below the minimum.
  EXPECT_EQ(DefaultWindowBounds(MonitorArea{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, 144}),
            (Bounds{0, 0, 1920, 1040}));
}

const MonitorArea kLaptop{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, 96};
const MonitorArea kScreen{{1920, -200, 5760, 1960}, {1920, -200, 5760, 1912}, 192};

TEST(StartPlaceTest, RememberedPlaceComesBackOnItsMonitorScaledForItsDpi) {
  // Closed on the 200 % screen at 2000 x 1400 physical pixels, maximised.
  const RememberedPlace place = RememberPlace(Bounds{2120, 0, 4120, 1400}, kScreen, true);
  EXPECT_EQ(place, (RememberedPlace{kScreen.monitor, 100, 100, 1000, 700, true}));
  EXPECT_EQ(ChooseStartPlace(place, {kLaptop, kScreen}, kLaptop),
            (StartPlace{Bounds{2120, 0, 4120, 1400}, true}));

  // The screen's scale is now 150 %: the same logical place at that scale.
  MonitorArea rescaled = kScreen;
  rescaled.dpi = 144;
  EXPECT_EQ(ChooseStartPlace(place, {kLaptop, rescaled}, kLaptop),
            (StartPlace{Bounds{2070, -50, 3570, 1000}, true}));

  // The screen is gone, or another monitor took its place: the default on the laptop.
  const StartPlace fallback{DefaultWindowBounds(kLaptop), false};
  EXPECT_EQ(ChooseStartPlace(place, {kLaptop}, kLaptop), fallback);
  MonitorArea moved = kScreen;
  moved.monitor.left += 1;
  EXPECT_EQ(ChooseStartPlace(place, {kLaptop, moved}, kLaptop), fallback);
  EXPECT_EQ(ChooseStartPlace(std::nullopt, {kLaptop, kScreen}, kLaptop), fallback);
}

TEST(StartPlaceTest, MostlyOutsideTheWorkAreaFallsBackAndTooSmallGrowsToTheMinimum) {
  const StartPlace fallback{DefaultWindowBounds(kLaptop), false};
  // Half of it below the laptop's work area (1040): not mostly on it.
  const RememberedPlace half{kLaptop.monitor, 100, 560, 1000, 960, false};
  EXPECT_EQ(ChooseStartPlace(half, {kLaptop}, kLaptop), fallback);
  RememberedPlace most = half;
  most.top = 550;
  EXPECT_EQ(ChooseStartPlace(most, {kLaptop}, kLaptop),
            (StartPlace{Bounds{100, 550, 1100, 1510}, false}));
  // Far off the left edge.
  const RememberedPlace off{kLaptop.monitor, -900, 100, 1000, 700, false};
  EXPECT_EQ(ChooseStartPlace(off, {kLaptop}, kLaptop), fallback);
  // Smaller than the window may be: the minimum size at the same corner.
  const RememberedPlace tiny{kLaptop.monitor, 10, 20, 300, 200, false};
  EXPECT_EQ(ChooseStartPlace(tiny, {kLaptop}, kLaptop),
            (StartPlace{Bounds{10, 20, 970, 660}, false}));
}

TEST(PlaceFileTest, OneExactFormatAndNothingElse) {
  const RememberedPlace place{{-2560, -200, 0, 1240}, 12, -3, 1000, 700, true};
  const std::string text = FormatPlace(place);
  EXPECT_EQ(text, "vardeko-window 1 -2560 -200 0 1240 12 -3 1000 700 1\n");
  EXPECT_EQ(ParsePlace(text), place);

  const std::string good = "vardeko-window 1 0 0 1920 1080 100 80 1320 880 0\n";
  ASSERT_TRUE(ParsePlace(good));
  const char* const hostile[] = {
      "",
      "\n",
      "vardeko-window 1 0 0 1920 1080 100 80 1320 880 0",  // no line end
      "vardeko-window 1 0 0 1920 1080 100 80 1320 880 0\r\n",
      "vardeko-window 1 0 0 1920 1080 100 80 1320 880 0\n\n",
      "vardeko-window 2 0 0 1920 1080 100 80 1320 880 0\n",  // another version
      "Vardeko-window 1 0 0 1920 1080 100 80 1320 880 0\n",
      "vardeko-window 1 0 0 1920 1080 100 80 1320 880\n",  // a value short
      "vardeko-window 1 0 0 1920 1080 100 80 1320 880 0 0\n",
      "vardeko-window 1  0 0 1920 1080 100 80 1320 880 0\n",  // two spaces
      " vardeko-window 1 0 0 1920 1080 100 80 1320 880 0\n",
      "vardeko-window 1 0 0 1920 1080 100 80 1320 880 0 \n",
      "vardeko-window\t1 0 0 1920 1080 100 80 1320 880 0\n",
      "vardeko-window 1 0 0 1920 1080 +100 80 1320 880 0\n",
      "vardeko-window 1 0 0 1920 1080 0100 80 1320 880 0\n",
      "vardeko-window 1 -0 0 1920 1080 100 80 1320 880 0\n",
      "vardeko-window 1 0 0 1920 1080 1e2 80 1320 880 0\n",
      "vardeko-window 1 0 0 1920 1080 100 80 1320 880 2\n",  // not a state
      "vardeko-window 1 0 0 1920 1080 100 80 0 880 0\n",     // no width
      "vardeko-window 1 0 0 1920 1080 100 80 -1320 880 0\n",
      "vardeko-window 1 1920 0 1920 1080 100 80 1320 880 0\n",  // empty monitor
      "vardeko-window 1 0 0 1920 1080 100 80 100001 880 0\n",   // beyond any screen
      "vardeko-window 1 0 0 1920 1080 100 80 2147483648 880 0\n",
      "vardeko-window 1 0 0 1920 1080 100 80 99999999999999999999 880 0\n",
  };
  for (const char* bad : hostile) EXPECT_EQ(ParsePlace(bad), std::nullopt) << bad;
  EXPECT_EQ(ParsePlace(good.substr(0, good.size() - 1) + '\0' + '\n'), std::nullopt);
  // Longer than the file may be, even when it would parse.
  EXPECT_EQ(ParsePlace(std::string(200, ' ') + good), std::nullopt);
}

TEST(PlaceFileTest, SavedThroughATemporaryFileAndDamageIsIgnored) {
  TempDir data;
  EXPECT_EQ(LoadPlace(data.path()), std::nullopt);
  const RememberedPlace place{{0, 0, 1920, 1080}, 100, 80, 1320, 880, false};
  data.Write("window-place.txt.tmp", "left by a dead run");
  ASSERT_TRUE(SavePlace(data.path(), place));
  EXPECT_EQ(LoadPlace(data.path()), place);
  EXPECT_FALSE(std::filesystem::exists(data.path() / "window-place.txt.tmp"));

  data.Write("window-place.txt", "vardeko-window 1 0 0 1920 1080 100 80 1320 880 7\n");
  EXPECT_EQ(LoadPlace(data.path()), std::nullopt);
  data.Write("window-place.txt", std::string(1 << 20, 'x'));
  EXPECT_EQ(LoadPlace(data.path()), std::nullopt);
  // The next close replaces it.
  ASSERT_TRUE(SavePlace(data.path(), place));
  EXPECT_EQ(LoadPlace(data.path()), place);
  // Not a regular file.
  std::filesystem::remove(data.path() / "window-place.txt");
  std::filesystem::create_directory(data.path() / "window-place.txt");
  EXPECT_EQ(LoadPlace(data.path()), std::nullopt);
}

}  // namespace
}  // namespace vardeko::testing
