#include "shell/web_host.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <stdexcept>

#include "shell/dispatcher.h"
#include "shell/launch_config.h"
#include "shell/main_window.h"
#include "shell/page_files.h"

namespace vardeko {
namespace {

// The options the environment is created with: the page's language and, when a debug
// port is configured, remote debugging on it.
std::unique_ptr<BrowserEnvironmentOptions> MakeOptions(
    BrowserRuntime& runtime, const std::optional<std::u16string>& debugPort) {
  std::unique_ptr<BrowserEnvironmentOptions> options = runtime.CreateOptions();
  if (!options) throw std::runtime_error("WebView2 operation failed");
  if (debugPort) {
    ThrowIfFailed(
        options->SetAdditionalBrowserArguments(std::u16string(kDebugPortArgument) + *debugPort));
  }
  ThrowIfFailed(options->SetLanguage(kBrowserLanguage));
  return options;
}

// Switches off what a plain web page would offer. Results are not checked: a runtime
// without a switch has nothing to switch off.
void LockDownSettings(BrowserSettings& settings, bool devTools, bool acceleratorKeys) {
  settings.SetHostObjectsAllowed(false);
  settings.SetStatusBarEnabled(false);
  settings.SetDefaultContextMenusEnabled(false);
  settings.SetDevToolsEnabled(devTools);
  settings.SetZoomControlEnabled(false);
  settings.SetDefaultScriptDialogsEnabled(false);
  settings.SetBrowserAcceleratorKeysEnabled(acceleratorKeys);
  settings.SetAutofillEnabled(false, false);
  // Both default to on, whatever the zoom control says.
  settings.SetPinchZoomEnabled(false);
  settings.SetSwipeNavigationEnabled(false);
  settings.SetNonClientRegionSupportEnabled(true);
}

// The guards, load tracking and the page channel. The handlers stay registered for the
// life of the view.
void RegisterHandlers(Host& host) {
  BrowserView& view = *host.webview;
  ThrowIfFailed(
      view.AddProcessFailed([&host](ProcessFailedArgs& args) { OnProcessFailed(host, args); }));
  ThrowIfFailed(view.AddWebMessageReceived(
      [&host](WebMessageReceivedArgs& args) { OnWebMessageReceived(host, args); }));
  ThrowIfFailed(view.AddNavigationStarting(
      [&host](NavigationStartingArgs& args) { OnNavigationStarting(host, args); }));
  ThrowIfFailed(
      view.AddFrameNavigationStarting([](NavigationStartingArgs& args) { args.Cancel(); }));
  ThrowIfFailed(view.AddNewWindowRequested([](NewWindowRequestedArgs& args) { args.Handle(); }));
  ThrowIfFailed(view.AddPermissionRequested([](PermissionRequestedArgs& args) { args.Deny(); }));
  view.AddDownloadStarting([](DownloadStartingArgs& args) { args.Cancel(); });
  ThrowIfFailed(view.AddNavigationCompleted(
      [&host](NavigationCompletedArgs& args) { OnNavigationCompleted(host, args); }));
}

// Every request for the private origin is answered here, so that each file carries
// its headers; nothing is mapped to the folder.
void ServeRendererFolder(Host& host) {
  BrowserView& view = *host.webview;
  ThrowIfFailed(
      view.AddWebResourceRequestedFilter(host.pageOrigin + u"/*", kWebResourceContextAll));
  ThrowIfFailed(view.AddWebResourceRequested(
      [&host](WebResourceRequestedArgs& args) { return ServePageFile(host, args); }));
}

BrowserResult CreateEnvironment(Host& host) {
  return host.runtime->CreateEnvironment(
      host.dataDirectory / u"WebView2", *host.environmentOptions,
      [&host](BrowserResult result, std::shared_ptr<BrowserEnvironment> created) {
        OnEnvironmentCompleted(host, result, std::move(created));
      });
}

void RetryOrReport(Host& host, BrowserResult result) noexcept;

// Creation from a new environment: at start-up, for a retry and after a browser exit.
void StartCreation(Host& host) noexcept {
  if (!host.window) return;  // closed while waiting
  host.environment.reset();
  try {
    const BrowserResult result = CreateEnvironment(host);
    if (Failed(result)) RetryOrReport(host, result);
  } catch (...) {
    ReportWebViewFailure(host);
  }
}

void RequestController(Host& host) noexcept {
  try {
    const BrowserResult created = host.environment->CreateController(
        host.window,
        [&host](BrowserResult completed, std::unique_ptr<BrowserController> controller) {
          OnControllerCompleted(host, completed, std::move(controller));
        });
    if (Failed(created)) RetryOrReport(host, created);
  } catch (...) {
    ReportWebViewFailure(host);
  }
}

void RetryOrReport(Host& host, BrowserResult result) noexcept {
  const std::optional<std::chrono::milliseconds> delay =
      PlanCreationRetry(result, host.creationRetries);
  if (!delay || !host.runtime) return ReportWebViewFailure(host);
  ++host.creationRetries;
  try {
    host.runtime->RunLater(*delay, [&host] { StartCreation(host); });
  } catch (...) {
    ReportWebViewFailure(host);
  }
}

// Counts a recovery, unless kMaxRecoveries were made within kRecoveryWindow already.
bool TakeRecovery(Host& host) {
  const HostClock::time_point now = host.now();
  std::erase_if(host.recoveries,
                [now](HostClock::time_point at) { return now - at >= kRecoveryWindow; });
  if (host.recoveries.size() >= static_cast<std::size_t>(kMaxRecoveries)) return false;
  host.recoveries.push_back(now);
  return true;
}

// A renderer exit leaves the runtime's error page: the start URL is loaded again.
void ReloadPage(Host& host) noexcept {
  if (!host.window || host.closing || !host.webview) return;
  try {
    if (Failed(host.webview->Navigate(host.startUrl))) ReportWebViewFailure(host);
  } catch (...) {
    ReportWebViewFailure(host);
  }
}

// A browser exit leaves the controller closed for good: it is let go, and the browser is
// created anew, as at start-up, with the same folder and options.
void RecreateBrowser(Host& host) noexcept {
  if (!host.window || host.closing) return;
  if (host.controller) host.controller->Close();
  host.webview.reset();
  host.controller.reset();
  host.creationRetries = 0;
  StartCreation(host);
}

// Runs after the event handler has returned: the view raising the event is released
// on the way, and its handlers with it.
void Recover(Host& host, int kind) noexcept {
  if (host.closing) return;
  try {
    if (!host.runtime || !TakeRecovery(host)) return ReportWebViewFailure(host);
    if (kind == kRenderProcessExited) {
      host.runtime->RunLater(std::chrono::milliseconds(0), [&host] { ReloadPage(host); });
    } else {
      host.runtime->RunLater(std::chrono::milliseconds(0), [&host] { RecreateBrowser(host); });
    }
  } catch (...) {
    ReportWebViewFailure(host);
  }
}

}  // namespace

void ThrowIfFailed(BrowserResult result) {
  if (Failed(result)) throw std::runtime_error("WebView2 operation failed");
}

// A message box runs a nested message loop, which the runtime does not support inside
// its event and completion handlers: the box waits until the handler has returned.
// `closing` is set at once, so nothing else is started or asked meanwhile, and the box
// is shown once.
void ReportThenClose(Host& host, std::u16string_view text) noexcept {
  if (!host.window || host.closing) return;  // gone, or closing already
  host.closing = true;
  const auto report = [&host, text] {
    if (!host.window) return;  // the window is gone: nobody to tell, nothing to close
    try {
      host.windowOperations.ShowError(host.window, text);
    } catch (...) {
      // The window closes all the same.
    }
    PostCloseAttempt(host.window);
  };
  try {
    if (host.runtime) return host.runtime->RunLater(std::chrono::milliseconds(0), report);
  } catch (...) {
    // No timer: shown at once rather than not at all.
  }
  report();
}

void ReportWebViewFailure(Host& host) noexcept { ReportThenClose(host, kWebViewFailureText); }

bool IsDevelopmentMode(const Host& host) { return host.startUrl != host.defaultStartUrl; }

bool IsLastingCreationFailure(BrowserResult result) {
  constexpr BrowserResult kLasting[] = {
      static_cast<BrowserResult>(0x80070002u),  // ERROR_FILE_NOT_FOUND: no runtime installed
      static_cast<BrowserResult>(0x8007064Eu),  // ERROR_PRODUCT_UNINSTALLED
      static_cast<BrowserResult>(0x80070005u),  // E_ACCESSDENIED: the data folder
      static_cast<BrowserResult>(0x80070050u),  // ERROR_FILE_EXISTS: a file in its place
      static_cast<BrowserResult>(0x80070070u),  // ERROR_DISK_FULL: too many old runtimes
      static_cast<BrowserResult>(0x80070032u),  // ERROR_NOT_SUPPORTED: the browser folder
      static_cast<BrowserResult>(0x8007007Eu),  // ERROR_MOD_NOT_FOUND: the loader
      static_cast<BrowserResult>(0x800401F0u),  // CO_E_NOTINITIALIZED
      static_cast<BrowserResult>(0x80010106u),  // RPC_E_CHANGED_MODE
      static_cast<BrowserResult>(0x80004004u),  // E_ABORT: the parent window is gone
  };
  return std::find(std::begin(kLasting), std::end(kLasting), result) != std::end(kLasting);
}

std::optional<std::chrono::milliseconds> PlanCreationRetry(BrowserResult result, int retriesSoFar) {
  constexpr std::chrono::milliseconds kDelays[kMaxCreationRetries] = {
      std::chrono::milliseconds(250), std::chrono::milliseconds(500),
      std::chrono::milliseconds(1000), std::chrono::milliseconds(1500)};
  if (retriesSoFar < 0 || retriesSoFar >= kMaxCreationRetries) return std::nullopt;
  if (!Failed(result) || IsLastingCreationFailure(result)) return std::nullopt;
  return kDelays[retriesSoFar];
}

void Host::Start(const LaunchConfig& config, std::shared_ptr<ServiceClient> client,
                 BrowserRuntime& browserRuntime) {
  rendererDirectory = config.rendererDirectory;
  dataDirectory = config.dataDirectory;
  serviceClient = std::move(client);
  startUrl = config.startUrl;
  pageOrigin = config.pageOrigin;
  defaultStartUrl = config.defaultStartUrl;
  debugEnabled = config.debugPort.has_value();

  runtime = &browserRuntime;
  environmentOptions = MakeOptions(browserRuntime, config.debugPort);
  // A failure here is the loader's at once: no runtime to retry with.
  ThrowIfFailed(CreateEnvironment(*this));
}

// Completions that arrive after the window was destroyed (Host::window cleared) find
// nothing to do: the process is ending.

void OnEnvironmentCompleted(Host& host, BrowserResult result,
                            std::shared_ptr<BrowserEnvironment> environment) noexcept {
  if (!host.window) return;
  if (Failed(result) || !environment)
    return RetryOrReport(host, Failed(result) ? result : kBrowserFail);
  host.environment = std::move(environment);
  RequestController(host);
}

void OnControllerCompleted(Host& host, BrowserResult result,
                           std::unique_ptr<BrowserController> controller) noexcept {
  if (!host.window) {
    if (controller) controller->Close();
    return;
  }
  if (Failed(result) || !controller)
    return RetryOrReport(host, Failed(result) ? result : kBrowserFail);
  host.controller = std::move(controller);
  host.webview.reset();
  std::unique_ptr<BrowserView> view;
  if (Failed(host.controller->GetView(view)) || !view) return ReportWebViewFailure(host);
  host.webview = std::move(view);
  try {
    host.Configure();
  } catch (...) {
    ReportWebViewFailure(host);
  }
}

void OnNavigationStarting(const Host& host, NavigationStartingArgs& args) {
  // The start URL exactly, or nothing: no normalisation of case, slash or query.
  const std::optional<std::u16string> uri = args.Uri();
  if (!uri || *uri != host.startUrl) args.Cancel();
}

void OnNavigationCompleted(Host& host, NavigationCompletedArgs& args) {
  if (args.IsSuccess().value_or(false)) {
    host.pageLoaded = true;
    host.lastUnresponsive.reset();  // it rendered a page: it answers again
    return;
  }
  if (host.pageLoaded) return;  // e.g. a cancelled navigation away
  ReportThenClose(host, kLoadFailureText);
}

void OnProcessFailed(Host& host, ProcessFailedArgs& args) {
  // A page that is gone or hung cannot answer a close request: closing works at once.
  // A hang passes; the page itself stays loaded. A gone page is brought back, and its
  // unsaved input is lost with it.
  const std::optional<int> kind = args.Kind();
  if (kind == kRenderProcessUnresponsive) host.lastUnresponsive = host.now();
  if (kind != kBrowserProcessExited && kind != kRenderProcessExited) return;
  host.pageLoaded = false;
  SetUnsavedInput(host, false);
  Recover(host, *kind);
}

void OnWebMessageReceived(Host& host, WebMessageReceivedArgs& args) {
  host.lastUnresponsive.reset();  // the renderer answers again
  HandleWebMessage(host, args);
}

void Host::Configure() {
  const bool development = IsDevelopmentMode(*this);

  std::unique_ptr<BrowserSettings> settings;
  ThrowIfFailed(webview->GetSettings(settings));
  if (!settings) throw std::runtime_error("WebView2 operation failed");
  LockDownSettings(*settings, debugEnabled || development, development);

  controller->SetDefaultBackgroundColor(kBackgroundColor);
  const bool minimized = windowOperations.IsMinimized(window);
  ThrowIfFailed(controller->SetVisible(!minimized));

  RegisterHandlers(*this);
  if (!development) ServeRendererFolder(*this);

  ResizeController(*this);
  ThrowIfFailed(webview->Navigate(startUrl));
  // Typing reaches the page without a click first.
  if (!minimized) controller->MoveFocus();
}

}  // namespace vardeko
