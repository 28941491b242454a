#include "shell/web_host.h"

#include <filesystem>
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
  ThrowIfFailed(view.AddWebResourceRequestedFilter(kPageFilesFilter, kWebResourceContextAll));
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

void RetryOrReport(Host& host, BrowserResult result, CreationStage failed) noexcept;

void RequestController(Host& host) noexcept {
  try {
    const BrowserResult created = host.environment->CreateController(
        host.window,
        [&host](BrowserResult completed, std::unique_ptr<BrowserController> controller) {
          OnControllerCompleted(host, completed, std::move(controller));
        });
    if (Failed(created)) RetryOrReport(host, created, CreationStage::kController);
  } catch (...) {
    ReportWebViewFailure(host);
  }
}

void RestartCreation(Host& host, CreationStage stage) noexcept {
  if (!host.window) return;  // closed while waiting
  if (stage == CreationStage::kController && host.environment) return RequestController(host);
  host.environment.reset();
  try {
    if (Failed(CreateEnvironment(host))) ReportWebViewFailure(host);
  } catch (...) {
    ReportWebViewFailure(host);
  }
}

void RetryOrReport(Host& host, BrowserResult result, CreationStage failed) noexcept {
  const std::optional<CreationRetry> retry =
      PlanCreationRetry(result, failed, host.creationRetries);
  if (!retry || !host.runtime) return ReportWebViewFailure(host);
  ++host.creationRetries;
  try {
    host.runtime->RunLater(retry->delay,
                           [&host, stage = retry->restart] { RestartCreation(host, stage); });
  } catch (...) {
    ReportWebViewFailure(host);
  }
}

}  // namespace

void ThrowIfFailed(BrowserResult result) {
  if (Failed(result)) throw std::runtime_error("WebView2 operation failed");
}

void ReportWebViewFailure(Host& host) noexcept {
  if (!host.window) return;  // the window is gone: nobody to tell, nothing to close
  try {
    host.windowOperations.ShowError(host.window, kWebViewFailureText);
  } catch (...) {
    // The window closes all the same.
  }
  host.closing = true;
  PostCloseAttempt(host.window);
}

bool IsDevelopmentMode(const Host& host) { return host.startUrl != kStartUrl; }

std::optional<CreationRetry> PlanCreationRetry(BrowserResult result, CreationStage failed,
                                               int retriesSoFar) {
  constexpr BrowserResult kBusy = static_cast<BrowserResult>(0x800700AAu);
  constexpr BrowserResult kSharingViolation = static_cast<BrowserResult>(0x80070020u);
  constexpr BrowserResult kLockViolation = static_cast<BrowserResult>(0x80070021u);
  constexpr std::chrono::milliseconds kDelays[kMaxCreationRetries] = {
      std::chrono::milliseconds(250), std::chrono::milliseconds(500),
      std::chrono::milliseconds(1000), std::chrono::milliseconds(1500)};
  if (retriesSoFar < 0 || retriesSoFar >= kMaxCreationRetries) return std::nullopt;
  if (result != kBrowserInvalidState && result != kBusy && result != kSharingViolation &&
      result != kLockViolation) {
    return std::nullopt;
  }
  const CreationStage restart =
      result == kBrowserInvalidState ? CreationStage::kEnvironment : failed;
  return CreationRetry{kDelays[retriesSoFar], restart};
}

void Host::Start(const LaunchConfig& config, std::shared_ptr<ServiceClient> client,
                 BrowserRuntime& browserRuntime) {
  rendererDirectory = config.rendererDirectory;
  dataDirectory = config.dataDirectory;
  serviceClient = std::move(client);
  startUrl = config.startUrl;
  debugEnabled = config.debugPort.has_value();

  runtime = &browserRuntime;
  environmentOptions = MakeOptions(browserRuntime, config.debugPort);
  ThrowIfFailed(CreateEnvironment(*this));
}

// Completions that arrive after the window was destroyed (Host::window cleared) find
// nothing to do: the process is ending.

void OnEnvironmentCompleted(Host& host, BrowserResult result,
                            std::shared_ptr<BrowserEnvironment> environment) noexcept {
  if (!host.window) return;
  if (Failed(result) || !environment) {
    return RetryOrReport(host, Failed(result) ? result : kBrowserFail, CreationStage::kEnvironment);
  }
  host.environment = std::move(environment);
  RequestController(host);
}

void OnControllerCompleted(Host& host, BrowserResult result,
                           std::unique_ptr<BrowserController> controller) noexcept {
  if (!host.window) {
    if (controller) controller->Close();
    return;
  }
  if (Failed(result) || !controller) {
    return RetryOrReport(host, Failed(result) ? result : kBrowserFail, CreationStage::kController);
  }
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
    host.rendererUnresponsive = false;  // it rendered a page: it answers again
    return;
  }
  if (host.pageLoaded || !host.window) return;  // e.g. a cancelled navigation away
  host.windowOperations.ShowError(host.window, kLoadFailureText);
  host.closing = true;
  PostCloseAttempt(host.window);
}

void OnProcessFailed(Host& host, ProcessFailedArgs& args) {
  // A page that is gone or hung cannot answer a close request: closing works at once.
  // A hang passes; the page itself stays loaded.
  const std::optional<int> kind = args.Kind();
  if (kind == kBrowserProcessExited || kind == kRenderProcessExited) host.pageLoaded = false;
  if (kind == kRenderProcessUnresponsive) host.rendererUnresponsive = true;
}

void OnWebMessageReceived(Host& host, WebMessageReceivedArgs& args) {
  host.rendererUnresponsive = false;  // the renderer answers again
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
