// The real Vardeko.exe on the stand-in browser runtime, under Wine on a display: each
// scenario starts the program with a fresh data directory, drives it through the
// stand-in (events of the browser) and through the window (real pointer and keyboard
// input), and checks what the program did, exactly, and that it released everything.
#include <algorithm>

#include "scenario.h"

namespace vardeko::testing {
namespace {

constexpr char kStartUrl[] = "https://app.vardeko.localhost/index.html";
constexpr char kOrigin[] = "https://app.vardeko.localhost";
constexpr char kNoSniff[] = "X-Content-Type-Options: nosniff\r\n";
constexpr char kHeaders[] =
    "Content-Type: text/html; charset=utf-8\r\n"
    "Content-Security-Policy: default-src 'self'; script-src 'self'; style-src 'self' "
    "'unsafe-inline'; img-src 'self' data: blob:; font-src 'self' data:; connect-src 'none'; "
    "object-src 'none'; base-uri 'self'; frame-src 'none'\r\n"
    "X-Content-Type-Options: nosniff\r\n";
constexpr wchar_t kStartupFailureText[] = L"Vardeko 未能启动，请检查安装文件和后端地址后重试。";
constexpr wchar_t kWebViewFailureText[] =
    L"无法启动 WebView2。请重新运行 Vardeko 安装程序，检查或安装运行时。";
constexpr wchar_t kLoadFailureText[] = L"界面未能载入，请重新安装 Vardeko。";
constexpr char kCloseRequested[] = R"("{\"event\":\"close-requested\"}")";

using Lines = std::vector<std::string>;

// The calls the program made, without the stand-in's own notes (focus, events).
const Lines kCalls = {"ICoreWebView2", "CreateCoreWebView2EnvironmentWithOptions"};

std::string Request(const std::string& id, const std::string& method, const json& args) {
  return json{{"id", id}, {"method", method}, {"args", args}}.dump();
}

// The configuration the program applies to a new browser, in order, up to the resize.
Lines ConfigureCalls(bool devTools, bool acceleratorKeys) {
  const auto flag = [](bool value) { return value ? std::string("true") : std::string("false"); };
  return {"ICoreWebView2Controller.get_CoreWebView2",
          "ICoreWebView2.get_Settings",
          "ICoreWebView2Settings.put_AreHostObjectsAllowed false",
          "ICoreWebView2Settings.put_IsStatusBarEnabled false",
          "ICoreWebView2Settings.put_AreDefaultContextMenusEnabled false",
          "ICoreWebView2Settings.put_AreDevToolsEnabled " + flag(devTools),
          "ICoreWebView2Settings.put_IsZoomControlEnabled false",
          "ICoreWebView2Settings.put_AreDefaultScriptDialogsEnabled false",
          R"(ICoreWebView2Settings.QueryInterface "ICoreWebView2Settings3" true)",
          "ICoreWebView2Settings3.put_AreBrowserAcceleratorKeysEnabled " + flag(acceleratorKeys),
          R"(ICoreWebView2Settings.QueryInterface "ICoreWebView2Settings4" true)",
          "ICoreWebView2Settings4.put_IsGeneralAutofillEnabled false",
          "ICoreWebView2Settings4.put_IsPasswordAutosaveEnabled false",
          R"(ICoreWebView2Settings.QueryInterface "ICoreWebView2Settings5" true)",
          "ICoreWebView2Settings5.put_IsPinchZoomEnabled false",
          R"(ICoreWebView2Settings.QueryInterface "ICoreWebView2Settings6" true)",
          "ICoreWebView2Settings6.put_IsSwipeNavigationEnabled false",
          R"(ICoreWebView2Settings.QueryInterface "ICoreWebView2Settings9" true)",
          "ICoreWebView2Settings9.put_IsNonClientRegionSupportEnabled true",
          R"(ICoreWebView2Controller.QueryInterface "ICoreWebView2Controller2" true)",
          "ICoreWebView2Controller2.put_DefaultBackgroundColor 255 13 22 33",
          "ICoreWebView2Controller.put_IsVisible true",
          "ICoreWebView2.add_ProcessFailed",
          "ICoreWebView2.add_WebMessageReceived",
          "ICoreWebView2.add_NavigationStarting",
          "ICoreWebView2.add_FrameNavigationStarting",
          "ICoreWebView2.add_NewWindowRequested",
          "ICoreWebView2.add_PermissionRequested",
          R"(ICoreWebView2.QueryInterface "ICoreWebView2_4" true)",
          "ICoreWebView2_4.add_DownloadStarting",
          "ICoreWebView2.add_NavigationCompleted"};
}

// The loader call with the user data folder and the options as the runtime reads them.
std::string EnvironmentCall(const Scenario& run, const std::string& arguments) {
  return "CreateCoreWebView2EnvironmentWithOptions null " + QuotePath(run.data() / L"WebView2") +
         " " +
         json{{"AdditionalBrowserArguments", arguments},
              {"AllowSingleSignOnUsingOSPrimaryAccount", false},
              {"Language", "zh-CN"},
              {"TargetCompatibleBrowserVersion", "152.0.4191.47"},
              {"interfaces",
               {{"ICoreWebView2EnvironmentOptions", true},
                {"ICoreWebView2EnvironmentOptions2", false},
                {"IUnknown", true}}}}
             .dump();
}

// No folder mapping: every request for the private origin comes to the program.
Lines ServeRendererCalls() {
  return {R"(ICoreWebView2.AddWebResourceRequestedFilter "https://app.vardeko.localhost/*" 0)",
          "ICoreWebView2.add_WebResourceRequested"};
}

std::string Bounds(int left, int top, int right, int bottom) {
  return "ICoreWebView2Controller.put_Bounds " + std::to_string(left) + " " + std::to_string(top) +
         " " + std::to_string(right) + " " + std::to_string(bottom);
}

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Everything the program does with a new controller, for a window of the given size: the
// configuration, serving the renderer folder (normal runs), the browser's place clear of
// the resize band, the navigation and the focus.
Lines BringUpCalls(const Lines& configure, const RECT& window, const std::string& startUrl) {
  const int width = window.right - window.left;
  const int height = window.bottom - window.top;
  return Join({configure,
               startUrl == kStartUrl ? ServeRendererCalls() : Lines{},
               {Bounds(7, 7, width - 7, height - 7), "ICoreWebView2.Navigate " + Quote(startUrl),
                "ICoreWebView2Controller.MoveFocus 0"}});
}

// The journal lines of one request the program answered: the stand-in raises it, the
// handler reads method and URI, builds the response and sets it.
Lines ServedCalls(const std::string& uri, int context, int status, const std::string& reason,
                  const std::string& headers, const std::string& body) {
  const json response{{"body", body.empty() ? json(nullptr) : json(Hex(body))},
                      {"headers", headers},
                      {"reason", reason},
                      {"status", status}};
  return {R"(raise "WebResourceRequested" )" + json{{"context", context}, {"uri", uri}}.dump(),
          "ICoreWebView2WebResourceRequestedEventArgs.get_Request",
          "ICoreWebView2WebResourceRequest.get_Method",
          "ICoreWebView2WebResourceRequest.get_Uri",
          "ICoreWebView2Environment.CreateWebResourceResponse " +
              std::string(body.empty() ? "false " : "true ") + std::to_string(status) + " " +
              Quote(reason) + " " + Quote(headers),
          "ICoreWebView2WebResourceRequestedEventArgs.put_Response true",
          R"(raised "WebResourceRequested" )" +
              json{{"filtered", true}, {"response", response}, {"results", {"0x00000000"}}}.dump()};
}

// The start document and every file it links, each answered by the program.
Lines StartDocumentLoadCalls() {
  Lines calls = ServedCalls(kStartUrl, 1, 200, "OK", kHeaders, kIndexHtml);
  const auto file = [](const std::wstring& path) {
    for (const auto& [name, bytes] : kLinkedFiles) {
      if (name == path) return bytes;
    }
    return std::string();
  };
  const std::string origin = kOrigin;
  for (const Lines& linked :
       {ServedCalls(origin + "/favicon.ico", 3, 200, "OK",
                    std::string("Content-Type: image/x-icon\r\n") + kNoSniff, file(L"favicon.ico")),
        ServedCalls(origin + "/assets/app.js", 6, 200, "OK",
                    std::string("Content-Type: text/javascript; charset=utf-8\r\n") + kNoSniff,
                    file(L"assets\\app.js")),
        ServedCalls(origin + "/assets/style.css", 2, 200, "OK",
                    std::string("Content-Type: text/css; charset=utf-8\r\n") + kNoSniff,
                    file(L"assets\\style.css")),
        ServedCalls(origin + "/images/%E8%B4%A6%E6%9C%AC.png", 3, 200, "OK",
                    std::string("Content-Type: image/png\r\n") + kNoSniff,
                    file(L"images\\账本.png"))}) {
    calls.insert(calls.end(), linked.begin(), linked.end());
  }
  return calls;
}

// The program's calls while it handled the controller's completion.
Lines ControllerCompletionCalls(const Scenario& run) {
  const int from = run.WaitFor(R"(raise "ControllerCompleted")", true);
  const int to = run.WaitFor(R"(raised "ControllerCompleted")", true);
  return run.Slice(from + 1, to, {"ICoreWebView2"});
}

RECT WorkArea() {
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  return area;
}

void Type(wchar_t key) {
  INPUT inputs[2]{};
  for (INPUT& input : inputs) {
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = static_cast<WORD>(key);
  }
  inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, inputs, sizeof(INPUT));
}

// Waits until `condition` holds, up to five seconds.
template <class Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 250; ++i) {
    if (condition()) return true;
    PumpMessages();
    std::this_thread::sleep_for(20ms);
  }
  return condition();
}

// What the program did with an event: the outcome the stand-in recorded after raising it.
json Outcome(const Lines& lines, const std::string& event) {
  const std::string prefix = "raised \"" + event + "\" ";
  for (const std::string& line : lines) {
    if (line.rfind(prefix, 0) == 0) return json::parse(line.substr(prefix.size()));
  }
  return nullptr;
}

// A reply as the journal shows the text handed to PostWebMessageAsJson.
std::string Reply(const json& value) { return Quote(value.dump()); }

json Failure(const std::string& id, const std::string& code, const std::string& message) {
  return {{"error", {{"code", code}, {"message", message}}}, {"id", id}, {"ok", false}};
}

json Success(const std::string& id) { return {{"data", nullptr}, {"id", id}, {"ok", true}}; }

HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  return info.hwndFocus;
}

// Whether the window's thread runs the system's move or size loop.
bool InMoveSize(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  return (info.flags & GUI_INMOVESIZE) != 0;
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// A top-level window of the test's own, to take the foreground from the program.
class OtherWindow {
 public:
  OtherWindow() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"StandinScenarioOther";
    RegisterClassExW(&windowClass);
    window_ = CreateWindowExW(0, L"StandinScenarioOther", L"other", WS_OVERLAPPEDWINDOW, 0, 0, 300,
                              200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(window_, SW_SHOW);
  }
  ~OtherWindow() { DestroyWindow(window_); }
  OtherWindow(const OtherWindow&) = delete;
  OtherWindow& operator=(const OtherWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_;
};

class ScenarioTest : public ::testing::Test {
 protected:
  // Starts the program and waits until its start page has loaded.
  void StartAndLoad() {
    run.Start();
    ASSERT_GE(run.WaitFor(R"(raised "NavigationCompleted")", true), 0) << "never loaded";
    ASSERT_NE(run.Window(), nullptr);
  }

  // A close attempt, as the user's: whether the page was asked (the window stays).
  bool CloseAsksThePage() {
    const int from = run.Count();
    PostMessageW(run.Window(), WM_CLOSE, 0, 0);
    return run.WaitFor(std::string("ICoreWebView2.PostWebMessageAsJson ") + kCloseRequested, false,
                       10s, from) >= 0;
  }

  // The page confirms the close: success reply, then the process ends with 0 and has
  // released everything.
  void CloseFromThePage() {
    EXPECT_EQ(run.Post(Request("bye", "windowControl", {"close"}), kStartUrl),
              Lines{Reply(Success("bye"))});
    EXPECT_EQ(run.Finish(), 0u);
  }

  // What a user's environment may hold for the runtime's loader: another debugging port,
  // user data folder, channel and browser, a wait for a script debugger, in any case.
  void SetLoaderVariables() {
    run.Set(L"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", L"--remote-debugging-port=9333");
    run.Set(L"WEBVIEW2_USER_DATA_FOLDER", (run.data() / L"elsewhere").wstring());
    run.Set(L"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE", L"1");
    run.Set(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", L"C:\\browser");
    run.Set(L"WEBVIEW2_WAIT_FOR_SCRIPT_DEBUGGER", L"true");
    run.Set(L"webview2_pipe_for_script_debugger", L"vardeko");
    run.Set(L"WEBVIEW2_CHANNEL_SEARCH_KIND", L"1");
    run.Set(L"WEBVIEW2_RELEASE_CHANNELS", L"4");
    run.Set(L"WEBVIEW2_DEFAULT_BACKGROUND_COLOR", L"0");
  }

  // The program's answer to one request the page makes: status, reason, headers, body
  // (hex, or null); null when the program was not asked.
  json Fetch(const std::string& uri, int context = 6, const std::string& method = "GET") {
    const json outcome = Outcome(
        run.Command({{"do", "resource"}, {"uri", uri}, {"context", context}, {"method", method}}),
        "WebResourceRequested");
    return outcome.at("filtered") ? outcome.at("response") : json(nullptr);
  }

  // The box the program shows, with its caption and text; dismissed, then the exit code.
  std::optional<DWORD> ExpectBoxThenExit(const wchar_t* text) {
    HWND box = run.process().WaitForMessageBox(30s);
    EXPECT_NE(box, nullptr) << "no message box";
    if (box != nullptr) {
      EXPECT_EQ(WindowText(box), L"Vardeko");
      EXPECT_EQ(MessageBoxText(box), text);
      DismissMessageBox(box);
    }
    return run.Finish();
  }

  Scenario run;
};

TEST_F(ScenarioTest, NormalRunCreatesTheBrowserInOrderServesEveryPageFileAndOpensCentred) {
  SetLoaderVariables();
  const auto started = std::chrono::steady_clock::now();
  run.Start();
  // From the navigation to the loaded page: no lookup of the private name delays it.
  ASSERT_GE(run.WaitFor(R"(ICoreWebView2.Navigate ")", true), 0);
  const auto navigated = std::chrono::steady_clock::now();
  ASSERT_GE(run.WaitFor(R"(raised "NavigationCompleted")", true), 0) << "never loaded";
  const auto loading = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - navigated);
  RecordProperty("navigation_to_loaded_ms", static_cast<int>(loading.count()));
  RecordProperty("start_to_loaded_ms",
                 static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - started)
                                      .count()));
  EXPECT_LT(loading, 1500ms);
  ASSERT_NE(run.Window(), nullptr);
  const Lines lines = run.Lines();
  const HWND window = run.Window();
  const std::string parent = std::to_string(reinterpret_cast<std::uintptr_t>(window));

  // The first window: centred in the work area and clamped to it.
  const RECT area = WorkArea();
  const int width = std::max(std::min<int>(1320, area.right - area.left), 960);
  const int height = std::max(std::min<int>(880, area.bottom - area.top), 640);
  const RECT placed = run.WindowRect();
  EXPECT_EQ(placed.left, area.left + (area.right - area.left - width) / 2);
  EXPECT_EQ(placed.top, area.top + (area.bottom - area.top - height) / 2);
  EXPECT_EQ(placed.right - placed.left, width);
  EXPECT_EQ(placed.bottom - placed.top, height);

  const Lines expected =
      Join({{EnvironmentCall(run, ""), R"(raise "EnvironmentCompleted" {"result":"0x00000000"})",
             "ICoreWebView2Environment.CreateCoreWebView2Controller " + parent,
             R"(raised "EnvironmentCompleted" {"results":["0x00000000"]})",
             R"(raise "ControllerCompleted" {"result":"0x00000000"})"},
            BringUpCalls(ConfigureCalls(false, false), placed, kStartUrl),
            {R"(raised "ControllerCompleted" {"results":["0x00000000"]})",
             R"(raise "NavigationStarting" {"uri":"https://app.vardeko.localhost/index.html"})",
             "ICoreWebView2NavigationStartingEventArgs.get_Uri",
             R"(raised "NavigationStarting" {"cancel":false,"results":["0x00000000"]})"},
            StartDocumentLoadCalls(),
            {R"(raise "NavigationCompleted" {"status":0,"success":true})",
             "ICoreWebView2NavigationCompletedEventArgs.get_IsSuccess",
             R"(raised "NavigationCompleted" {"results":["0x00000000"]})"}});
  EXPECT_EQ(run.Slice(1, static_cast<int>(lines.size()), Join({kCalls, {"raise"}})), expected);
  EXPECT_EQ(run.Slice(0, static_cast<int>(lines.size()), {"resolving", "served-by-mapping"}),
            Lines{});
  EXPECT_EQ(run.Slice(0, static_cast<int>(lines.size()), {"loader-"}),
            Lines{"loader-variables {}"});
  EXPECT_TRUE(std::filesystem::is_directory(run.data() / L"WebView2"));

  // The browser's window covers the client area but the resize band.
  const RECT browser = run.BrowserRect();
  EXPECT_EQ(browser.left, 7);
  EXPECT_EQ(browser.top, 7);
  EXPECT_EQ(browser.right, width - 7);
  EXPECT_EQ(browser.bottom, height - 7);
  CloseFromThePage();
}

TEST_F(ScenarioTest, DebugRunPassesThePortEnablesDevToolsAndTheTestMethods) {
  run.Set(L"VARDEKO_DEBUG_PORT", L"9222");
  SetLoaderVariables();
  StartAndLoad();
  // The debugging argument is the program's alone; the loader sees none of its variables.
  EXPECT_EQ(run.Slice(0, run.Count(), {"CreateCoreWebView2EnvironmentWithOptions", "loader-"}),
            (Lines{EnvironmentCall(run, "--remote-debugging-port=9222"), "loader-variables {}"}));
  EXPECT_EQ(ControllerCompletionCalls(run),
            BringUpCalls(ConfigureCalls(true, false), run.WindowRect(), kStartUrl));

  // test:window-size sets the real window's size; the browser follows it.
  EXPECT_EQ(run.Post(Request("s", "test:window-size", {1000, 700}), kStartUrl),
            Lines{Reply(Success("s"))});
  ASSERT_TRUE(Eventually([&] {
    const RECT rect = run.WindowRect();
    return rect.right - rect.left == 1000 && rect.bottom - rect.top == 700;
  }));
  EXPECT_GE(run.WaitFor(Bounds(7, 7, 993, 693)), 0);
  EXPECT_EQ(run.Post(Request("t", "test:window-size", {959, 700}), kStartUrl),
            Lines{Reply(Failure("t", "INVALID_INPUT", "窗口尺寸不正确。"))});

  // test:request-close takes the user's way: the page is asked.
  const Lines replies = run.Post(Request("r", "test:request-close", json::array()), kStartUrl);
  EXPECT_EQ(replies, Lines{Reply(Success("r"))});
  EXPECT_GE(run.WaitFor(std::string("ICoreWebView2.PostWebMessageAsJson ") + kCloseRequested), 0);
  CloseFromThePage();
}

TEST_F(ScenarioTest, DevelopmentRunUsesTheServerAndReportsItDown) {
  run.Set(L"VARDEKO_DEV_URL", L"http://localhost:5173");
  std::filesystem::remove_all(run.install() / L"renderer");  // not needed in development
  run.Start();
  const RECT window = run.WindowRect();
  // No renderer folder, developer tools and accelerator keys on.
  EXPECT_EQ(ControllerCompletionCalls(run),
            BringUpCalls(ConfigureCalls(true, true), window, "http://localhost:5173/"));
  // The stand-in has no development server to reach: the first load fails.
  EXPECT_EQ(ExpectBoxThenExit(kLoadFailureText), 0u);
}

TEST_F(ScenarioTest, GuardsLetOnlyTheStartUrlThrough) {
  StartAndLoad();
  const auto cancelled = [&](const char* what, const std::string& uri) {
    const std::string event = std::string(what) == "navigation-starting"
                                  ? "NavigationStarting"
                                  : "FrameNavigationStarting";
    const json outcome = Outcome(run.Command({{"do", what}, {"uri", uri}}), event);
    EXPECT_EQ(outcome.at("results"), json::array({"0x00000000"})) << uri;
    return outcome.at("cancel").get<bool>();
  };
  EXPECT_FALSE(cancelled("navigation-starting", kStartUrl));  // a reload
  for (const char* refused :
       {"https://app.vardeko.localhost/other.html", "https://app.vardeko.localhost/index.html?x",
        "https://app.vardeko.localhost/index.html#top", "https://APP.vardeko.localhost/index.html",
        "http://app.vardeko.localhost/index.html", "https://example.com/", "about:blank"}) {
    EXPECT_TRUE(cancelled("navigation-starting", refused)) << refused;
  }
  EXPECT_TRUE(cancelled("frame-navigation-starting", kStartUrl));
  EXPECT_TRUE(cancelled("frame-navigation-starting", "https://example.com/"));

  EXPECT_EQ(Outcome(run.Command({{"do", "new-window"}, {"uri", "https://example.com/"}}),
                    "NewWindowRequested"),
            (json{{"handled", true}, {"newWindow", false}, {"results", {"0x00000000"}}}));
  for (int kind = 0; kind <= 12; ++kind) {  // camera, microphone, location, clipboard, ...
    EXPECT_EQ(Outcome(run.Command({{"do", "permission"}, {"uri", kStartUrl}, {"kind", kind}}),
                      "PermissionRequested"),
              (json{{"state", 2}, {"results", {"0x00000000"}}}))
        << kind;  // COREWEBVIEW2_PERMISSION_STATE_DENY
  }
  EXPECT_EQ(Outcome(run.Command({{"do", "download"}}), "DownloadStarting"),
            (json{{"cancel", true}, {"results", {"0x00000000"}}}));

  // Every request for the private origin, in any context, is answered by the program;
  // nothing else is.
  const auto filtered = [&](const std::string& uri, int context) {
    return Outcome(run.Command({{"do", "resource"}, {"uri", uri}, {"context", context}}),
                   "WebResourceRequested")
        .at("filtered")
        .get<bool>();
  };
  EXPECT_TRUE(filtered(kStartUrl, 1));
  EXPECT_TRUE(filtered(kStartUrl, 6));                                      // as a script
  EXPECT_TRUE(filtered("https://app.vardeko.localhost/assets/app.js", 8));  // fetch
  EXPECT_TRUE(filtered("https://app.vardeko.localhost/index.html?x", 1));
  EXPECT_FALSE(filtered("https://app.vardeko.localhost.example/index.html", 1));
  EXPECT_FALSE(filtered("http://app.vardeko.localhost/index.html", 1));
  EXPECT_FALSE(filtered("https://example.com/", 1));
  CloseFromThePage();
}

TEST_F(ScenarioTest, CloseBeforeTheFirstLoadClosesAtOnce) {
  run.Modes(L"hold-navigation");
  run.Start();
  ASSERT_GE(run.WaitFor(R"(hold "navigation")"), 0);
  PostMessageW(run.Window(), WM_CLOSE, 0, 0);
  EXPECT_EQ(run.Finish(10s), 0u);
  EXPECT_EQ(Scenario::Filter(run.Lines(), "ICoreWebView2.PostWebMessageAsJson "), Lines{});
  EXPECT_GE(run.WaitFor("ICoreWebView2Controller.Close", false, 0ms), 0);
}

TEST_F(ScenarioTest, CloseAfterLoadAsksThePageUntilItConfirms) {
  StartAndLoad();
  EXPECT_TRUE(CloseAsksThePage());
  EXPECT_TRUE(CloseAsksThePage());  // each attempt asks again
  // A failed navigation after the load and a frame's renderer exiting leave the page up.
  EXPECT_EQ(Scenario::Filter(run.Command({{"do", "navigation-completed"}, {"success", false}}),
                             "ICoreWebView2"),
            Lines{"NavigationCompletedEventArgs.get_IsSuccess"});
  run.Command({{"do", "process-failed"}, {"kind", 3}});
  EXPECT_TRUE(CloseAsksThePage());
  EXPECT_TRUE(IsWindow(run.Window()));
  EXPECT_EQ(run.process().FindWindowOfClass(L"#32770"), nullptr);
  CloseFromThePage();
}

// A hung renderer cannot answer, so closing works at once.
TEST_F(ScenarioTest, ClosingAHungPageWorksAtOnce) {
  StartAndLoad();
  const Lines lines = run.Command({{"do", "process-failed"}, {"kind", 2}});
  EXPECT_EQ(Scenario::Filter(lines, "ICoreWebView2ProcessFailedEventArgs."),
            Lines{"get_ProcessFailedKind"});
  PostMessageW(run.Window(), WM_CLOSE, 0, 0);
  EXPECT_EQ(run.Finish(10s), 0u);
  EXPECT_EQ(Scenario::Filter(run.Lines(), "ICoreWebView2.PostWebMessageAsJson "), Lines{});
}

// One report is a busy moment: once it is old, a close asks the page again, although the
// page has said nothing since.
TEST_F(ScenarioTest, AnUnresponsiveReportExpires) {
  StartAndLoad();
  run.Command({{"do", "process-failed"}, {"kind", 2}});
  std::this_thread::sleep_for(10500ms);
  EXPECT_TRUE(CloseAsksThePage());
  EXPECT_TRUE(run.process().Running());
  CloseFromThePage();
}

// After a renderer exit the start page is loaded again; after a browser exit the browser
// is created anew from a new environment; three times a minute, then the browser box.
TEST_F(ScenarioTest, GonePagesComeBackThreeTimesAMinute) {
  StartAndLoad();
  const std::string navigate = std::string("ICoreWebView2.Navigate ") + Quote(kStartUrl);
  const std::string loaded = R"(raised "NavigationCompleted")";

  int from = run.Count();
  run.Command({{"do", "process-failed"}, {"kind", 1}});
  ASSERT_GE(run.WaitFor(navigate, false, 10s, from), 0);
  ASSERT_GE(run.WaitFor(loaded, true, 10s, from), 0);
  EXPECT_TRUE(CloseAsksThePage());

  from = run.Count();
  run.Command({{"do", "process-failed"}, {"kind", 0}});
  ASSERT_GE(run.WaitFor("ICoreWebView2Controller.Close", false, 10s, from), 0);
  ASSERT_GE(run.WaitFor(EnvironmentCall(run, ""), false, 10s, from), 0);
  ASSERT_GE(run.WaitFor(loaded, true, 10s, from), 0);
  EXPECT_EQ(run.Slice(from, run.Count(), {"ICoreWebView2Environment.CreateCoreWebView2Controller"})
                .size(),
            1u);
  EXPECT_TRUE(IsWindow(run.Browser()));
  EXPECT_TRUE(CloseAsksThePage());

  from = run.Count();
  run.Command({{"do", "process-failed"}, {"kind", 1}});
  ASSERT_GE(run.WaitFor(loaded, true, 10s, from), 0);
  // A fourth within the minute: the program gives up, as when the browser cannot start.
  run.Command({{"do", "process-failed"}, {"kind", 1}});
  EXPECT_EQ(ExpectBoxThenExit(kWebViewFailureText), 0u);
}

// Whatever happens to the start document, its request is answered: left unanswered, it
// would go on to the network, where this host name is the loopback.
TEST_F(ScenarioTest, AnUnreadableStartDocumentIsAnsweredAndTheLoadFails) {
  std::ofstream(run.install() / L"renderer" / L"index.html", std::ios::binary)
      << std::string(1048577, 'x');
  run.Start();
  EXPECT_EQ(ExpectBoxThenExit(kLoadFailureText), 0u);
  const Lines lines = run.Lines();
  const Lines served = ServedCalls(kStartUrl, 1, 500, "Internal Server Error", kNoSniff, "");
  EXPECT_NE(std::search(lines.begin(), lines.end(), served.begin(), served.end()), lines.end());
  EXPECT_EQ(Scenario::Filter(lines, "to-network "), Lines{});
}

// Any program on the desktop can post the private message values; the window takes
// replies only from its own queue and closes only after the page's own close.
TEST_F(ScenarioTest, PrivateMessagesFromOutsideDoNothing) {
  StartAndLoad();
  const int from = run.Count();
  PostMessageW(run.Window(), 0x8001, 0, static_cast<LPARAM>(0x12345678));
  PostMessageW(run.Window(), 0x8001, 0, 0);
  PostMessageW(run.Window(), 0x8002, 0, 0);
  std::this_thread::sleep_for(500ms);
  EXPECT_TRUE(run.process().Running());
  EXPECT_TRUE(IsWindow(run.Window()));
  EXPECT_EQ(Scenario::Filter(run.Slice(from, run.Count()), "ICoreWebView2.PostWebMessageAsJson "),
            Lines{});
  EXPECT_EQ(run.Post(Request("i", "appInfo", json::array()), kStartUrl).size(), 1u);
  CloseFromThePage();
}

TEST_F(ScenarioTest, AppInfoAndWindowControlActOnTheRealWindow) {
  StartAndLoad();
  const HWND window = run.Window();
  EXPECT_EQ(run.Post(Request("i", "appInfo", json::array()), kStartUrl),
            Lines{Reply({{"data",
                          {{"apiUrl", "https://ledger.vardeko.com/api"},
                           {"persistentSession", true},
                           {"runtime", "webview2"},
                           {"version", "0.9.4"}}},
                         {"id", "i"},
                         {"ok", true}})});
  RECT client{};
  const auto browserCovers = [&](int band) {
    GetClientRect(window, &client);
    return SameRect(run.BrowserRect(), RECT{band, band, client.right - band, client.bottom - band});
  };

  EXPECT_EQ(run.Post(Request("m", "windowControl", {"maximize"}), kStartUrl),
            Lines{Reply(Success("m"))});
  EXPECT_TRUE(Eventually([&] { return IsZoomed(window) && browserCovers(0); }));
  const RECT area = WorkArea();
  EXPECT_TRUE(SameRect(run.WindowRect(), area));  // the work area, not the whole screen
  EXPECT_EQ(run.Post(Request("r", "windowControl", {"maximize"}), kStartUrl),
            Lines{Reply(Success("r"))});
  EXPECT_TRUE(Eventually([&] { return !IsZoomed(window) && browserCovers(7); }));

  EXPECT_EQ(run.Post(Request("n", "windowControl", {"minimize"}), kStartUrl),
            Lines{Reply(Success("n"))});
  EXPECT_TRUE(Eventually([&] { return IsIconic(window) && !IsWindowVisible(run.Browser()); }));
  const int restoring = run.Count();
  ShowWindow(window, SW_RESTORE);  // as the taskbar does
  EXPECT_TRUE(Eventually([&] { return !IsIconic(window) && IsWindowVisible(run.Browser()); }));
  ASSERT_GE(run.WaitFor("ICoreWebView2Controller.MoveFocus 0", false, 10s, restoring), 0);
  GetClientRect(window, &client);
  Lines restored = run.Slice(restoring, run.Count(),
                             {"ICoreWebView2Controller.put_", "ICoreWebView2Controller.MoveFocus"});
  // Wine activates after the restore, which moves the focus once more.
  restored.resize(std::min<std::size_t>(restored.size(), 3));
  EXPECT_EQ(restored, (Lines{"ICoreWebView2Controller.put_IsVisible true",
                             Bounds(7, 7, client.right - 7, client.bottom - 7),
                             "ICoreWebView2Controller.MoveFocus 0"}));
  EXPECT_TRUE(browserCovers(7));

  const std::string bad = "窗口操作不正确。";
  EXPECT_EQ(run.Post(Request("a", "windowControl", {"Maximize"}), kStartUrl),
            Lines{Reply(Failure("a", "INVALID_INPUT", bad))});
  EXPECT_EQ(run.Post(Request("b", "windowControl", json::array()), kStartUrl),
            Lines{Reply(Failure("b", "INVALID_INPUT", bad))});
  EXPECT_EQ(run.Post(Request("c", "windowControl", {"close", "x"}), kStartUrl),
            Lines{Reply(Failure("c", "INVALID_INPUT", bad))});
  CloseFromThePage();
}

TEST_F(ScenarioTest, MessagesFromAnyOtherDocumentGetNoReply) {
  StartAndLoad();
  for (const json& source : {json("https://app.vardeko.localhost/index.html?x"),
                             json("https://app.vardeko.localhost/other.html"),
                             json("https://APP.vardeko.localhost/index.html"),
                             json("https://evil.example/index.html"), json(nullptr)}) {
    const Lines lines = run.Command({{"do", "web-message"},
                                     {"source", source},
                                     {"json", Request("f", "appInfo", json::array())}});
    // Not even read: the source decides first.
    EXPECT_EQ(Scenario::Filter(lines, "ICoreWebView2"),
              Lines{"WebMessageReceivedEventArgs.get_Source"})
        << source;
  }
  // A string posted by the start page is not a request either.
  EXPECT_EQ(run.Post(json(Request("s", "appInfo", json::array())).dump(), kStartUrl), Lines{});
  EXPECT_EQ(Scenario::Filter(run.Lines(), "ICoreWebView2.PostWebMessageAsJson "), Lines{});
  CloseFromThePage();
}

TEST_F(ScenarioTest, ServiceMethodGoesThroughWinHttpToTheService) {
  std::ifstream portFile(g_paths.serverPortFile);
  std::string port;
  portFile >> port;
  ASSERT_FALSE(port.empty()) << "no test service";
  run.Set(L"VARDEKO_API_URL",
          L"http://127.0.0.1:" + std::wstring(port.begin(), port.end()) + L"/api");
  StartAndLoad();
  // Answered by a worker, later: nothing at once.
  EXPECT_EQ(run.Post(Request("h", "health", json::array()), kStartUrl), Lines{});
  // The service's own error for an unknown path, passed through.
  EXPECT_GE(run.WaitFor("ICoreWebView2.PostWebMessageAsJson " +
                        Reply(Failure("h", "NOT_FOUND", "no such path"))),
            0);
  CloseFromThePage();
}

// Wine 8 reports CreateSymbolicLinkW a success and makes nothing, but follows the Unix
// links of its drives and starts Unix programs: links are made and removed by /bin/ln and
// /bin/rm. Wine shows such a link as what it leads to, so it must go before the folder is
// removed (a link to a parent folder would be followed without end).
std::string UnixPath(const std::filesystem::path& path) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) return {};
  char* name = unixName(path.c_str());
  const std::string text = name != nullptr ? name : "";
  HeapFree(GetProcessHeap(), 0, name);
  return text;
}

// Starts a Unix program; Wine's handle of it does not tell when it ends.
bool StartUnix(const std::string& command) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring line(command.begin(), command.end());
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return true;
}

class UnixLink {
 public:
  UnixLink(const std::filesystem::path& link, const std::filesystem::path& target)
      : link_(link), unixLink_(UnixPath(link.parent_path()) + "/" + Utf8Path(link.filename())) {
    const std::string unixTarget = UnixPath(target);
    made_ = !unixTarget.empty() &&
            StartUnix("Z:\\bin\\ln -s \"" + unixTarget + "\" \"" + unixLink_ + "\"") &&
            Eventually([&] { return Exists(); });
  }
  ~UnixLink() {
    if (StartUnix("Z:\\bin\\rm -f \"" + unixLink_ + "\"")) Eventually([&] { return !Exists(); });
  }
  UnixLink(const UnixLink&) = delete;
  UnixLink& operator=(const UnixLink&) = delete;
  bool made() const { return made_; }

 private:
  bool Exists() const { return GetFileAttributesW(link_.c_str()) != INVALID_FILE_ATTRIBUTES; }
  std::filesystem::path link_;
  std::string unixLink_;
  bool made_ = false;
};

TEST_F(ScenarioTest, OnlyFilesInsideTheRendererFolderAreEverServed) {
  // Beside the folder, and reached from inside it by a link and a directory link.
  const std::string secret = "the saved login of another program";
  std::ofstream(run.install() / L"secret.txt", std::ios::binary) << secret;
  const std::filesystem::path renderer = run.install() / L"renderer";
  const UnixLink file(renderer / L"link.txt", run.install() / L"secret.txt");
  const UnixLink folder(renderer / L"up", run.install());
  const UnixLink inside(renderer / L"inner.js", renderer / L"assets" / L"app.js");
  ASSERT_TRUE(file.made() && folder.made() && inside.made());
  std::filesystem::create_directories(renderer / L"folder.js");
  StartAndLoad();

  const std::string origin = kOrigin;
  const json notFound{
      {"body", nullptr}, {"headers", kNoSniff}, {"reason", "Not Found"}, {"status", 404}};
  for (const char* path : {
           "/secret.txt",
           "/../secret.txt",
           "/%2e%2e/secret.txt",
           "/assets/..%2F..%2Fsecret.txt",
           "/./index.html",
           "/assets//app.js",
           "/assets%5Capp.js",
           "/C:/windows/win.ini",
           "/C%3A%5Cwindows%5Cwin.ini",
           "/%5C%5Cserver%5Cshare%5Cx",
           "//server/share/x",
           "/app.js%00.png",
           "/app%0D.js",
           "/index.html::$DATA",
           "/index.html:x",
           "/CON",
           "/nul.txt",
           "/Aux.css",
           "/COM1.js",
           "/LPT9.png",
           "/prn",
           "/favicon.ico.",
           "/favicon.ico%20",
           "/link.txt",
           "/up/secret.txt",
           "/folder.js",
           "/missing.js",
           "/",
       }) {
    EXPECT_EQ(Fetch(origin + path), notFound) << path;
  }
  // Query and fragment do not change the name; a Chinese name is served.
  EXPECT_EQ(
      Fetch(origin + "/assets/app.js?v=1#x"),
      (json{{"body", Hex("export {};\n")},
            {"headers", std::string("Content-Type: text/javascript; charset=utf-8\r\n") + kNoSniff},
            {"reason", "OK"},
            {"status", 200}}));
  EXPECT_EQ(Fetch(origin + "/images/%E8%B4%A6%E6%9C%AC.png", 3).at("status"), 200);
  // A link is followed; where it leads decides.
  EXPECT_EQ(
      Fetch(origin + "/inner.js"),
      (json{{"body", Hex("export {};\n")},
            {"headers", std::string("Content-Type: text/javascript; charset=utf-8\r\n") + kNoSniff},
            {"reason", "OK"},
            {"status", 200}}));
  const json posted = Fetch(kStartUrl, 1, "POST");
  EXPECT_EQ(posted, (json{{"body", nullptr},
                          {"headers", std::string("Allow: GET\r\n") + kNoSniff},
                          {"reason", "Method Not Allowed"},
                          {"status", 405}}));
  // The secret's bytes never reached a response.
  for (const std::string& line : run.Lines()) {
    EXPECT_EQ(line.find(Hex(secret)), std::string::npos) << line;
  }
  CloseFromThePage();
}

// The runtime raises kind 2 every few seconds while the renderer hangs.
TEST_F(ScenarioTest, AfterAPassingHangTheFirstMessageRestoresTheCloseGuard) {
  StartAndLoad();
  const int from = run.Count();
  run.Command({{"do", "unresponsive"}, {"every", 150}});
  int seen = from;
  for (int i = 0; i < 3; ++i) {
    seen = run.WaitFor(R"(raised "ProcessFailed")", true, 10s, seen) + 1;
    ASSERT_GT(seen, 0);
  }
  run.Command({{"do", "responsive"}});
  // While unresponsive nobody could answer; once the page speaks, it is asked again.
  EXPECT_EQ(run.Post(Request("i", "appInfo", json::array()), kStartUrl).size(), 1u);
  EXPECT_TRUE(CloseAsksThePage());
  EXPECT_TRUE(run.process().Running());
  CloseFromThePage();
}

TEST_F(ScenarioTest, AHangThenACancelledNavigationShowsNothingAndKeepsRunning) {
  StartAndLoad();
  run.Command({{"do", "process-failed"}, {"kind", 2}});
  // A file dropped on the window: a navigation the guard cancels, then its completion.
  EXPECT_TRUE(Outcome(run.Command({{"do", "navigation-starting"}, {"uri", "file:///C:/a.txt"}}),
                      "NavigationStarting")
                  .at("cancel")
                  .get<bool>());
  run.Command({{"do", "navigation-completed"}, {"success", false}});
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(run.process().FindWindowOfClass(L"#32770"), nullptr);
  EXPECT_TRUE(run.process().Running());
  // Still unanswered: the close does not wait for the page.
  PostMessageW(run.Window(), WM_CLOSE, 0, 0);
  EXPECT_EQ(run.Finish(10s), 0u);
  EXPECT_EQ(Scenario::Filter(run.Lines(), "ICoreWebView2.PostWebMessageAsJson "), Lines{});
}

// A closing instance's browser still holds the user data folder for a moment; then the
// runtime fails to start once (E_FAIL, as while it updates). Each retry starts from a new
// environment.
TEST_F(ScenarioTest, PassingCreationFailuresAreRetriedAndThePageLoads) {
  run.Modes(
      L"fail-environment-completion-with:8007139f:2,fail-controller-completion-with:80004005:1");
  StartAndLoad();
  EXPECT_EQ(run.Slice(0, run.Count(), {"CreateCoreWebView2EnvironmentWithOptions "}).size(), 4u);
  EXPECT_EQ(
      run.Slice(0, run.Count(), {"ICoreWebView2Environment.CreateCoreWebView2Controller "}).size(),
      2u);
  EXPECT_EQ(run.process().FindWindowOfClass(L"#32770"), nullptr);
  CloseFromThePage();
}

TEST_F(ScenarioTest, CreationFailingEveryTimeShowsTheBrowserBoxOnce) {
  run.Modes(L"fail-controller-completion-with:8007139f:100");
  run.Start();
  EXPECT_EQ(ExpectBoxThenExit(kWebViewFailureText), 0u);
  // The first attempt and four retries, each with a new environment.
  EXPECT_EQ(run.Slice(0, run.Count(), {"CreateCoreWebView2EnvironmentWithOptions "}).size(), 5u);
  EXPECT_EQ(run.Slice(0, run.Count(), {"raise \"ControllerCompleted\""}).size(), 5u);
}

struct RuntimeFailure {
  const char* name;
  const wchar_t* modes;
  const wchar_t* text;
  DWORD exitCode;
  std::size_t environments;  // creations of an environment, retries included
};

class RuntimeFailureTest : public ScenarioTest,
                           public ::testing::WithParamInterface<RuntimeFailure> {};

TEST_P(RuntimeFailureTest, ShowsItsBoxAndEnds) {
  run.Modes(GetParam().modes);
  run.Start();
  EXPECT_EQ(ExpectBoxThenExit(GetParam().text), GetParam().exitCode);
  EXPECT_EQ(run.WaitFor("ICoreWebView2.Navigate ", true, 0ms), -1);
  // A missing runtime, a refused data folder and a browser without its view or settings
  // are not tried again; a controller that fails to start is, four times, each from a new
  // environment.
  EXPECT_EQ(run.Slice(0, run.Count(), {"CreateCoreWebView2EnvironmentWithOptions "}).size(),
            GetParam().environments);
  EXPECT_LE(
      run.Slice(0, run.Count(), {"ICoreWebView2Environment.CreateCoreWebView2Controller "}).size(),
      GetParam().environments);
}

INSTANTIATE_TEST_SUITE_P(
    EachStage, RuntimeFailureTest,
    ::testing::Values(
        RuntimeFailure{"EnvironmentCall", L"fail-environment-call", kStartupFailureText, 1, 1},
        RuntimeFailure{"EnvironmentCompletion", L"fail-environment-completion", kWebViewFailureText,
                       0, 1},
        RuntimeFailure{"ControllerCall", L"fail-controller-call", kWebViewFailureText, 0, 5},
        RuntimeFailure{"ControllerCompletion", L"fail-controller-completion", kWebViewFailureText,
                       0, 5},
        RuntimeFailure{"GetView", L"fail-get_CoreWebView2", kWebViewFailureText, 0, 1},
        RuntimeFailure{"GetSettings", L"fail-get_Settings", kWebViewFailureText, 0, 1}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(ScenarioTest, MissingOptionalInterfacesAreSkipped) {
  // The folder mapping's interface (ICoreWebView2_3) is not needed either.
  run.Modes(
      L"missing:ICoreWebView2Settings3,missing:ICoreWebView2Settings4,"
      L"missing:ICoreWebView2Settings5,missing:ICoreWebView2Settings6,"
      L"missing:ICoreWebView2Settings9,missing:ICoreWebView2Controller2,"
      L"missing:ICoreWebView2_3,missing:ICoreWebView2_4");
  StartAndLoad();
  Lines configure;
  for (const std::string& call : ConfigureCalls(false, false)) {
    const auto has = [&call](const char* part) { return call.find(part) != std::string::npos; };
    if (has("Settings3") || has("Settings4") || has("Settings5") || has("Settings6") ||
        has("Settings9") || has("Controller2") || has("_4")) {
      if (call.find("QueryInterface") != std::string::npos) {
        configure.push_back(call.substr(0, call.size() - 4) + "false");  // refused
      }
      continue;
    }
    configure.push_back(call);
  }
  EXPECT_EQ(ControllerCompletionCalls(run), BringUpCalls(configure, run.WindowRect(), kStartUrl));
  CloseFromThePage();
}

TEST_F(ScenarioTest, EdgesAndCornersResizeTheWindowUnderRealPointerInput) {
  run.Modes(L"trace-input");
  StartAndLoad();
  const HWND window = run.Window();
  struct Zone {
    int horizontal;  // -1 left edge, 0 middle, 1 right edge
    int vertical;
    LRESULT code;
  };
  const RECT start{140, 100, 1140, 800};
  for (const Zone& zone :
       {Zone{-1, -1, HTTOPLEFT}, Zone{1, -1, HTTOPRIGHT}, Zone{-1, 1, HTBOTTOMLEFT},
        Zone{1, 1, HTBOTTOMRIGHT}, Zone{-1, 0, HTLEFT}, Zone{1, 0, HTRIGHT}, Zone{0, -1, HTTOP},
        Zone{0, 1, HTBOTTOM}}) {
    SCOPED_TRACE(zone.code);
    // 3 pixels inside the edge: over the window itself, not the browser.
    const auto at = [](int side, LONG low, LONG high) {
      return side < 0 ? low + 3 : side > 0 ? high - 1 - 3 : (low + high) / 2;
    };
    const POINT point{at(zone.horizontal, start.left, start.right),
                      at(zone.vertical, start.top, start.bottom)};
    const std::string press = R"(input "WM_NCLBUTTONDOWN" )" + std::to_string(zone.code) + " " +
                              std::to_string(point.x) + " " + std::to_string(point.y);
    bool pressed = false;
    // Wine's virtual desktop may deliver a press where its X pointer last was; such a
    // press is let go and made again.
    for (int attempt = 0; attempt < 3 && !pressed; ++attempt) {
      SetWindowPos(window, nullptr, start.left, start.top, start.right - start.left,
                   start.bottom - start.top, SWP_NOZORDER);
      ASSERT_TRUE(Eventually([&] {
        return SameRect(run.WindowRect(), start) &&
               SameRect(run.BrowserRect(), RECT{7, 7, 993, 693});
      }));
      MovePointer(point.x, point.y);
      EXPECT_EQ(WindowFromPoint(point), window);
      EXPECT_EQ(SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(point.x, point.y)), zone.code);
      const int mark = run.Count();
      Button(true);
      const int taken = run.WaitFor("input ", true, 5s, mark);
      pressed = taken >= 0 && run.Lines()[taken] == press;
      if (!pressed) {
        Button(false);
        ASSERT_TRUE(Eventually([&] { return !InMoveSize(window); }));
      }
    }
    // The system's sizing loop, started by the press on the resize band, runs until the
    // release: a drag 30 pixels outwards resizes the window on that side.
    ASSERT_TRUE(pressed) << "the press never reached " << press;
    ASSERT_TRUE(Eventually([&] { return InMoveSize(window); }));
    const int dx = 30 * zone.horizontal;
    const int dy = 30 * zone.vertical;
    MovePointer(point.x + dx / 2, point.y + dy / 2);
    MovePointer(point.x + dx, point.y + dy);
    Button(false);
    ASSERT_TRUE(Eventually([&] { return !InMoveSize(window); }));
    const RECT expected{
        start.left + (zone.horizontal < 0 ? dx : 0), start.top + (zone.vertical < 0 ? dy : 0),
        start.right + (zone.horizontal > 0 ? dx : 0), start.bottom + (zone.vertical > 0 ? dy : 0)};
    EXPECT_TRUE(Eventually([&] { return SameRect(run.WindowRect(), expected); }))
        << run.WindowRect().left << "," << run.WindowRect().top << "," << run.WindowRect().right
        << "," << run.WindowRect().bottom;
  }
  // Inside the band the browser takes the pointer.
  EXPECT_EQ(WindowFromPoint(POINT{start.left + 7 + 10, start.top + 300}), run.Browser());
  CloseFromThePage();
}

TEST_F(ScenarioTest, KeyboardFocusFollowsStartUpActivationAndRestore) {
  StartAndLoad();
  const HWND window = run.Window();
  // After start-up: typing reaches the page without a click.
  EXPECT_TRUE(Eventually([&] { return FocusOf(window) == run.Browser(); }));
  Type(L'A');
  EXPECT_GE(run.WaitFor("child-char 97", false, 10s), 0);

  // Back from another window: the focus moves in again.
  OtherWindow other;
  SetForegroundWindow(other.get());
  ASSERT_TRUE(Eventually([&] { return GetForegroundWindow() == other.get(); }));
  const int activating = run.Count();
  SetForegroundWindow(window);
  ASSERT_TRUE(Eventually([&] { return GetForegroundWindow() == window; }));
  EXPECT_GE(run.WaitFor("ICoreWebView2Controller.MoveFocus 0", false, 10s, activating), 0);
  EXPECT_TRUE(Eventually([&] { return FocusOf(window) == run.Browser(); }));
  Type(L'B');
  EXPECT_GE(run.WaitFor("child-char 98", false, 10s), 0);

  // Restored from minimised.
  ShowWindow(window, SW_MINIMIZE);
  ASSERT_TRUE(Eventually([&] { return IsIconic(window); }));
  ShowWindow(window, SW_RESTORE);
  ASSERT_TRUE(Eventually([&] { return !IsIconic(window); }));
  EXPECT_TRUE(Eventually([&] { return FocusOf(window) == run.Browser(); }));
  SetForegroundWindow(window);
  Type(L'C');
  EXPECT_GE(run.WaitFor("child-char 99", false, 10s), 0);
  CloseFromThePage();
}

TEST_F(ScenarioTest, MovingTheWindowTellsTheController) {
  StartAndLoad();
  const HWND window = run.Window();
  const std::string told = "ICoreWebView2Controller.NotifyParentWindowPositionChanged";
  SetWindowPos(window, nullptr, 100, 80, 1000, 700, SWP_NOZORDER);
  ASSERT_TRUE(Eventually([&] { return SameRect(run.WindowRect(), RECT{100, 80, 1100, 780}); }));

  // The page starts a drag while the button is down over it; the user moves the pointer.
  int from = run.Count();
  MovePointer(600, 400);
  Button(true);
  const int drag = run.Send({{"do", "web-message"},
                             {"source", kStartUrl},
                             {"json", Request("d", "windowDrag", json::array())}});
  ASSERT_GE(run.WaitFor("ICoreWebView2.PostWebMessageAsJson " + Reply(Success("d")), false, 10s),
            0);
  MovePointer(620, 415);
  MovePointer(640, 430);
  Button(false);
  EXPECT_GE(run.WaitFor("done " + std::to_string(drag)), 0);
  EXPECT_TRUE(Eventually([&] {
    return SameRect(run.WindowRect(), RECT{140, 110, 1140, 810});
  })) << run.WindowRect().left
      << "," << run.WindowRect().top;
  EXPECT_GE(run.WaitFor(told, false, 10s, from), 0);

  // Moved by the system (a snap, another monitor).
  from = run.Count();
  SetWindowPos(window, nullptr, 50, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  EXPECT_GE(run.WaitFor(told, false, 10s, from), 0);
  CloseFromThePage();
}

// The user closes the window while the browser is still starting; a completion comes
// after the window is gone and finds nothing to do: no controller, no message box.
struct LateCompletion {
  const char* held;
  const char* event;
  const char* result;  // what the stand-in reports: the controller's parent is gone
};

class LateCompletionTest : public ScenarioTest,
                           public ::testing::WithParamInterface<LateCompletion> {};

TEST_P(LateCompletionTest, DoesNothing) {
  const std::string held = GetParam().held;
  run.Modes(L"hold-" + std::wstring(held.begin(), held.end()));
  run.Start();
  ASSERT_GE(run.WaitFor("hold " + Quote(held)), 0);
  PostMessageW(run.Window(), WM_CLOSE, 0, 0);
  run.Send({{"do", "complete"}, {"what", held}});  // queued behind the close
  EXPECT_EQ(run.Finish(10s), 0u);
  const std::string event = Quote(std::string(GetParam().event));
  const int completing = run.WaitFor(R"(command 1 "complete")", false, 0ms);
  ASSERT_GE(completing, 0);
  EXPECT_EQ(run.Slice(completing + 1, run.Count()),
            (Lines{"raise " + event + R"( {"result":")" + GetParam().result + R"("})",
                   "raised " + event + R"( {"results":["0x00000000"]})", "done 1",
                   R"(unload "process-exit")", "exit 0"}));
}

INSTANTIATE_TEST_SUITE_P(
    EnvironmentOrController, LateCompletionTest,
    ::testing::Values(LateCompletion{"environment", "EnvironmentCompleted", "0x00000000"},
                      LateCompletion{"controller", "ControllerCompleted", "0x80070578"}),
    [](const auto& test) { return std::string(test.param.event); });

}  // namespace
}  // namespace vardeko::testing

int wmain(int argc, wchar_t** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: standin_scenarios VARDEKO.EXE WEBVIEW2LOADER.DLL SERVER-PORT-FILE\n");
    return 2;
  }
  vardeko::testing::g_paths = {argv[1], argv[2], argv[3]};
  return RUN_ALL_TESTS();
}
