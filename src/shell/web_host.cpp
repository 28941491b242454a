#include "shell/web_host.h"

#include <filesystem>
#include <stdexcept>

#include "shell/dispatcher.h"
#include "shell/launch_config.h"
#include "shell/main_window.h"
#include "shell/start_document.h"

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
}

// The guards, load tracking and the page channel. The handlers stay registered for the
// life of the view.
void RegisterHandlers(Host& host) {
  BrowserView& view = *host.webview;
  ThrowIfFailed(
      view.AddProcessFailed([&host](ProcessFailedArgs& args) { OnProcessFailed(host, args); }));
  ThrowIfFailed(view.AddWebMessageReceived(
      [&host](WebMessageReceivedArgs& args) { HandleWebMessage(host, args); }));
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

// The renderer folder under the private host name, with the start document answered
// here so that it carries the security headers.
void ServeRendererFolder(Host& host) {
  BrowserView& view = *host.webview;
  ThrowIfFailed(view.SetVirtualHostNameToFolderMapping(kVirtualHostName, host.rendererDirectory,
                                                       kHostResourceAccessDenyCors));
  ThrowIfFailed(view.AddWebResourceRequestedFilter(kStartUrl, kWebResourceContextDocument));
  ThrowIfFailed(view.AddWebResourceRequested(
      [&host](WebResourceRequestedArgs& args) { return ServeStartDocument(host, args); }));
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

void Host::Start(const LaunchConfig& config, std::shared_ptr<ServiceClient> client,
                 BrowserRuntime& runtime) {
  rendererDirectory = config.rendererDirectory;
  dataDirectory = config.dataDirectory;
  serviceClient = std::move(client);
  startUrl = config.startUrl;
  debugEnabled = config.debugPort.has_value();

  const std::unique_ptr<BrowserEnvironmentOptions> options = MakeOptions(runtime, config.debugPort);
  ThrowIfFailed(runtime.CreateEnvironment(
      dataDirectory / u"WebView2", *options,
      [this](BrowserResult result, std::shared_ptr<BrowserEnvironment> created) {
        OnEnvironmentCompleted(*this, result, std::move(created));
      }));
}

// Completions that arrive after the window was destroyed (Host::window cleared) find
// nothing to do: the process is ending.

void OnEnvironmentCompleted(Host& host, BrowserResult result,
                            std::shared_ptr<BrowserEnvironment> environment) noexcept {
  if (!host.window) return;
  if (Failed(result) || !environment) return ReportWebViewFailure(host);
  host.environment = std::move(environment);
  try {
    const BrowserResult created = host.environment->CreateController(
        host.window,
        [&host](BrowserResult completed, std::unique_ptr<BrowserController> controller) {
          OnControllerCompleted(host, completed, std::move(controller));
        });
    if (Failed(created)) ReportWebViewFailure(host);
  } catch (...) {
    ReportWebViewFailure(host);
  }
}

void OnControllerCompleted(Host& host, BrowserResult result,
                           std::unique_ptr<BrowserController> controller) noexcept {
  if (!host.window) {
    if (controller) controller->Close();
    return;
  }
  if (Failed(result) || !controller) return ReportWebViewFailure(host);
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
    return;
  }
  if (host.pageLoaded || !host.window) return;  // e.g. a cancelled navigation away
  host.windowOperations.ShowError(host.window, kLoadFailureText);
  host.closing = true;
  PostCloseAttempt(host.window);
}

void OnProcessFailed(Host& host, ProcessFailedArgs& args) {
  // A page that is gone or hung cannot answer a close request: closing works at once.
  const std::optional<int> kind = args.Kind();
  if (kind == kBrowserProcessExited || kind == kRenderProcessExited ||
      kind == kRenderProcessUnresponsive) {
    host.pageLoaded = false;
  }
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
