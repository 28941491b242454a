#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/browser.h"
#include "platform/page_channel.h"
#include "platform/window_operations.h"
#include "service/service_client.h"
#include "shell/launch_config.h"

namespace vardeko {

// What appInfo names as the browser engine (Host::runtimeName).
inline constexpr std::string_view kRuntimeName = "webview2";
inline constexpr std::string_view kWebKitRuntimeName = "webkitgtk";

using InFlightCounter = std::atomic<std::uint32_t>;
using HostClock = std::chrono::steady_clock;

// The per-process record everything hangs off. The UI thread alone writes the flags and
// touches the window and the browser; inFlight is the only member other threads change,
// always by atomic read-modify-write. Members are destroyed in reverse order: the paths
// first, then the counter, the service client and the browser.
class Host {
 public:
  explicit Host(WindowOperations& operations) : windowOperations(operations) {}
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  WindowHandle window;  // empty again once the window is destroyed
  bool closing = false;
  bool pageLoaded = false;
  // The page said it holds input that is not saved; the end of the session is held up
  // for it (with the reason registered) exactly while this is set.
  bool unsavedInput = false;
  // When the renderer was last reported unresponsive, unless it was heard from since.
  std::optional<HostClock::time_point> lastUnresponsive;
  bool debugEnabled = false;
  // Kept from Host::Start for retries of a creation that failed in passing, and for
  // creating the browser again after its process exited.
  BrowserRuntime* runtime = nullptr;
  std::unique_ptr<BrowserEnvironmentOptions> environmentOptions;
  int creationRetries = 0;
  // When the browser was last brought back after a process exit, newest last.
  std::vector<HostClock::time_point> recoveries;
  // The time the rules above read; a test may set another clock.
  HostClock::time_point (*now)() = &HostClock::now;
  std::shared_ptr<BrowserEnvironment> environment;
  std::unique_ptr<BrowserController> controller;
  std::unique_ptr<BrowserView> webview;
  std::shared_ptr<ServiceClient> serviceClient;
  std::shared_ptr<InFlightCounter> inFlight = std::make_shared<InFlightCounter>(0);
  std::u16string startUrl{kStartUrl};
  // Where the renderer folder is served (LaunchConfig::pageOrigin) and the start URL
  // there, which development runs replace.
  std::u16string pageOrigin{kPrivateOrigin};
  std::u16string defaultStartUrl{kStartUrl};
  std::string_view runtimeName = kRuntimeName;
  std::filesystem::path dataDirectory;
  std::filesystem::path rendererDirectory;

  WindowOperations& windowOperations;

  // Takes the launch configuration and the service client made for it, and starts the
  // asynchronous creation of the browser; returns before the browser exists. Throws on
  // every failure up to there. `runtime` must outlive the Host.
  void Start(const LaunchConfig& config, std::shared_ptr<ServiceClient> client,
             BrowserRuntime& runtime);

  // Locks the new browser view down, wires its events and navigates to the start URL.
  // Throws on failure.
  void Configure();
};

// Serialises the value and hands it to the page; does nothing while there is no browser
// view. UI thread only.
void PostJsonToPage(Host& host, const nlohmann::json& value);

// Handles WM_APP_POST_JSON: hands the text to the page if the browser view still exists,
// and frees it in every case. UI thread only.
void DeliverPostedJson(Host& host, PostedJson text) noexcept;

}  // namespace vardeko
