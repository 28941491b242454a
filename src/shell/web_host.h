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

// The runtime's answer while a browser of an instance that is closing still holds the
// user data folder; a new environment is needed after it.
inline constexpr BrowserResult kBrowserInvalidState = static_cast<BrowserResult>(0x8007139Fu);

enum class CreationStage { kEnvironment, kController };

struct CreationRetry {
  std::chrono::milliseconds delay;
  CreationStage restart;  // where creation starts again
};

inline constexpr int kMaxCreationRetries = 4;

// Whether a failed creation is tried again: only for the results the runtime documents
// as passing (invalid state, busy, sharing and lock violations), at most
// kMaxCreationRetries times, 3.25 s in all. A controller that failed with invalid state
// needs a new environment.
std::optional<CreationRetry> PlanCreationRetry(BrowserResult result, CreationStage failed,
                                               int retriesSoFar);

// Throws std::runtime_error("WebView2 operation failed") for a failure result.
void ThrowIfFailed(BrowserResult result);

// Tells the user the browser could not start, then closes the window without asking
// the page.
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
