#include "shell/main_window.h"

#include <gtest/gtest.h>

#include "fakes/dispatcher_harness.h"

namespace vardeko::testing {
namespace {

using Log = std::vector<std::string>;

TEST(HitTestTest, BandsFollowDpiAndTheirOrder) {
  const Bounds window{100, 200, 1420, 1080};
  const auto hit = [&](int x, int y, unsigned dpi = 96) {
    return HitTestResizeBorder(x, y, window, dpi, false);
  };
  EXPECT_EQ(hit(103, 203), HitZone::kTopLeft);
  EXPECT_EQ(hit(1416, 203), HitZone::kTopRight);
  EXPECT_EQ(hit(103, 1076), HitZone::kBottomLeft);
  EXPECT_EQ(hit(1416, 1076), HitZone::kBottomRight);
  EXPECT_EQ(hit(700, 1077), HitZone::kBottom);
  EXPECT_EQ(hit(700, 203), HitZone::kTop);
  EXPECT_EQ(hit(103, 600), HitZone::kLeft);
  EXPECT_EQ(hit(1416, 600), HitZone::kRight);
  EXPECT_EQ(hit(700, 600), std::nullopt);
  // 7 pixels at 96 DPI: the eighth pixel is client area.
  EXPECT_EQ(hit(106, 600), HitZone::kLeft);
  EXPECT_EQ(hit(107, 600), std::nullopt);
  EXPECT_EQ(hit(1413, 600), HitZone::kRight);
  EXPECT_EQ(hit(1412, 600), std::nullopt);
  // 10.5 rounds to 11 at 144 DPI.
  EXPECT_EQ(hit(110, 600, 144), HitZone::kLeft);
  EXPECT_EQ(hit(111, 600, 144), std::nullopt);
  EXPECT_EQ(HitTestResizeBorder(103, 203, window, 96, true), std::nullopt);
}

TEST(HitTestTest, LeftAndTopWinOnATinyWindow) {
  const Bounds tiny{0, 0, 10, 10};
  EXPECT_EQ(HitTestResizeBorder(5, 5, tiny, 96, false), HitZone::kTopLeft);
  EXPECT_EQ(HitTestResizeBorder(5, 9, tiny, 96, false), HitZone::kBottomLeft);
  EXPECT_EQ(HitTestResizeBorder(9, 9, tiny, 96, false), HitZone::kBottomRight);
  const Bounds narrow{0, 0, 10, 500};
  EXPECT_EQ(HitTestResizeBorder(5, 250, narrow, 96, false), HitZone::kLeft);
  EXPECT_EQ(HitTestResizeBorder(5, 495, narrow, 96, false), HitZone::kBottomLeft);
}

TEST(SizeLimitsTest, MinimumScalesAndMaximisedCoversTheWorkArea) {
  EXPECT_EQ(ComputeSizeLimits(96, std::nullopt, std::nullopt).minTrack, (Size{960, 640}));
  EXPECT_EQ(ComputeSizeLimits(144, std::nullopt, std::nullopt).minTrack, (Size{1440, 960}));
  EXPECT_EQ(ComputeSizeLimits(96, std::nullopt, std::nullopt).maximized, std::nullopt);

  // A second monitor to the right, taskbar at the bottom.
  const SizeLimits limits =
      ComputeSizeLimits(96, Bounds{1920, 0, 4480, 1440}, Bounds{1920, 0, 4480, 1392});
  ASSERT_TRUE(limits.maximized);
  EXPECT_EQ(*limits.maximized, (Placement{0, 0, Size{2560, 1392}}));
  // Taskbar on the left.
  EXPECT_EQ(*ComputeSizeLimits(96, Bounds{0, 0, 1920, 1080}, Bounds{48, 0, 1920, 1080}).maximized,
            (Placement{48, 0, Size{1872, 1080}}));
}

class CloseTest : public ::testing::Test {
 protected:
  DispatcherHarness harness;
};

TEST_F(CloseTest, BeforeLoadTheWindowClosesAtOnce) {
  HandleCloseAttempt(harness.host);
  EXPECT_EQ(harness.Log(), Log{"window destroy"});
}

TEST_F(CloseTest, AfterLoadEachAttemptOnlyAsksThePage) {
  harness.host.pageLoaded = true;
  HandleCloseAttempt(harness.host);
  HandleCloseAttempt(harness.host);
  EXPECT_EQ(harness.Log(),
            (Log{R"(page {"event":"close-requested"})", R"(page {"event":"close-requested"})"}));
  harness.host.closing = true;  // the page's windowControl "close"
  HandleCloseConfirmed(harness.host);
  EXPECT_EQ(harness.Log(), Log{"window destroy"});
}

TEST_F(CloseTest, AfterAProcessExitOrAConfirmationTheWindowClosesAtOnce) {
  harness.host.pageLoaded = true;
  harness.host.closing = true;
  HandleCloseAttempt(harness.host);
  harness.host.closing = false;
  harness.host.pageLoaded = false;  // cleared by a process exit
  HandleCloseAttempt(harness.host);
  harness.host.pageLoaded = true;
  harness.host.webview.reset();
  HandleCloseAttempt(harness.host);
  EXPECT_EQ(harness.Log(), (Log{"window destroy", "window destroy", "window destroy"}));
}

TEST_F(CloseTest, SizeKeepsTheControllerInStepAndDestroyReleasesInOrder) {
  harness.host.controller = std::make_unique<RecordingController>(harness.browser);
  harness.window.clientBounds = {0, 0, 1980, 1320};
  HandleSize(harness.host, true);
  HandleSize(harness.host, false);
  // Restored from minimised: the browser leaves the resize band free and takes the focus.
  EXPECT_EQ(harness.Log(), (Log{"controller.visible false", "controller.visible true",
                                "controller.bounds 7,7,1973,1313", "controller.moveFocus"}));
  harness.window.maximized = true;
  HandleSize(harness.host, false);  // a plain resize: the focus stays where it is
  EXPECT_EQ(harness.Log(), (Log{"controller.visible true", "controller.bounds 0,0,1980,1320"}));
  HandleDestroy(harness.host);
  EXPECT_EQ(harness.Log(), Log{"controller.close"});
  EXPECT_FALSE(harness.host.webview || harness.host.controller || harness.host.environment);
  EXPECT_FALSE(harness.host.window);  // later completions see the window is gone
  HandleSize(harness.host, false);    // no controller: nothing to do
  EXPECT_EQ(harness.Log(), Log{});
}

TEST_F(CloseTest, ActivationMovesTheFocusInAndMovesAreReported) {
  HandleActivate(harness.host, true, false);
  HandleMove(harness.host);  // before the browser exists: nothing to tell
  harness.host.controller = std::make_unique<RecordingController>(harness.browser);
  HandleActivate(harness.host, true, false);
  HandleActivate(harness.host, false, false);
  HandleActivate(harness.host, true, true);  // minimised: the restore moves it
  HandleMove(harness.host);
  EXPECT_EQ(harness.Log(), (Log{"controller.moveFocus", "controller.parentMoved"}));
}

TEST_F(CloseTest, EndOfSessionIsHeldUpOnlyWhileThePageHasUnsavedInput) {
  const std::string reason =
      "window block session end 有未保存的内容，请在 Vardeko 中确认后再关机。";
  // No page yet, then a page with nothing unsaved: the session ends, nothing is asked.
  EXPECT_TRUE(HandleQueryEndSession(harness.host));
  harness.host.pageLoaded = true;
  EXPECT_TRUE(HandleQueryEndSession(harness.host));
  EXPECT_EQ(harness.Log(), Log{});

  // The reason is registered when input becomes unsaved, once per change.
  SetUnsavedInput(harness.host, true);
  SetUnsavedInput(harness.host, true);
  EXPECT_EQ(harness.Log(), Log{reason});
  EXPECT_FALSE(HandleQueryEndSession(harness.host));
  EXPECT_EQ(harness.Log(), Log{R"(page {"event":"close-requested"})"});
  // Called off by the user: the input is still unsaved, so the reason stays.
  HandleEndSession(harness.host, false, false);
  EXPECT_EQ(harness.Log(), Log{});
  // The Restart Manager closing the program: a close attempt as the user's.
  HandleEndSession(harness.host, true, true);
  EXPECT_EQ(harness.Log(), Log{R"(page {"event":"close-requested"})"});
  // A renderer that does not answer cannot be asked: the session ends.
  harness.host.lastUnresponsive = HostClock::now();
  EXPECT_TRUE(HandleQueryEndSession(harness.host));
  harness.host.lastUnresponsive.reset();

  // Saved: the reason goes.
  SetUnsavedInput(harness.host, false);
  EXPECT_EQ(harness.Log(), Log{"window allow session end"});
  EXPECT_TRUE(HandleQueryEndSession(harness.host));
  // The session ends: the window goes with the browser, without asking.
  HandleEndSession(harness.host, true, false);
  EXPECT_EQ(harness.Log(), Log{"window destroy"});
  EXPECT_TRUE(harness.host.closing);
}

TEST_F(CloseTest, CloseConfirmedActsOnlyAfterThePagesOwnClose) {
  harness.host.pageLoaded = true;
  SetUnsavedInput(harness.host, true);
  harness.Log();
  // Any program can post the message value: without the page's close it does nothing.
  HandleCloseConfirmed(harness.host);
  EXPECT_EQ(harness.Log(), Log{});
  harness.host.closing = true;  // as windowControl "close" sets it
  HandleCloseConfirmed(harness.host);
  EXPECT_EQ(harness.Log(), (Log{"window allow session end", "window destroy"}));
}

HostClock::time_point g_testNow;
HostClock::time_point TestNow() { return g_testNow; }

TEST_F(CloseTest, AnUnresponsiveReportCountsForTenSeconds) {
  harness.host.pageLoaded = true;
  harness.host.now = &TestNow;
  g_testNow = HostClock::time_point(std::chrono::hours(1));
  harness.host.lastUnresponsive = g_testNow;
  EXPECT_EQ(DecideClose(harness.host), CloseAction::kDestroy);
  g_testNow += kUnresponsiveHold - std::chrono::milliseconds(1);
  EXPECT_EQ(DecideClose(harness.host), CloseAction::kDestroy);
  // No report for that long: the hang (or a busy moment) has passed; the page is asked.
  g_testNow += std::chrono::milliseconds(1);
  EXPECT_EQ(DecideClose(harness.host), CloseAction::kAskThePage);
}

TEST_F(CloseTest, ThePostedMoveStartsOnlyWhileTheButtonIsDown) {
  HandleStartMove(harness.host);
  EXPECT_EQ(harness.Log(), Log{"window drag"});
  harness.window.primaryButtonDown = false;
  HandleStartMove(harness.host);
  EXPECT_EQ(harness.Log(), Log{});
}

TEST(BrowserBoundsTest, TheResizeBandStaysUncoveredUnlessMaximised) {
  const Bounds client{0, 0, 1320, 880};
  EXPECT_EQ(BrowserBounds(client, 96, false), (Bounds{7, 7, 1313, 873}));
  EXPECT_EQ(BrowserBounds(client, 144, false), (Bounds{11, 11, 1309, 869}));
  EXPECT_EQ(BrowserBounds(client, 96, true), client);
  EXPECT_EQ(BrowserBounds(Bounds{0, 0, 10, 12}, 96, false), (Bounds{7, 7, 7, 7}));
}

TEST(PlaceFirstWindowTest, CentredInTheWorkAreaAndClampedToIt) {
  const Size minimum{960, 640};
  // Taskbar on the left of a 1920 x 1080 monitor.
  EXPECT_EQ(PlaceFirstWindow(Bounds{48, 0, 1920, 1080}, Size{1320, 880}, minimum),
            (Bounds{324, 100, 1644, 980}));
  // A second monitor above the first, taskbar at its top.
  EXPECT_EQ(PlaceFirstWindow(Bounds{0, -1040, 1920, 0}, Size{1320, 880}, minimum),
            (Bounds{300, -960, 1620, -80}));
  // Larger than the work area: as large as it.
  EXPECT_EQ(PlaceFirstWindow(Bounds{0, 40, 1280, 900}, Size{1320, 880}, minimum),
            (Bounds{0, 40, 1280, 900}));
  // Smaller than the minimum: the work area, never beyond it.
  EXPECT_EQ(PlaceFirstWindow(Bounds{0, 30, 800, 600}, Size{1320, 880}, minimum),
            (Bounds{0, 30, 800, 600}));
}

}  // namespace
}  // namespace vardeko::testing
