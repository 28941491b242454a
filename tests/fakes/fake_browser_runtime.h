#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/utf.h"
#include "fakes/event_log.h"
#include "platform/browser.h"

// A browser runtime that records every call in order, answers with scripted results and
// keeps the registered handlers so tests can raise events.
namespace vardeko::testing {

// Results to give, by operation name; everything else succeeds.
struct BrowserScript {
  std::vector<std::pair<std::string, BrowserResult>> results;
  bool hasAcceleratorKeySetting = true;
  bool hasAutofillSettings = true;
  bool hasGestureSettings = true;  // pinch zoom, swipe navigation
  bool hasNonClientRegionSetting = true;
  bool hasBackgroundColor = true;
  bool hasDownloadEvent = true;

  BrowserResult ResultOf(const std::string& operation) const {
    for (const auto& [name, result] : results) {
      if (name == operation) return result;
    }
    return kBrowserOk;
  }
};

struct BrowserHandlers {
  BrowserEvent<ProcessFailedArgs> processFailed;
  BrowserEvent<WebMessageReceivedArgs> webMessageReceived;
  BrowserEvent<NavigationStartingArgs> navigationStarting;
  BrowserEvent<NavigationStartingArgs> frameNavigationStarting;
  BrowserEvent<NewWindowRequestedArgs> newWindowRequested;
  BrowserEvent<PermissionRequestedArgs> permissionRequested;
  BrowserEvent<DownloadStartingArgs> downloadStarting;
  BrowserEvent<NavigationCompletedArgs> navigationCompleted;
  WebResourceRequestedHandler webResourceRequested;
};

class RecordingBrowser {
 public:
  explicit RecordingBrowser(std::shared_ptr<EventLog> eventLog) : log(std::move(eventLog)) {}

  BrowserResult Call(const std::string& operation, const std::string& detail = "") {
    log->Add(detail.empty() ? operation : operation + " " + detail);
    return script.ResultOf(operation);
  }

  std::shared_ptr<EventLog> log;
  BrowserScript script;
  BrowserHandlers handlers;
  EnvironmentCompleted environmentCompleted;
  ControllerCompleted controllerCompleted;
  // Tasks given to RunLater, in order, with their delays; a test runs them.
  std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> delayed;
  std::string lastResponseBody;
  std::u16string lastResponseHeaders;
};

inline std::string Flag(bool value) { return value ? "true" : "false"; }

class RecordingSettings final : public BrowserSettings {
 public:
  explicit RecordingSettings(RecordingBrowser& browser) : browser_(browser) {}
  void SetHostObjectsAllowed(bool v) override { browser_.Call("settings.hostObjects", Flag(v)); }
  void SetStatusBarEnabled(bool v) override { browser_.Call("settings.statusBar", Flag(v)); }
  void SetDefaultContextMenusEnabled(bool v) override {
    browser_.Call("settings.contextMenus", Flag(v));
  }
  void SetDevToolsEnabled(bool v) override { browser_.Call("settings.devTools", Flag(v)); }
  void SetZoomControlEnabled(bool v) override { browser_.Call("settings.zoom", Flag(v)); }
  void SetDefaultScriptDialogsEnabled(bool v) override {
    browser_.Call("settings.scriptDialogs", Flag(v));
  }
  bool SetBrowserAcceleratorKeysEnabled(bool v) override {
    if (!browser_.script.hasAcceleratorKeySetting) return false;
    browser_.Call("settings.acceleratorKeys", Flag(v));
    return true;
  }
  bool SetAutofillEnabled(bool general, bool password) override {
    if (!browser_.script.hasAutofillSettings) return false;
    browser_.Call("settings.autofill", Flag(general));
    browser_.Call("settings.passwordAutosave", Flag(password));
    return true;
  }
  bool SetPinchZoomEnabled(bool v) override {
    if (!browser_.script.hasGestureSettings) return false;
    browser_.Call("settings.pinchZoom", Flag(v));
    return true;
  }
  bool SetSwipeNavigationEnabled(bool v) override {
    if (!browser_.script.hasGestureSettings) return false;
    browser_.Call("settings.swipeNavigation", Flag(v));
    return true;
  }
  bool SetNonClientRegionSupportEnabled(bool v) override {
    if (!browser_.script.hasNonClientRegionSetting) return false;
    browser_.Call("settings.nonClientRegion", Flag(v));
    return true;
  }

 private:
  RecordingBrowser& browser_;
};

class RecordingView final : public BrowserView {
 public:
  explicit RecordingView(RecordingBrowser& browser) : browser_(browser) {}

  void PostWebMessageAsJson(const std::u16string& json) override {
    browser_.Call("page", WideToUtf8(json));
  }
  BrowserResult GetSettings(std::unique_ptr<BrowserSettings>& settings) override {
    const BrowserResult result = browser_.Call("view.getSettings");
    if (!Failed(result)) settings = std::make_unique<RecordingSettings>(browser_);
    return result;
  }
  BrowserResult AddProcessFailed(BrowserEvent<ProcessFailedArgs> h) override {
    return Keep("view.addProcessFailed", browser_.handlers.processFailed, std::move(h));
  }
  BrowserResult AddWebMessageReceived(BrowserEvent<WebMessageReceivedArgs> h) override {
    return Keep("view.addWebMessageReceived", browser_.handlers.webMessageReceived, std::move(h));
  }
  BrowserResult AddNavigationStarting(BrowserEvent<NavigationStartingArgs> h) override {
    return Keep("view.addNavigationStarting", browser_.handlers.navigationStarting, std::move(h));
  }
  BrowserResult AddFrameNavigationStarting(BrowserEvent<NavigationStartingArgs> h) override {
    return Keep("view.addFrameNavigationStarting", browser_.handlers.frameNavigationStarting,
                std::move(h));
  }
  BrowserResult AddNewWindowRequested(BrowserEvent<NewWindowRequestedArgs> h) override {
    return Keep("view.addNewWindowRequested", browser_.handlers.newWindowRequested, std::move(h));
  }
  BrowserResult AddPermissionRequested(BrowserEvent<PermissionRequestedArgs> h) override {
    return Keep("view.addPermissionRequested", browser_.handlers.permissionRequested, std::move(h));
  }
  std::optional<BrowserResult> AddDownloadStarting(BrowserEvent<DownloadStartingArgs> h) override {
    if (!browser_.script.hasDownloadEvent) return std::nullopt;
    return Keep("view.addDownloadStarting", browser_.handlers.downloadStarting, std::move(h));
  }
  BrowserResult AddNavigationCompleted(BrowserEvent<NavigationCompletedArgs> h) override {
    return Keep("view.addNavigationCompleted", browser_.handlers.navigationCompleted, std::move(h));
  }
  BrowserResult AddWebResourceRequested(WebResourceRequestedHandler h) override {
    return Keep("view.addWebResourceRequested", browser_.handlers.webResourceRequested,
                std::move(h));
  }
  BrowserResult AddWebResourceRequestedFilter(std::u16string_view uri, int context) override {
    return browser_.Call("view.addWebResourceRequestedFilter",
                         WideToUtf8(uri) + " " + std::to_string(context));
  }
  BrowserResult Navigate(std::u16string_view uri) override {
    return browser_.Call("view.navigate", WideToUtf8(uri));
  }

 private:
  template <class Handler>
  BrowserResult Keep(const std::string& operation, Handler& slot, Handler handler) {
    const BrowserResult result = browser_.Call(operation);
    if (!Failed(result)) slot = std::move(handler);
    return result;
  }

  RecordingBrowser& browser_;
};

class RecordingController final : public BrowserController {
 public:
  explicit RecordingController(RecordingBrowser& browser) : browser_(browser) {}
  BrowserResult SetBounds(const Bounds& b) override {
    return browser_.Call("controller.bounds", std::to_string(b.left) + "," + std::to_string(b.top) +
                                                  "," + std::to_string(b.right) + "," +
                                                  std::to_string(b.bottom));
  }
  BrowserResult SetVisible(bool visible) override {
    const BrowserResult result = browser_.Call("controller.visible", Flag(visible));
    if (!Failed(result)) visible_ = visible;
    return result;
  }
  bool IsVisible() override { return visible_; }
  BrowserResult MoveFocus() override { return browser_.Call("controller.moveFocus"); }
  void NotifyParentWindowPositionChanged() override { browser_.Call("controller.parentMoved"); }
  bool SetDefaultBackgroundColor(const Color& c) override {
    if (!browser_.script.hasBackgroundColor) return false;
    browser_.Call("controller.background", std::to_string(c.alpha) + "," + std::to_string(c.red) +
                                               "," + std::to_string(c.green) + "," +
                                               std::to_string(c.blue));
    return true;
  }
  void Close() override { browser_.Call("controller.close"); }
  BrowserResult GetView(std::unique_ptr<BrowserView>& view) override {
    const BrowserResult result = browser_.Call("controller.getView");
    if (!Failed(result)) view = std::make_unique<RecordingView>(browser_);
    return result;
  }

 private:
  RecordingBrowser& browser_;
  bool visible_ = true;  // as the runtime makes a controller
};

class RecordingResponse final : public WebResourceResponse {};

class RecordingEnvironment final : public BrowserEnvironment {
 public:
  explicit RecordingEnvironment(RecordingBrowser& browser) : browser_(browser) {}
  BrowserResult CreateController(WindowHandle parent, ControllerCompleted completed) override {
    const BrowserResult result =
        browser_.Call("environment.createController", std::to_string(parent.value));
    if (!Failed(result)) browser_.controllerCompleted = std::move(completed);
    return result;
  }
  BrowserResult CreateWebResourceResponse(std::string_view body, int status,
                                          std::u16string_view reason, std::u16string_view headers,
                                          std::unique_ptr<WebResourceResponse>& response) override {
    const BrowserResult result = browser_.Call("environment.createResponse",
                                               std::to_string(status) + " " + WideToUtf8(reason));
    browser_.lastResponseBody = std::string(body);
    browser_.lastResponseHeaders = std::u16string(headers);
    if (!Failed(result)) response = std::make_unique<RecordingResponse>();
    return result;
  }

 private:
  RecordingBrowser& browser_;
};

class RecordingOptions final : public BrowserEnvironmentOptions {
 public:
  explicit RecordingOptions(RecordingBrowser& browser) : browser_(browser) {}
  BrowserResult SetAdditionalBrowserArguments(std::u16string_view arguments) override {
    return browser_.Call("options.arguments", WideToUtf8(arguments));
  }
  BrowserResult SetLanguage(std::u16string_view language) override {
    return browser_.Call("options.language", WideToUtf8(language));
  }

 private:
  RecordingBrowser& browser_;
};

class RecordingRuntime final : public BrowserRuntime {
 public:
  explicit RecordingRuntime(RecordingBrowser& browser) : browser_(browser) {}
  std::unique_ptr<BrowserEnvironmentOptions> CreateOptions() override {
    browser_.Call("runtime.createOptions");
    return std::make_unique<RecordingOptions>(browser_);
  }
  BrowserResult CreateEnvironment(const std::filesystem::path& userDataFolder,
                                  BrowserEnvironmentOptions&,
                                  EnvironmentCompleted completed) override {
    const BrowserResult result =
        browser_.Call("runtime.createEnvironment", userDataFolder.string());
    if (!Failed(result)) browser_.environmentCompleted = std::move(completed);
    return result;
  }
  void RunLater(std::chrono::milliseconds delay, std::function<void()> task) override {
    browser_.Call("runtime.runLater", std::to_string(delay.count()));
    browser_.delayed.emplace_back(delay, std::move(task));
  }

 private:
  RecordingBrowser& browser_;
};

// A request for the page files; answering it is recorded as "args.setResponse".
class RecordedResourceRequest final : public WebResourceRequestedArgs {
 public:
  RecordedResourceRequest(RecordingBrowser& browser, std::u16string uri, std::u16string method)
      : browser_(browser), uri_(std::move(uri)), method_(std::move(method)) {}
  std::optional<std::u16string> Uri() override { return uri_; }
  std::optional<std::u16string> Method() override { return method_; }
  BrowserResult SetResponse(WebResourceResponse&) override {
    return browser_.Call("args.setResponse");
  }

 private:
  RecordingBrowser& browser_;
  std::u16string uri_;
  std::u16string method_;
};

}  // namespace vardeko::testing
