#include "shell/web_host.h"

#include <gtest/gtest.h>

#include "fakes/dispatcher_harness.h"
#include "fakes/fake_launch_platform.h"
#include "fakes/temp_dir.h"
#include "service/api_bridge.h"
#include "shell/launch_config.h"
#include "shell/main_window.h"

namespace vardeko::testing {
namespace {

using Log = std::vector<std::string>;

class FakeNavigation final : public NavigationStartingArgs {
 public:
  explicit FakeNavigation(std::optional<std::u16string> uri) : uri_(std::move(uri)) {}
  std::optional<std::u16string> Uri() override { return uri_; }
  void Cancel() override { cancelled = true; }
  bool cancelled = false;

 private:
  std::optional<std::u16string> uri_;
};

class FakeCompletion final : public NavigationCompletedArgs {
 public:
  explicit FakeCompletion(std::optional<bool> success) : success_(success) {}
  std::optional<bool> IsSuccess() override { return success_; }

 private:
  std::optional<bool> success_;
};

class FakeProcessFailure final : public ProcessFailedArgs {
 public:
  explicit FakeProcessFailure(int kind) : kind_(kind) {}
  std::optional<int> Kind() override { return kind_; }

 private:
  int kind_;
};

class WebHostTest : public ::testing::Test {
 protected:
  WebHostTest() {
    harness.host.webview.reset();
    harness.host.serviceClient.reset();
    install.Write("renderer/index.html", "<!doctype html><title>账本</title>");
    platform.modulePath = (install.path() / "Vardeko.exe").u16string();
    platform.environment[u"VARDEKO_DATA_DIR"] = (data.path() / "profile").u16string();
  }

  // Resolves the launch as the program does and starts the host with its service client.
  void Start(Host& host, const PageOrigin& origin = kWebView2PageOrigin) {
    const LaunchConfig config = ResolveLaunchConfig(platform, PageSource::kRendererFolder, origin);
    host.Start(config, std::make_shared<ApiBridge>(config.serviceBaseUrl, config.dataDirectory),
               runtime);
  }

  // Start, then complete environment and controller creation as the runtime would.
  void StartAndComplete() {
    Start(harness.host);
    ASSERT_TRUE(harness.browser.environmentCompleted);
    harness.browser.environmentCompleted(kBrowserOk,
                                         std::make_shared<RecordingEnvironment>(harness.browser));
    ASSERT_TRUE(harness.browser.controllerCompleted);
    harness.browser.controllerCompleted(kBrowserOk,
                                        std::make_unique<RecordingController>(harness.browser));
  }

  std::string Window() const { return std::to_string(harness.host.window.value); }

  // A box is shown only after the runtime's handler has returned: the log up to the
  // deferral, then what the deferred report did.
  Log Reported() {
    Log log = harness.Log();
    EXPECT_FALSE(log.empty() || log.back() != "runtime.runLater 0") << "no deferred report";
    if (log.empty() || log.back() != "runtime.runLater 0") return log;
    log.pop_back();
    harness.browser.delayed.back().second();
    const Log report = harness.Log();
    log.insert(log.end(), report.begin(), report.end());
    return log;
  }

  Log ConfigureLog(const std::string& devTools, const std::string& acceleratorKeys) {
    return {"view.getSettings",
            "settings.hostObjects false",
            "settings.statusBar false",
            "settings.contextMenus false",
            "settings.devTools " + devTools,
            "settings.zoom false",
            "settings.scriptDialogs false",
            "settings.acceleratorKeys " + acceleratorKeys,
            "settings.autofill false",
            "settings.passwordAutosave false",
            "settings.pinchZoom false",
            "settings.swipeNavigation false",
            "settings.nonClientRegion true",
            "controller.background 255,13,22,33",
            "controller.visible true",
            "view.addProcessFailed",
            "view.addWebMessageReceived",
            "view.addNavigationStarting",
            "view.addFrameNavigationStarting",
            "view.addNewWindowRequested",
            "view.addPermissionRequested",
            "view.addDownloadStarting",
            "view.addNavigationCompleted"};
  }

  Log NormalRunTail() {
    return {"view.addWebResourceRequestedFilter https://app.vardeko.localhost/* 0",
            "view.addWebResourceRequested", "controller.bounds 7,7,1313,873",
            "view.navigate https://app.vardeko.localhost/index.html", "controller.moveFocus"};
  }

  DispatcherHarness harness;
  RecordingRuntime runtime{harness.browser};
  FakeLaunchPlatform platform;
  TempDir install;
  TempDir data;
};

TEST_F(WebHostTest, NormalRunConfiguresInOrderWithTheLockedDownValues) {
  StartAndComplete();
  Log expected = {"runtime.createOptions", "options.language zh-CN",
                  "runtime.createEnvironment " + (data.path() / "profile" / "WebView2").string(),
                  "environment.createController " + Window(), "controller.getView"};
  for (auto& entry : ConfigureLog("false", "false")) expected.push_back(entry);
  for (auto& entry : NormalRunTail()) expected.push_back(entry);
  EXPECT_EQ(harness.Log(), expected);
  EXPECT_TRUE(std::filesystem::is_directory(data.path() / "profile"));
  EXPECT_EQ(harness.host.startUrl, kStartUrl);
  EXPECT_FALSE(harness.host.debugEnabled);
  ASSERT_TRUE(harness.host.serviceClient);
  EXPECT_EQ(harness.host.serviceClient->ApiUrl(), "https://ledger.vardeko.com/api");
}

TEST_F(WebHostTest, EachEngineServesAndNavigatesUnderItsOwnOrigin) {
  for (const PageOrigin& origin : {kWebView2PageOrigin, kWebKitPageOrigin}) {
    harness.Log();
    harness.host.webview.reset();
    Start(harness.host, origin);
    harness.browser.environmentCompleted(kBrowserOk,
                                         std::make_shared<RecordingEnvironment>(harness.browser));
    harness.browser.controllerCompleted(kBrowserOk,
                                        std::make_unique<RecordingController>(harness.browser));
    const std::string served = WideToUtf8(origin.origin);
    const Log log = harness.Log();
    EXPECT_EQ(
        std::count(log.begin(), log.end(), "view.addWebResourceRequestedFilter " + served + "/* 0"),
        1)
        << served;
    EXPECT_EQ(log.at(log.size() - 2), "view.navigate " + WideToUtf8(origin.startUrl));
    EXPECT_FALSE(IsDevelopmentMode(harness.host)) << served;
    // Developer tools stay off outside development and debug runs.
    EXPECT_EQ(std::count(log.begin(), log.end(), "settings.devTools false"), 1) << served;
  }
}

TEST_F(WebHostTest, DevelopmentRunSkipsLocalServingAndEnablesTools) {
  platform.environment[u"VARDEKO_DEV_URL"] = u"http://localhost:5173";
  std::filesystem::remove_all(install.path() / "renderer");
  StartAndComplete();
  Log log = harness.Log();
  ASSERT_GE(log.size(), 5u);
  log.erase(log.begin(), log.begin() + 5);
  Log expected = ConfigureLog("true", "true");
  expected.push_back("controller.bounds 7,7,1313,873");
  expected.push_back("view.navigate http://localhost:5173/");
  expected.push_back("controller.moveFocus");
  EXPECT_EQ(log, expected);
}

TEST_F(WebHostTest, DebugPortEnablesDevToolsButNotAcceleratorKeys) {
  platform.environment[u"VARDEKO_DEBUG_PORT"] = u"09222";
  StartAndComplete();
  Log log = harness.Log();
  EXPECT_EQ(log[1], "options.arguments --remote-debugging-port=09222");
  EXPECT_EQ(log[2], "options.language zh-CN");
  log.erase(log.begin(), log.begin() + 6);
  Log expected = ConfigureLog("true", "false");
  for (auto& entry : NormalRunTail()) expected.push_back(entry);
  EXPECT_EQ(log, expected);
  EXPECT_TRUE(harness.host.debugEnabled);
}

TEST_F(WebHostTest, OptionalInterfacesAreSkippedWhenAbsent) {
  harness.browser.script.hasAcceleratorKeySetting = false;
  harness.browser.script.hasAutofillSettings = false;
  harness.browser.script.hasBackgroundColor = false;
  harness.browser.script.hasDownloadEvent = false;
  harness.browser.script.hasGestureSettings = false;
  harness.browser.script.hasNonClientRegionSetting = false;
  harness.window.minimized = true;
  StartAndComplete();
  const Log log = harness.Log();
  for (const char* absent :
       {"settings.acceleratorKeys false", "settings.autofill false", "settings.pinchZoom false",
        "settings.swipeNavigation false", "settings.nonClientRegion true",
        "controller.background 255,13,22,33", "view.addDownloadStarting"}) {
    EXPECT_EQ(std::count(log.begin(), log.end(), absent), 0) << absent;
  }
  EXPECT_EQ(std::count(log.begin(), log.end(), "controller.visible false"), 1);
  // Minimised: the focus moves in once the window is restored, not now.
  EXPECT_EQ(log.back(), "view.navigate https://app.vardeko.localhost/index.html");
}

TEST_F(WebHostTest, StartUpFailuresThrowBeforeTheBrowserExists) {
  const auto startError = [&] {
    try {
      Host host(harness.window);
      Start(host);
    } catch (const std::exception& error) {
      return std::string(error.what());
    }
    return std::string("<started>");
  };
  harness.browser.script.results = {{"runtime.createEnvironment", kBrowserFail}};
  EXPECT_EQ(startError(), "WebView2 operation failed");
  harness.browser.script.results = {{"options.language", kBrowserFail}};
  EXPECT_EQ(startError(), "WebView2 operation failed");
  platform.environment[u"VARDEKO_DEBUG_PORT"] = u"9222";
  harness.browser.script.results = {{"options.arguments", kBrowserFail}};
  EXPECT_EQ(startError(), "WebView2 operation failed");
  harness.browser.script.results = {};
  platform.environment[u"VARDEKO_API_URL"] = u"http://ledger.example.com/api";
  EXPECT_EQ(startError(), "远程服务地址须使用 HTTPS。");
  platform.environment.erase(u"VARDEKO_API_URL");
  platform.environment[u"VARDEKO_DEV_URL"] = u"http://localhost:3000";
  EXPECT_EQ(startError(), "invalid development URL");
  platform.environment.erase(u"VARDEKO_DEV_URL");
  std::filesystem::remove(install.path() / "renderer" / "index.html");
  EXPECT_EQ(startError(), "missing renderer");
}

TEST_F(WebHostTest, FailedCompletionsShowTheBrowserMessageAndClose) {
  const std::string message =
      "window error 无法启动 WebView2。请重新运行 Vardeko 安装程序，检查或安装运行时。";
  // Failures that waiting cannot mend: the data folder refused, the window gone.
  Start(harness.host);
  harness.Log();
  harness.browser.environmentCompleted(static_cast<BrowserResult>(0x80070005u), nullptr);
  EXPECT_TRUE(harness.host.closing);  // at once: nothing else starts meanwhile
  EXPECT_EQ(Reported(), Log{message});
  EXPECT_EQ(harness.Pump(), UiEventQueue::kCloseAttempt);

  harness.host.closing = false;
  harness.browser.environmentCompleted(kBrowserOk,
                                       std::make_shared<RecordingEnvironment>(harness.browser));
  harness.browser.controllerCompleted(static_cast<BrowserResult>(0x80004004u), nullptr);
  EXPECT_EQ(Reported(), (Log{"environment.createController " + Window(), message}));

  harness.host.closing = false;
  harness.browser.script.results = {{"view.addNavigationStarting", kBrowserFail}};
  harness.browser.controllerCompleted(kBrowserOk,
                                      std::make_unique<RecordingController>(harness.browser));
  Log log = Reported();
  EXPECT_EQ(log.back(), message);
  EXPECT_EQ(
      std::count(log.begin(), log.end(), "view.navigate https://app.vardeko.localhost/index.html"),
      0);
}

TEST_F(WebHostTest, CompletionsAfterTheWindowIsDestroyedDoNothing) {
  Start(harness.host);
  harness.Log();
  HandleDestroy(harness.host);  // the user closed the window while the browser started
  EXPECT_FALSE(harness.host.window);
  harness.browser.environmentCompleted(kBrowserOk,
                                       std::make_shared<RecordingEnvironment>(harness.browser));
  harness.browser.environmentCompleted(kBrowserFail, nullptr);
  EXPECT_EQ(harness.Log(), Log{});
  EXPECT_FALSE(harness.host.environment);

  // A controller that comes late is closed again, and nothing is configured.
  harness.host.window = harness.queue.window();
  harness.browser.environmentCompleted(kBrowserOk,
                                       std::make_shared<RecordingEnvironment>(harness.browser));
  HandleDestroy(harness.host);
  harness.Log();
  harness.browser.controllerCompleted(kBrowserOk,
                                      std::make_unique<RecordingController>(harness.browser));
  harness.browser.controllerCompleted(kBrowserFail, nullptr);
  EXPECT_EQ(harness.Log(), Log{"controller.close"});
  EXPECT_FALSE(harness.host.controller || harness.host.webview);
  EXPECT_FALSE(harness.Pump(std::chrono::milliseconds(0)));  // and no close was posted
}

TEST_F(WebHostTest, OnlyTheStartUrlMayBeNavigatedToExactly) {
  StartAndComplete();
  for (const char16_t* refused :
       {u"https://app.vardeko.localhost/other.html", u"https://app.vardeko.localhost/index.html?x",
        u"https://app.vardeko.localhost/index.html#top",
        u"https://APP.vardeko.localhost/index.html", u"https://app.vardeko.localhost/",
        u"about:blank"}) {
    FakeNavigation navigation(refused);
    harness.browser.handlers.navigationStarting(navigation);
    EXPECT_TRUE(navigation.cancelled) << WideToUtf8(refused);
  }
  FakeNavigation none(std::nullopt);
  harness.browser.handlers.navigationStarting(none);
  EXPECT_TRUE(none.cancelled);
  FakeNavigation start{std::u16string(kStartUrl)};
  harness.browser.handlers.navigationStarting(start);
  EXPECT_FALSE(start.cancelled);
  FakeNavigation frame{std::u16string(kStartUrl)};
  harness.browser.handlers.frameNavigationStarting(frame);
  EXPECT_TRUE(frame.cancelled);
}

TEST_F(WebHostTest, LoadTrackingAndProcessFailures) {
  StartAndComplete();
  harness.Log();
  FakeCompletion success(true);
  harness.browser.handlers.navigationCompleted(success);
  EXPECT_TRUE(harness.host.pageLoaded);
  FakeCompletion failure(false);
  harness.browser.handlers.navigationCompleted(failure);  // ignored once loaded
  EXPECT_TRUE(harness.host.pageLoaded);
  EXPECT_EQ(harness.Log(), Log{});

  FakeProcessFailure frame(3);  // a frame's renderer: the page still answers
  harness.browser.handlers.processFailed(frame);
  EXPECT_TRUE(harness.host.pageLoaded);
  EXPECT_EQ(DecideClose(harness.host), CloseAction::kAskThePage);

  // Hung, repeatedly: closing works at once, but the page stays loaded, so a cancelled
  // navigation meanwhile shows nothing; the page's next message restores the guard.
  FakeProcessFailure unresponsive(kRenderProcessUnresponsive);
  for (int i = 0; i < 3; ++i) harness.browser.handlers.processFailed(unresponsive);
  EXPECT_TRUE(harness.host.pageLoaded);
  EXPECT_EQ(DecideClose(harness.host), CloseAction::kDestroy);
  harness.browser.handlers.navigationCompleted(failure);
  EXPECT_EQ(harness.Log(), Log{});
  EXPECT_FALSE(harness.host.closing);
  FakeWebMessage message(std::u16string(u"https://evil.example/"), u"{}");
  harness.browser.handlers.webMessageReceived(message);
  EXPECT_EQ(DecideClose(harness.host), CloseAction::kAskThePage);
  // A successful navigation (a reload) restores it too.
  harness.browser.handlers.processFailed(unresponsive);
  EXPECT_EQ(DecideClose(harness.host), CloseAction::kDestroy);
  harness.browser.handlers.navigationCompleted(success);
  EXPECT_EQ(DecideClose(harness.host), CloseAction::kAskThePage);

  FakeProcessFailure renderer(kRenderProcessExited);
  harness.browser.handlers.processFailed(renderer);
  EXPECT_FALSE(harness.host.pageLoaded);
}

HostClock::time_point g_now;
HostClock::time_point TestNow() { return g_now; }

// After a renderer exit the page is loaded again; after a browser exit the browser is
// created anew; both at most three times a minute, with the unsaved input let go.
TEST_F(WebHostTest, GonePagesComeBackAFewTimesAMinuteThenTheBrowserBoxEnds) {
  StartAndComplete();
  harness.host.now = &TestNow;
  g_now = HostClock::time_point(std::chrono::hours(1));
  const std::string folder = (data.path() / "profile" / "WebView2").string();
  FakeCompletion success(true);
  harness.browser.handlers.navigationCompleted(success);
  SetUnsavedInput(harness.host, true);
  harness.Log();

  FakeProcessFailure renderer(kRenderProcessExited);
  harness.browser.handlers.processFailed(renderer);
  EXPECT_FALSE(harness.host.pageLoaded);
  EXPECT_EQ(DecideClose(harness.host), CloseAction::kDestroy);
  // The reload waits until the event handler has returned.
  EXPECT_EQ(harness.Log(), (Log{"window allow session end", "runtime.runLater 0"}));
  harness.browser.delayed.back().second();
  EXPECT_EQ(harness.Log(), Log{"view.navigate https://app.vardeko.localhost/index.html"});
  harness.browser.handlers.navigationCompleted(success);
  EXPECT_TRUE(harness.host.pageLoaded);

  g_now += std::chrono::seconds(20);
  FakeProcessFailure browser(kBrowserProcessExited);
  harness.browser.handlers.processFailed(browser);
  EXPECT_EQ(harness.Log(), Log{"runtime.runLater 0"});
  harness.browser.delayed.back().second();
  EXPECT_EQ(harness.Log(), (Log{"controller.close", "runtime.createEnvironment " + folder}));
  EXPECT_FALSE(harness.host.controller || harness.host.webview || harness.host.environment);
  // Created as at start-up, retries included.
  harness.browser.environmentCompleted(kBrowserFail, nullptr);
  EXPECT_EQ(harness.Log(), Log{"runtime.runLater 250"});
  harness.browser.delayed.back().second();
  harness.browser.environmentCompleted(kBrowserOk,
                                       std::make_shared<RecordingEnvironment>(harness.browser));
  harness.browser.controllerCompleted(kBrowserOk,
                                      std::make_unique<RecordingController>(harness.browser));
  EXPECT_EQ(harness.Log().back(), "controller.moveFocus");

  // A third within the minute is still brought back; a fourth is not.
  harness.browser.handlers.processFailed(renderer);
  EXPECT_EQ(harness.Log(), Log{"runtime.runLater 0"});
  harness.browser.handlers.processFailed(renderer);
  EXPECT_TRUE(harness.host.closing);
  EXPECT_EQ(Reported(),
            Log{"window error 无法启动 WebView2。请重新运行 Vardeko 安装程序，检查或安装运行时。"});
  // While closing, nothing is brought back.
  harness.browser.handlers.processFailed(browser);
  EXPECT_EQ(harness.Log(), Log{});

  // A minute after the first, there is room for one more.
  harness.host.closing = false;
  g_now += std::chrono::seconds(40);
  harness.browser.handlers.processFailed(renderer);
  EXPECT_EQ(harness.Log(), Log{"runtime.runLater 0"});
}

TEST_F(WebHostTest, FirstLoadFailureShowsTheMessageAndClosesWithoutAsking) {
  StartAndComplete();
  harness.Log();
  FakeCompletion unreadable(std::nullopt);
  harness.browser.handlers.navigationCompleted(unreadable);
  EXPECT_TRUE(harness.host.closing);
  EXPECT_EQ(Reported(), Log{"window error 界面未能载入，请重新安装 Vardeko。"});
  EXPECT_EQ(harness.Pump(), UiEventQueue::kCloseAttempt);
}

TEST_F(WebHostTest, WebMessagesReachTheDispatcher) {
  StartAndComplete();
  harness.Log();
  FakeWebMessage message(std::u16string(kStartUrl),
                         u"{\"id\":\"a\",\"method\":\"windowDrag\",\"args\":[]}");
  harness.browser.handlers.webMessageReceived(message);
  EXPECT_EQ(harness.Log(), (Log{R"(page {"data":null,"id":"a","ok":true})", "window post drag"}));
}

// The browser's first attempts fail in passing, as while a closing instance still holds
// the user data folder, or while the runtime updates: each is tried again from a new
// environment.
TEST_F(WebHostTest, PassingCreationFailuresAreRetriedThenTheBrowserStarts) {
  Start(harness.host);
  harness.Log();
  const std::string folder = (data.path() / "profile" / "WebView2").string();
  harness.browser.environmentCompleted(kBrowserInvalidState, nullptr);
  EXPECT_EQ(harness.Log(), Log{"runtime.runLater 250"});
  harness.browser.delayed.back().second();
  EXPECT_EQ(harness.Log(), Log{"runtime.createEnvironment " + folder});
  harness.browser.environmentCompleted(kBrowserOk,
                                       std::make_shared<RecordingEnvironment>(harness.browser));
  EXPECT_EQ(harness.Log(), Log{"environment.createController " + Window()});

  harness.browser.controllerCompleted(kBrowserFail, nullptr);
  EXPECT_EQ(harness.Log(), Log{"runtime.runLater 500"});
  harness.browser.delayed.back().second();
  EXPECT_EQ(harness.Log(), Log{"runtime.createEnvironment " + folder});
  EXPECT_FALSE(harness.host.environment);
  harness.browser.environmentCompleted(kBrowserOk,
                                       std::make_shared<RecordingEnvironment>(harness.browser));
  harness.browser.controllerCompleted(kBrowserOk,
                                      std::make_unique<RecordingController>(harness.browser));
  const Log log = harness.Log();
  EXPECT_EQ(log.back(), "controller.moveFocus");
  EXPECT_FALSE(harness.host.closing);
}

TEST_F(WebHostTest, CreationRetriesAreBoundedAndNotForLastingFailures) {
  Start(harness.host);
  harness.Log();
  const std::string message =
      "window error 无法启动 WebView2。请重新运行 Vardeko 安装程序，检查或安装运行时。";
  Log delays;
  for (int attempt = 0; attempt <= kMaxCreationRetries; ++attempt) {
    harness.browser.environmentCompleted(kBrowserFail, nullptr);
    const Log log = harness.host.closing ? Reported() : harness.Log();
    ASSERT_EQ(log.size(), 1u);
    if (log[0] == message) break;
    delays.push_back(log[0]);
    harness.browser.delayed.back().second();
    harness.Log();
  }
  EXPECT_EQ(delays, (Log{"runtime.runLater 250", "runtime.runLater 500", "runtime.runLater 1000",
                         "runtime.runLater 1500"}));
  EXPECT_TRUE(harness.host.closing);

  // What waiting cannot mend is final at once; everything else passes, maybe.
  for (const std::uint32_t lasting :
       {0x80070002u, 0x8007064Eu, 0x80070005u, 0x80070050u, 0x80070070u, 0x80070032u, 0x8007007Eu,
        0x800401F0u, 0x80010106u, 0x80004004u}) {
    EXPECT_FALSE(PlanCreationRetry(static_cast<BrowserResult>(lasting), 0)) << std::hex << lasting;
  }
  for (const std::uint32_t passing :
       {0x80004005u, 0x8007139Fu, 0x800700AAu, 0x80070020u, 0x8007000Eu, 0x80070015u}) {
    EXPECT_EQ(PlanCreationRetry(static_cast<BrowserResult>(passing), 3),
              std::chrono::milliseconds(1500))
        << std::hex << passing;
  }
  EXPECT_FALSE(PlanCreationRetry(kBrowserOk, 0));

  // A retry that comes after the window closed does nothing.
  Host late(harness.window);
  late.window = harness.queue.window();
  Start(late);
  harness.Log();
  harness.browser.environmentCompleted(kBrowserInvalidState, nullptr);
  ASSERT_EQ(harness.Log(), Log{"runtime.runLater 250"});
  late.window = WindowHandle{};
  harness.browser.delayed.back().second();
  EXPECT_EQ(harness.Log(), Log{});
}

class StartDocumentTest : public WebHostTest {
 protected:
  BrowserResult Serve(std::u16string uri = std::u16string(kStartUrl),
                      std::u16string method = u"GET") {
    RecordedResourceRequest request(harness.browser, std::move(uri), std::move(method));
    return harness.browser.handlers.webResourceRequested(request);
  }
};

TEST_F(StartDocumentTest, ServesTheFileUnchangedWithTheSecurityHeaders) {
  StartAndComplete();
  harness.Log();
  const std::string page = "\xEF\xBB\xBF<!doctype html>\r\n<p>账本</p>";
  install.Write("renderer/index.html", page);
  EXPECT_EQ(Serve(), kBrowserOk);
  EXPECT_EQ(harness.Log(), (Log{"environment.createResponse 200 OK", "args.setResponse"}));
  EXPECT_EQ(harness.browser.lastResponseBody, page);
  EXPECT_EQ(WideToUtf8(harness.browser.lastResponseHeaders),
            "Content-Type: text/html; charset=utf-8\r\n"
            "Content-Security-Policy: default-src 'self'; script-src 'self'; style-src 'self' "
            "'unsafe-inline'; img-src 'self' data: blob:; font-src 'self' data:; connect-src "
            "'none'; object-src 'none'; base-uri 'self'; frame-src 'none'\r\n"
            "X-Content-Type-Options: nosniff\r\n");

  install.Write("renderer/index.html", "changed");  // read anew on every request
  EXPECT_EQ(Serve(), kBrowserOk);
  EXPECT_EQ(harness.browser.lastResponseBody, "changed");
}

TEST_F(StartDocumentTest, SizeLimitIsOneMebibyte) {
  StartAndComplete();
  install.Write("renderer/index.html", std::string(1048576, 'x'));
  EXPECT_EQ(Serve(), kBrowserOk);
  EXPECT_EQ(harness.browser.lastResponseBody.size(), 1048576u);
  harness.Log();
  // Too large, empty or missing: answered all the same, so the request never goes on to
  // the network (the loopback, for this host name), and the load fails.
  install.Write("renderer/index.html", std::string(1048577, 'x'));
  EXPECT_EQ(Serve(), kBrowserOk);
  install.Write("renderer/index.html", "");
  EXPECT_EQ(Serve(), kBrowserOk);
  std::filesystem::remove(install.path() / "renderer" / "index.html");
  EXPECT_EQ(Serve(), kBrowserOk);
  const std::string refused = "environment.createResponse 500 Internal Server Error";
  EXPECT_EQ(harness.Log(), (Log{refused, "args.setResponse", refused, "args.setResponse", refused,
                                "args.setResponse"}));
  EXPECT_EQ(harness.browser.lastResponseBody, "");
  EXPECT_EQ(WideToUtf8(harness.browser.lastResponseHeaders), "X-Content-Type-Options: nosniff\r\n");
}

TEST_F(StartDocumentTest, BrowserFailuresAreReturnedAsTheyCame) {
  StartAndComplete();
  harness.browser.script.results = {{"environment.createResponse", kBrowserOutOfMemory}};
  EXPECT_EQ(Serve(), kBrowserOutOfMemory);
  harness.browser.script.results = {{"args.setResponse", static_cast<BrowserResult>(0x80070057u)}};
  EXPECT_EQ(Serve(), static_cast<BrowserResult>(0x80070057u));
}

}  // namespace
}  // namespace vardeko::testing
