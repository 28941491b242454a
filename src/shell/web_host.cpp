#include "shell/web_host.h"

#include <filesystem>
#include <stdexcept>

#include "shell/dispatcher.h"
#include "shell/launch_config.h"
#include "shell/main_window.h"
#include "shell/start_document.h"

namespace vardeko {

void ThrowIfFailed(BrowserResult result) {
  if (Failed(result)) throw std::runtime_error("WebView2 operation failed");
}

void ReportWebViewFailure(Host& host) noexcept {
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

  const std::unique_ptr<BrowserEnvironmentOptions> options = runtime.CreateOptions();
  if (!options) throw std::runtime_error("WebView2 operation failed");
  if (config.debugPort) {
    debugEnabled = true;
    ThrowIfFailed(options->SetAdditionalBrowserArguments(std::u16string(kDebugPortArgument) +
                                                         *config.debugPort));
  }
  ThrowIfFailed(options->SetLanguage(kBrowserLanguage));
  ThrowIfFailed(runtime.CreateEnvironment(
      dataDirectory / u"WebView2", *options,
      [this](BrowserResult result, std::shared_ptr<BrowserEnvironment> created) {
        OnEnvironmentCompleted(*this, result, std::move(created));
      }));
}

void OnEnvironmentCompleted(Host& host, BrowserResult result,
                            std::shared_ptr<BrowserEnvironment> environment) noexcept {
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
  if (host.pageLoaded) return;  // e.g. a cancelled navigation away from the loaded page
  host.windowOperations.ShowError(host.window, kLoadFailureText);
  host.closing = true;
  PostCloseAttempt(host.window);
}

void OnProcessFailed(Host& host, ProcessFailedArgs& args) {
  const std::optional<int> kind = args.Kind();
  if (kind == kBrowserProcessExited || kind == kRenderProcessExited) host.pageLoaded = false;
}

void Host::Configure() {
  const bool development = IsDevelopmentMode(*this);

  std::unique_ptr<BrowserSettings> settings;
  ThrowIfFailed(webview->GetSettings(settings));
  if (!settings) throw std::runtime_error("WebView2 operation failed");
  settings->SetHostObjectsAllowed(false);
  settings->SetStatusBarEnabled(false);
  settings->SetDefaultContextMenusEnabled(false);
  settings->SetDevToolsEnabled(debugEnabled || development);
  settings->SetZoomControlEnabled(false);
  settings->SetDefaultScriptDialogsEnabled(false);
  settings->SetBrowserAcceleratorKeysEnabled(development);
  settings->SetAutofillEnabled(false, false);

  controller->SetDefaultBackgroundColor(kBackgroundColor);
  ThrowIfFailed(controller->SetVisible(!windowOperations.IsMinimized(window)));

  // Event handlers stay registered for the life of the view.
  ThrowIfFailed(
      webview->AddProcessFailed([this](ProcessFailedArgs& args) { OnProcessFailed(*this, args); }));
  ThrowIfFailed(webview->AddWebMessageReceived(
      [this](WebMessageReceivedArgs& args) { HandleWebMessage(*this, args); }));
  ThrowIfFailed(webview->AddNavigationStarting(
      [this](NavigationStartingArgs& args) { OnNavigationStarting(*this, args); }));
  ThrowIfFailed(
      webview->AddFrameNavigationStarting([](NavigationStartingArgs& args) { args.Cancel(); }));
  ThrowIfFailed(
      webview->AddNewWindowRequested([](NewWindowRequestedArgs& args) { args.Handle(); }));
  ThrowIfFailed(
      webview->AddPermissionRequested([](PermissionRequestedArgs& args) { args.Deny(); }));
  webview->AddDownloadStarting([](DownloadStartingArgs& args) { args.Cancel(); });
  ThrowIfFailed(webview->AddNavigationCompleted(
      [this](NavigationCompletedArgs& args) { OnNavigationCompleted(*this, args); }));

  if (!development) {
    ThrowIfFailed(webview->SetVirtualHostNameToFolderMapping(kVirtualHostName, rendererDirectory,
                                                             kHostResourceAccessDenyCors));
    ThrowIfFailed(webview->AddWebResourceRequestedFilter(kStartUrl, kWebResourceContextDocument));
    ThrowIfFailed(webview->AddWebResourceRequested(
        [this](WebResourceRequestedArgs& args) { return ServeStartDocument(*this, args); }));
  }

  ResizeController(*this);
  ThrowIfFailed(webview->Navigate(startUrl));
}

}  // namespace vardeko
