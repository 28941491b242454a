#pragma once

#include <chrono>
#include <optional>
#include <string_view>

#include "platform/browser.h"
#include "shell/host.h"

namespace vardeko {

inline constexpr std::u16string_view kBrowserLanguage = u"zh-CN";
inline constexpr std::u16string_view kDebugPortArgument = u"--remote-debugging-port=";
inline constexpr std::u16string_view kWebViewFailureText =
    u"无法启动 WebView2。请重新运行 Vardeko 安装程序，检查或安装运行时。";
inline constexpr std::u16string_view kLoadFailureText = u"界面未能载入，请重新安装 Vardeko。";

// The runtime's answer while a browser that uses the same data folder with other
// options is still running: a closing instance of the program, started with other
// options, which the single-instance guard lets go before its browser has exited.
inline constexpr BrowserResult kBrowserInvalidState = static_cast<BrowserResult>(0x8007139Fu);

inline constexpr int kMaxCreationRetries = 4;

// The delay before a failed environment or controller creation is tried again, from a
// new environment, or nullopt when it is not: after kMaxCreationRetries retries (3.25 s
// in all), and for the results that cannot pass by waiting (IsLastingCreationFailure).
std::optional<std::chrono::milliseconds> PlanCreationRetry(BrowserResult result, int retriesSoFar);

// The creation results the runtime documents for causes that stay: no runtime
// installed, the runtime uninstalled, the data folder refused or taken by a file, too
// many old runtime versions on the disk, an unusable browser folder, the thread's COM
// state, and the parent window gone.
bool IsLastingCreationFailure(BrowserResult result);

// Browser process exits the program recovers from (reload after a renderer exit, a new
// browser after a browser exit): this many within kRecoveryWindow, then it gives up.
inline constexpr int kMaxRecoveries = 3;
inline constexpr std::chrono::seconds kRecoveryWindow{60};

// Throws std::runtime_error("WebView2 operation failed") for a failure result.
void ThrowIfFailed(BrowserResult result);

// Tells the user what failed, once the runtime's handler that found it has returned,
// then closes the window without asking the page.
void ReportThenClose(Host& host, std::u16string_view text) noexcept;

// ReportThenClose with kWebViewFailureText: the browser could not start or come back.
void ReportWebViewFailure(Host& host) noexcept;

// The completions of environment and controller creation, on the UI thread.
void OnEnvironmentCompleted(Host& host, BrowserResult result,
                            std::shared_ptr<BrowserEnvironment> environment) noexcept;
void OnControllerCompleted(Host& host, BrowserResult result,
                           std::unique_ptr<BrowserController> controller) noexcept;

// The event handlers Configure registers.
void OnNavigationStarting(const Host& host, NavigationStartingArgs& args);
void OnNavigationCompleted(Host& host, NavigationCompletedArgs& args);
void OnProcessFailed(Host& host, ProcessFailedArgs& args);
void OnWebMessageReceived(Host& host, WebMessageReceivedArgs& args);

bool IsDevelopmentMode(const Host& host);

}  // namespace vardeko
