#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/window_operations.h"
#include "shell/host.h"
#include "shell/launch_config.h"

// The headless bridge host: the real dispatcher, workers and service client, with the
// page and the window replaced by lines of JSON on standard input and output.
//   in:  {"post": TEXT} (optionally "source": URI), {"close": true}, {"wait": true}
//   out: {"page": VALUE} per message to the page; {"window": ACTION} per window action
namespace vardeko {

// Private messages of the host's own UI loop, beside WM_APP_POST_JSON and the others.
inline constexpr std::uint32_t kHeadlessInputLine = 0x8010;  // payload: one input line
inline constexpr std::uint32_t kHeadlessEndOfInput = 0x8011;

class HeadlessHost;

// Lets the input reader take the next line only after the last one was handled. (A
// mutex and condition variable: MinGW's std::binary_semaphore was seen to lose a
// release that came before the acquire.)
class LineGate {
 public:
  void Release() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_one();
  }
  void Acquire() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return open_; });
    open_ = false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

// The window the built-in methods act on: each action becomes an output line.
class ConsoleWindow final : public WindowOperations {
 public:
  explicit ConsoleWindow(HeadlessHost& host) : host_(host) {}
  void Minimize(WindowHandle) override;
  void Maximize(WindowHandle) override;
  void Restore(WindowHandle) override;
  bool IsMaximized(WindowHandle) override { return maximized_; }
  void StartSystemMove(WindowHandle) override;
  // A console has no pointer and no message loop to post to: the drag line comes at once.
  void PostSystemMove(WindowHandle window) override { StartSystemMove(window); }
  bool IsPrimaryButtonDown() override { return true; }
  void BlockSessionEnd(WindowHandle, std::u16string_view) override {}
  void AllowSessionEnd(WindowHandle) override {}
  unsigned Dpi(WindowHandle) override { return 96; }
  void SetSize(WindowHandle, int width, int height) override;
  bool IsMinimized(WindowHandle) override { return false; }
  Bounds ClientBounds(WindowHandle) override { return {}; }
  void Destroy(WindowHandle) override;
  void ShowError(WindowHandle, std::u16string_view) override {}

 private:
  HeadlessHost& host_;
  bool maximized_ = false;
};

class HeadlessHost {
 public:
  // Takes the next UI event, waiting up to the time-out; nullopt when none came.
  using NextEvent =
      std::function<std::optional<std::pair<std::uint32_t, PostedJson>>(int timeoutMs)>;

  // `lineHandled` is called after each input line has been handled, so the reader takes
  // the next line only then: lines act in order with what they post to the UI loop.
  HeadlessHost(std::ostream& out, std::ostream& errors, std::function<void()> lineHandled);

  // Resolves the launch configuration and creates the service client. On failure one
  // line goes to the error stream and false comes back.
  bool Configure(LaunchPlatform& platform, WindowHandle window);

  // Runs the UI loop on the platform's events until the window closes or the input ends
  // and every reply is out. `next(-1)` waits as long as it takes. Returns the exit code.
  int Run(const NextEvent& next);

  // Called by the console window and page.
  void Write(const std::string& line);
  // Writes {"page": MESSAGE} without a copy of the message.
  void WritePage(std::string_view message);
  void Closed() { done_ = true; }

 private:
  void Handle(std::uint32_t message, PostedJson payload, const NextEvent& next);
  void HandleLine(PostedJson line, const NextEvent& next);
  // A new reference to the service client for the Host, whose last holder (the Host or
  // a request job) marks the host idle and wakes the UI loop.
  std::shared_ptr<ServiceClient> TrackedClient();
  // Processes events until no worker holds the service client and every reply is out,
  // waking only for events.
  void WaitForRequests(const NextEvent& next);

  std::ostream& out_;
  std::ostream& errors_;
  ConsoleWindow window_;
  std::shared_ptr<ServiceClient> client_;    // owns the service client
  std::shared_ptr<std::atomic<bool>> idle_;  // raised when the tracked reference goes
  Host host_;
  std::function<void()> lineHandled_;
  bool done_ = false;
  int exitCode_ = 0;
};

}  // namespace vardeko
