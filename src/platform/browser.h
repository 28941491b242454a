#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/page_channel.h"

// The browser control as the shell uses it: the operations and events the web host
// drives, each mapped one to one onto the runtime (WebView2 on Windows; WebKitGTK can
// take its place on Linux). Every call and every event runs on the UI thread.
namespace vardeko {

// A result code in the runtime's convention: negative is a failure.
using BrowserResult = std::int32_t;
inline constexpr BrowserResult kBrowserOk = 0;
inline constexpr BrowserResult kBrowserFail = static_cast<BrowserResult>(0x80004005u);
inline constexpr BrowserResult kBrowserOutOfMemory = static_cast<BrowserResult>(0x8007000Eu);
inline constexpr BrowserResult kBrowserNoInterface = static_cast<BrowserResult>(0x80004002u);
inline constexpr bool Failed(BrowserResult result) { return result < 0; }

struct Bounds {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  friend bool operator==(const Bounds&, const Bounds&) = default;
};

struct Color {
  std::uint8_t alpha = 255;
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const Color&, const Color&) = default;
};

// Process failure kinds: after the first two the page is gone; the third is raised, and
// repeated every few seconds, while the renderer does not answer, and stops when it does.
inline constexpr int kBrowserProcessExited = 0;
inline constexpr int kRenderProcessExited = 1;
inline constexpr int kRenderProcessUnresponsive = 2;

// Resource context of a web resource filter: every kind of request.
inline constexpr int kWebResourceContextAll = 0;

class WebMessageReceivedArgs {
 public:
  virtual ~WebMessageReceivedArgs() = default;
  // URI of the posting document; nullopt when the runtime cannot say or says nothing.
  // The views stay valid while the object lives.
  virtual std::optional<std::u16string_view> Source() = 0;
  // The message as JSON text; nullopt when the runtime cannot give it. A null text
  // reads as empty.
  virtual std::optional<std::u16string_view> WebMessageAsJson() = 0;
  // The same text in UTF-8, from hosts that have it so (the headless bridge): it spares
  // a conversion each way. nullopt: read WebMessageAsJson.
  virtual std::optional<std::string_view> WebMessageAsUtf8() { return std::nullopt; }
  // The text is not read again: a copy held for it is wiped (it may carry a password)
  // and freed now, before a worker starts on the message (a screenshot is 32 MiB).
  virtual void ReleaseText() noexcept {}
};

class NavigationStartingArgs {
 public:
  virtual ~NavigationStartingArgs() = default;
  // The target URI; nullopt when the runtime gives none.
  virtual std::optional<std::u16string> Uri() = 0;
  virtual void Cancel() = 0;
};

class NavigationCompletedArgs {
 public:
  virtual ~NavigationCompletedArgs() = default;
  // nullopt when it cannot be read.
  virtual std::optional<bool> IsSuccess() = 0;
};

class ProcessFailedArgs {
 public:
  virtual ~ProcessFailedArgs() = default;
  virtual std::optional<int> Kind() = 0;
};

class NewWindowRequestedArgs {
 public:
  virtual ~NewWindowRequestedArgs() = default;
  // Marks the request handled without supplying a window: nothing opens.
  virtual void Handle() = 0;
};

class PermissionRequestedArgs {
 public:
  virtual ~PermissionRequestedArgs() = default;
  virtual void Deny() = 0;
};

class DownloadStartingArgs {
 public:
  virtual ~DownloadStartingArgs() = default;
  virtual void Cancel() = 0;
};

// A response built by the environment for a filtered request.
class WebResourceResponse {
 public:
  virtual ~WebResourceResponse() = default;
};

class WebResourceRequestedArgs {
 public:
  virtual ~WebResourceRequestedArgs() = default;
  // The request's URI and method as the runtime gives them; nullopt when it gives none.
  virtual std::optional<std::u16string> Uri() = 0;
  virtual std::optional<std::u16string> Method() = 0;
  virtual BrowserResult SetResponse(WebResourceResponse& response) = 0;
};

template <class Args>
using BrowserEvent = std::function<void(Args&)>;

// The page file handler answers with a result code of its own.
using WebResourceRequestedHandler = std::function<BrowserResult(WebResourceRequestedArgs&)>;

class BrowserSettings {
 public:
  virtual ~BrowserSettings() = default;
  virtual void SetHostObjectsAllowed(bool allowed) = 0;
  virtual void SetStatusBarEnabled(bool enabled) = 0;
  virtual void SetDefaultContextMenusEnabled(bool enabled) = 0;
  virtual void SetDevToolsEnabled(bool enabled) = 0;
  virtual void SetZoomControlEnabled(bool enabled) = 0;
  virtual void SetDefaultScriptDialogsEnabled(bool enabled) = 0;
  // The later settings; each returns false when this runtime does not offer it.
  virtual bool SetBrowserAcceleratorKeysEnabled(bool enabled) = 0;
  virtual bool SetAutofillEnabled(bool general, bool passwordAutosave) = 0;
  virtual bool SetPinchZoomEnabled(bool enabled) = 0;
  virtual bool SetSwipeNavigationEnabled(bool enabled) = 0;
  // CSS app-region: drag areas of the page move the window as its caption would.
  virtual bool SetNonClientRegionSupportEnabled(bool enabled) = 0;
};

// The browser view inside the controller (ICoreWebView2).
class BrowserView {
 public:
  virtual ~BrowserView() = default;

  // Hands one JSON value to the page, which receives it as one message event. The
  // result is not reported: no caller could act on a lost message. A string, so the
  // runtime can read it where it lies, terminated: replies are up to 64 MiB of UTF-16.
  virtual void PostWebMessageAsJson(const std::u16string& json) = 0;
  // The same from UTF-8 text, for views that take it so; false when the view takes only
  // UTF-16 and nothing was posted.
  virtual bool PostWebMessageAsUtf8(std::string_view) { return false; }

  virtual BrowserResult GetSettings(std::unique_ptr<BrowserSettings>& settings) = 0;

  virtual BrowserResult AddProcessFailed(BrowserEvent<ProcessFailedArgs> handler) = 0;
  virtual BrowserResult AddWebMessageReceived(BrowserEvent<WebMessageReceivedArgs> handler) = 0;
  virtual BrowserResult AddNavigationStarting(BrowserEvent<NavigationStartingArgs> handler) = 0;
  virtual BrowserResult AddFrameNavigationStarting(
      BrowserEvent<NavigationStartingArgs> handler) = 0;
  virtual BrowserResult AddNewWindowRequested(BrowserEvent<NewWindowRequestedArgs> handler) = 0;
  virtual BrowserResult AddPermissionRequested(BrowserEvent<PermissionRequestedArgs> handler) = 0;
  // nullopt when this runtime has no download event.
  virtual std::optional<BrowserResult> AddDownloadStarting(
      BrowserEvent<DownloadStartingArgs> handler) = 0;
  virtual BrowserResult AddNavigationCompleted(BrowserEvent<NavigationCompletedArgs> handler) = 0;
  virtual BrowserResult AddWebResourceRequested(WebResourceRequestedHandler handler) = 0;

  virtual BrowserResult AddWebResourceRequestedFilter(std::u16string_view uri, int context) = 0;
  virtual BrowserResult Navigate(std::u16string_view uri) = 0;
};

class BrowserController {
 public:
  virtual ~BrowserController() = default;
  virtual BrowserResult SetBounds(const Bounds& bounds) = 0;
  virtual BrowserResult SetVisible(bool visible) = 0;
  // false also when the runtime cannot say.
  virtual bool IsVisible() = 0;
  // Moves keyboard focus into the page, as a program (not the tab key) does.
  virtual BrowserResult MoveFocus() = 0;
  // The parent window moved: pop-ups (drop-downs, pickers) open relative to it.
  virtual void NotifyParentWindowPositionChanged() = 0;
  // false when this runtime has no background colour setting.
  virtual bool SetDefaultBackgroundColor(const Color& color) = 0;
  virtual void Close() = 0;
  virtual BrowserResult GetView(std::unique_ptr<BrowserView>& view) = 0;
};

using ControllerCompleted = std::function<void(BrowserResult, std::unique_ptr<BrowserController>)>;

class BrowserEnvironment {
 public:
  virtual ~BrowserEnvironment() = default;
  // Completion is reported once, through the UI thread's message loop.
  virtual BrowserResult CreateController(WindowHandle parent, ControllerCompleted completed) = 0;
  // A response with the bytes (copied into a stream; no stream for none), status,
  // reason and header lines.
  virtual BrowserResult CreateWebResourceResponse(
      std::string_view body, int status, std::u16string_view reason, std::u16string_view headers,
      std::unique_ptr<WebResourceResponse>& response) = 0;
};

class BrowserEnvironmentOptions {
 public:
  virtual ~BrowserEnvironmentOptions() = default;
  virtual BrowserResult SetAdditionalBrowserArguments(std::u16string_view arguments) = 0;
  virtual BrowserResult SetLanguage(std::u16string_view language) = 0;
};

using EnvironmentCompleted =
    std::function<void(BrowserResult, std::shared_ptr<BrowserEnvironment>)>;

// The runtime's loader entry point.
class BrowserRuntime {
 public:
  virtual ~BrowserRuntime() = default;
  // Options with the runtime's defaults.
  virtual std::unique_ptr<BrowserEnvironmentOptions> CreateOptions() = 0;
  // Fails at once when no usable runtime is found; otherwise completion is reported
  // once, through the UI thread's message loop.
  virtual BrowserResult CreateEnvironment(const std::filesystem::path& userDataFolder,
                                          BrowserEnvironmentOptions& options,
                                          EnvironmentCompleted completed) = 0;
  // Runs the task once, after the delay, from the UI thread's message loop; tasks not
  // yet run when the runtime object is destroyed are dropped.
  virtual void RunLater(std::chrono::milliseconds delay, std::function<void()> task) = 0;
};

}  // namespace vardeko
