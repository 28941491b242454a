// The main window of the real Vardeko.exe on the stand-in runtime, under Wine on a
// display: the move loop that windowDrag posts, the end of the session, the minimum size
// on the screen there is, and the place the window remembers between runs in its data
// directory.
#include "scenario.h"

namespace vardeko::testing {
namespace {

constexpr char kStartUrl[] = "https://app.vardeko.localhost/index.html";
constexpr char kCloseRequested[] = R"("{\"event\":\"close-requested\"}")";
constexpr char kPosted[] = "ICoreWebView2.PostWebMessageAsJson ";

using Lines = std::vector<std::string>;

std::string Request(const std::string& id, const std::string& method, const json& args) {
  return json{{"id", id}, {"method", method}, {"args", args}}.dump();
}

std::string Success(const std::string& id) {
  return Quote(json{{"data", nullptr}, {"id", id}, {"ok", true}}.dump());
}

template <class Condition>
bool Eventually(Condition condition, int tries = 250) {
  for (int i = 0; i < tries; ++i) {
    if (condition()) return true;
    PumpMessages();
    std::this_thread::sleep_for(20ms);
  }
  return condition();
}

bool InMoveSize(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  return (info.flags & GUI_INMOVESIZE) != 0;
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Text(const RECT& rect) {
  return std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
         std::to_string(rect.right) + "," + std::to_string(rect.bottom);
}

MONITORINFO MonitorOf(HWND window) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
  return info;
}

RECT WorkArea() {
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  return area;
}

// Where a first window opens on the display's one monitor at 96 DPI: centred in the work
// area and clamped to it.
RECT DefaultRect() {
  const RECT area = WorkArea();
  const int width = std::min<int>(1320, area.right - area.left);
  const int height = std::min<int>(880, area.bottom - area.top);
  const int left = area.left + (area.right - area.left - width) / 2;
  const int top = area.top + (area.bottom - area.top - height) / 2;
  return RECT{left, top, left + width, top + height};
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

class WindowScenarioTest : public ::testing::Test {
 protected:
  WindowScenarioTest() { data_ = FreshTempFolder(L"vardeko-window-data"); }
  ~WindowScenarioTest() override {
    runs_.clear();
    std::error_code ignored;
    std::filesystem::remove_all(data_, ignored);
  }

  // A new run of the program on the test's one data directory, loaded.
  Scenario& StartAndLoad() {
    runs_.push_back(std::make_unique<Scenario>());
    Scenario& run = *runs_.back();
    run.Set(L"VARDEKO_DATA_DIR", data_.wstring());
    run.Start();
    EXPECT_GE(run.WaitFor(R"(raised "NavigationCompleted")", true), 0) << "never loaded";
    EXPECT_NE(run.Window(), nullptr);
    return run;
  }

  static void CloseFromThePage(Scenario& run) {
    EXPECT_EQ(run.Post(Request("bye", "windowControl", {"close"}), kStartUrl),
              Lines{Success("bye")});
    EXPECT_EQ(run.Finish(), 0u);
  }

  std::filesystem::path PlaceFile() const { return data_ / L"window-place.txt"; }

  std::filesystem::path data_;
  std::vector<std::unique_ptr<Scenario>> runs_;
};

TEST_F(WindowScenarioTest, DragStartsTheMoveLoopAfterTheHandlerOnlyWhileTheButtonIsDown) {
  Scenario& run = StartAndLoad();
  const HWND window = run.Window();
  SetWindowPos(window, nullptr, 100, 80, 1000, 700, SWP_NOZORDER);
  ASSERT_TRUE(Eventually([&] { return SameRect(run.WindowRect(), RECT{100, 80, 1100, 780}); }));

  // The button is up: the reply, and no move loop.
  MovePointer(600, 400);
  EXPECT_EQ(run.Post(Request("up", "windowDrag", json::array()), kStartUrl), Lines{Success("up")});
  EXPECT_FALSE(Eventually([&] { return InMoveSize(window); }, 25));

  // The button is down: the handler has returned (the command is done) when the loop
  // starts, and the real pointer moves the window. Wine's loop starts from where Wine last
  // saw the pointer, which can lag behind an earlier program's on the same display: the
  // pointer is settled at the press point first.
  MovePointer(601, 401);
  MovePointer(600, 400);
  ASSERT_TRUE(Eventually([] {
    POINT pointer{};
    return GetCursorPos(&pointer) != 0 && pointer.x == 600 && pointer.y == 400;
  }));
  Button(true);
  EXPECT_EQ(run.Post(Request("down", "windowDrag", json::array()), kStartUrl),
            Lines{Success("down")});
  ASSERT_TRUE(Eventually([&] { return InMoveSize(window); })) << "no move loop";
  MovePointer(620, 415);
  MovePointer(640, 430);
  // The move loop follows the pointer from its own queue, and Wine's loop can miss a
  // move: the pointer goes a pixel back and forth to its end point until the window is
  // there (still in the loop), then the button is released.
  EXPECT_TRUE(Eventually(
      [&] {
        if (SameRect(run.WindowRect(), RECT{140, 110, 1140, 810})) return true;
        MovePointer(639, 429);
        MovePointer(640, 430);
        return false;
      },
      40))
      << Text(run.WindowRect()) << (InMoveSize(window) ? " in the move loop" : " loop ended");
  Button(false);
  EXPECT_TRUE(Eventually([&] { return !InMoveSize(window); }));
  EXPECT_TRUE(SameRect(run.WindowRect(), RECT{140, 110, 1140, 810})) << Text(run.WindowRect());
  CloseFromThePage(run);
}

// The answer the window gives to one session message.
DWORD_PTR Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR answer = 99;
  EXPECT_NE(SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 10000, &answer),
            0);
  return answer;
}

// Nothing unsaved: the session may end at once, nothing is asked, and the ending session
// closes the browser and the window (the place kept for the next run).
TEST_F(WindowScenarioTest, EndOfSessionWithNothingUnsavedEndsAtOnce) {
  Scenario& run = StartAndLoad();
  EXPECT_EQ(Send(run.Window(), WM_QUERYENDSESSION, 0, 0), 1u);
  EXPECT_EQ(Send(run.Window(), WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP), 1u);
  EXPECT_EQ(Scenario::Filter(run.Lines(), kPosted), Lines{});
  Send(run.Window(), WM_ENDSESSION, TRUE, 0);
  EXPECT_EQ(run.Finish(), 0u);
  EXPECT_GE(run.WaitFor("ICoreWebView2Controller.Close", false, 0ms), 0);
  EXPECT_TRUE(std::filesystem::exists(PlaceFile()));
}

// Unsaved input: the session waits and the page is asked; a called-off end leaves the
// program as it was; the Restart Manager's close is a close attempt as the user's.
TEST_F(WindowScenarioTest, EndOfSessionWithUnsavedInputAsksThePage) {
  Scenario& run = StartAndLoad();
  EXPECT_EQ(run.Post(Request("u", "setUnsavedInput", {true}), kStartUrl), Lines{Success("u")});
  int from = run.Count();
  EXPECT_EQ(Send(run.Window(), WM_QUERYENDSESSION, 0, 0), 0u);
  EXPECT_GE(run.WaitFor(std::string(kPosted) + kCloseRequested, false, 10s, from), 0);
  Send(run.Window(), WM_ENDSESSION, FALSE, 0);
  EXPECT_TRUE(run.process().Running());

  from = run.Count();
  EXPECT_EQ(Send(run.Window(), WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP), 0u);
  Send(run.Window(), WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
  EXPECT_EQ(Scenario::Filter(run.Slice(from, run.Count()), kPosted),
            (Lines{kCloseRequested, kCloseRequested}));
  EXPECT_TRUE(run.process().Running());

  // Saved: nothing holds the session up any more.
  EXPECT_EQ(run.Post(Request("s", "setUnsavedInput", {false}), kStartUrl), Lines{Success("s")});
  EXPECT_EQ(Send(run.Window(), WM_QUERYENDSESSION, 0, 0), 1u);
  CloseFromThePage(run);
}

TEST_F(WindowScenarioTest, EndOfSessionBeforeTheLoadEndsAtOnce) {
  runs_.push_back(std::make_unique<Scenario>());
  Scenario& run = *runs_.back();
  run.Modes(L"hold-navigation");
  run.Start();
  ASSERT_GE(run.WaitFor(R"(hold "navigation")"), 0);
  DWORD_PTR answer = 0;
  ASSERT_NE(
      SendMessageTimeoutW(run.Window(), WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 10000, &answer),
      0);
  EXPECT_EQ(answer, 1u);
  EXPECT_EQ(Scenario::Filter(run.Lines(), kPosted), Lines{});
  PostMessageW(run.Window(), WM_CLOSE, 0, 0);
  EXPECT_EQ(run.Finish(10s), 0u);
}

TEST_F(WindowScenarioTest, MovedResizedAndMaximisedWindowOpensThereAgain) {
  {
    Scenario& run = StartAndLoad();
    EXPECT_TRUE(SameRect(run.WindowRect(), DefaultRect())) << Text(run.WindowRect());
    SetWindowPos(run.Window(), nullptr, 100, 60, 1000, 700, SWP_NOZORDER);
    ASSERT_TRUE(Eventually([&] { return SameRect(run.WindowRect(), RECT{100, 60, 1100, 760}); }));
    CloseFromThePage(run);
  }
  const MONITORINFO monitor = MonitorOf(GetDesktopWindow());
  const std::string monitorText =
      std::to_string(monitor.rcMonitor.left) + " " + std::to_string(monitor.rcMonitor.top) + " " +
      std::to_string(monitor.rcMonitor.right) + " " + std::to_string(monitor.rcMonitor.bottom);
  EXPECT_EQ(ReadAll(PlaceFile()), "vardeko-window 1 " + monitorText + " " +
                                      std::to_string(100 - monitor.rcMonitor.left) + " " +
                                      std::to_string(60 - monitor.rcMonitor.top) + " 1000 700 0\n");
  EXPECT_FALSE(std::filesystem::exists(data_ / L"window-place.txt.tmp"));
  {
    Scenario& run = StartAndLoad();
    EXPECT_TRUE(SameRect(run.WindowRect(), RECT{100, 60, 1100, 760})) << Text(run.WindowRect());
    // Maximised: exactly the work area; then minimised, which is remembered as maximised.
    ShowWindow(run.Window(), SW_MAXIMIZE);
    ASSERT_TRUE(Eventually([&] { return IsZoomed(run.Window()) != 0; }));
    EXPECT_TRUE(Eventually([&] {
      return SameRect(run.WindowRect(), MonitorOf(run.Window()).rcWork);
    })) << Text(run.WindowRect());
    ShowWindow(run.Window(), SW_MINIMIZE);
    ASSERT_TRUE(Eventually([&] { return IsIconic(run.Window()) != 0; }));
    CloseFromThePage(run);
  }
  {
    Scenario& run = StartAndLoad();
    ASSERT_TRUE(Eventually([&] { return IsZoomed(run.Window()) != 0; }));
    ShowWindow(run.Window(), SW_RESTORE);
    EXPECT_TRUE(Eventually([&] {
      return SameRect(run.WindowRect(), RECT{100, 60, 1100, 760});
    })) << Text(run.WindowRect());
    CloseFromThePage(run);
  }
}

// On a screen smaller than 960 x 640 (run the display suite with "-screen 0 800x600x24")
// the minimum is the work area; on a larger one, the logical minimum.
TEST_F(WindowScenarioTest, ShrunkWindowStopsAtTheMinimumThatFitsTheScreen) {
  Scenario& run = StartAndLoad();
  const RECT area = WorkArea();
  const int width = std::min<int>(960, area.right - area.left);
  const int height = std::min<int>(640, area.bottom - area.top);
  EXPECT_TRUE(SameRect(run.WindowRect(), DefaultRect())) << Text(run.WindowRect());
  SetWindowPos(run.Window(), nullptr, area.left, area.top, 200, 150, SWP_NOZORDER);
  EXPECT_TRUE(Eventually([&] {
    return SameRect(run.WindowRect(),
                    RECT{area.left, area.top, area.left + width, area.top + height});
  })) << Text(run.WindowRect());
  CloseFromThePage(run);
}

TEST_F(WindowScenarioTest, DamagedFileOrAnAbsentMonitorOpensAtTheDefault) {
  const std::string absent = "vardeko-window 1 5000 0 6280 1024 100 60 1000 700 0\n";
  for (const std::string& text : {std::string("vardeko-window 1 0 0 garbage\n"), absent}) {
    std::ofstream(PlaceFile(), std::ios::binary) << text;
    Scenario& run = StartAndLoad();
    EXPECT_TRUE(SameRect(run.WindowRect(), DefaultRect())) << Text(run.WindowRect());
    CloseFromThePage(run);
    // Replaced at the close by the place the window had.
    EXPECT_TRUE(ReadAll(PlaceFile()).starts_with("vardeko-window 1 ")) << ReadAll(PlaceFile());
    EXPECT_NE(ReadAll(PlaceFile()), text);
  }
}

}  // namespace
}  // namespace vardeko::testing

int wmain(int argc, wchar_t** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: standin_window_scenarios VARDEKO.EXE WEBVIEW2LOADER.DLL\n");
    return 2;
  }
  vardeko::testing::g_paths = {argv[1], argv[2], {}};
  return RUN_ALL_TESTS();
}
