#include "app/headless_host.h"

#include <ostream>

#include "base/api_failure.h"
#include "base/bounded_json.h"
#include "base/secure_wipe.h"
#include "base/utf.h"
#include "platform/page_only_view.h"
#include "service/api_bridge.h"
#include "shell/dispatcher.h"
#include "shell/main_window.h"

namespace vardeko {
namespace {

using nlohmann::json;

// The page: every message it is given becomes {"page": VALUE}.
class ConsolePage final : public PageOnlyView {
 public:
  explicit ConsolePage(HeadlessHost& host) : host_(host) {}

  void PostWebMessageAsJson(const std::u16string& text) override {
    const SecretString utf8(WideToUtf8(text));
    host_.WritePage(utf8.view());
  }
  bool PostWebMessageAsUtf8(std::string_view text) override {
    host_.WritePage(text);
    return true;
  }

 private:
  HeadlessHost& host_;
};

// The message as it came in the line, in UTF-8; converted only for a reader that asks
// for UTF-16.
class LineMessage final : public WebMessageReceivedArgs {
 public:
  LineMessage(std::u16string source, std::string& text)
      : source_(std::move(source)), text_(std::move(text)) {}
  ~LineMessage() override { SecureWipe(wide_); }
  std::optional<std::u16string_view> Source() override { return source_; }
  std::optional<std::u16string_view> WebMessageAsJson() override {
    if (wide_.empty() && !text_.empty()) wide_ = Utf8ToWide(text_.view());
    return wide_;
  }
  std::optional<std::string_view> WebMessageAsUtf8() override { return text_.view(); }
  void ReleaseText() noexcept override {
    SecureWipe(text_.str());
    std::string().swap(text_.str());
    SecureWipe(wide_);
    std::u16string().swap(wide_);
  }

 private:
  std::u16string source_;
  SecretString text_;
  std::u16string wide_;
};

json WindowLine(std::string_view action) {
  json line = json::object();
  line["window"] = action;
  return line;
}

}  // namespace

void ConsoleWindow::Minimize(WindowHandle) { host_.Write(WindowLine("minimize").dump()); }
void ConsoleWindow::Maximize(WindowHandle) {
  maximized_ = true;
  host_.Write(WindowLine("maximize").dump());
}
void ConsoleWindow::Restore(WindowHandle) {
  maximized_ = false;
  host_.Write(WindowLine("restore").dump());
}
void ConsoleWindow::StartSystemMove(WindowHandle) { host_.Write(WindowLine("drag").dump()); }
void ConsoleWindow::SetSize(WindowHandle, int width, int height) {
  json line = WindowLine("resize");
  line["width"] = width;
  line["height"] = height;
  host_.Write(line.dump());
}
void ConsoleWindow::Destroy(WindowHandle) {
  host_.Write(WindowLine("close").dump());
  host_.Closed();
}

HeadlessHost::HeadlessHost(std::ostream& out, std::ostream& errors,
                           std::function<void()> lineHandled)
    : out_(out),
      errors_(errors),
      window_(*this),
      host_(window_),
      lineHandled_(std::move(lineHandled)) {}

void HeadlessHost::Write(const std::string& line) { out_ << line << '\n' << std::flush; }

void HeadlessHost::WritePage(std::string_view message) {
  out_ << "{\"page\":" << message << "}\n" << std::flush;
}

bool HeadlessHost::Configure(LaunchPlatform& platform, WindowHandle window) {
  try {
    host_.window = window;
    const LaunchConfig config = ResolveLaunchConfig(platform, PageSource::kProtocolOnly);
    host_.dataDirectory = config.dataDirectory;
    client_ = std::make_shared<ApiBridge>(config.serviceBaseUrl, config.dataDirectory);
    host_.serviceClient = TrackedClient();
    host_.startUrl = config.startUrl;
    host_.debugEnabled = config.debugPort.has_value();
    host_.webview = std::make_unique<ConsolePage>(*this);
    host_.pageLoaded = true;  // the page counts as loaded from the start
    return true;
  } catch (const ApiFailure& failure) {
    errors_ << "vardeko-bridge: invalid configuration: " << failure.code() << ' ' << failure.what()
            << '\n';
  } catch (const std::exception& error) {
    errors_ << "vardeko-bridge: invalid configuration: " << error.what() << '\n';
  }
  exitCode_ = 1;
  return false;
}

int HeadlessHost::Run(const NextEvent& next) {
  while (!done_) {
    if (auto event = next(-1)) Handle(event->first, std::move(event->second), next);
  }
  return exitCode_;
}

void HeadlessHost::Handle(std::uint32_t message, PostedJson payload, const NextEvent& next) {
  switch (message) {
    case WM_APP_POST_JSON:
      DeliverPostedJson(host_, std::move(payload));
      break;
    case WM_APP_CLOSE_CONFIRMED:
      HandleCloseConfirmed(host_);
      break;
    case kCloseAttemptMessage:
      Write(WindowLine("request-close").dump());
      HandleCloseAttempt(host_);
      break;
    case kHeadlessInputLine:
      if (payload) HandleLine(std::move(payload), next);
      if (lineHandled_) lineHandled_();
      break;
    case kHeadlessEndOfInput:
      WaitForRequests(next);
      done_ = true;
      break;
    default:
      break;
  }
}

void HeadlessHost::HandleLine(PostedJson line, const NextEvent& next) {
  // The line is parsed as any outside JSON; a post's text (a whole page message, up to
  // 16 MiB of screenshot) is decoded once, then moved on, and the line is freed first.
  std::optional<json> parsed = ParseBoundedJson(*line);
  line.reset();
  WipedJson input(parsed ? std::move(*parsed) : json());
  const auto member = [&](const char* name) -> json* {
    if (!input.get().is_object()) return nullptr;
    const auto found = input.get().find(name);
    return found == input.get().end() ? nullptr : &*found;
  };
  if (json* post = member("post"); post != nullptr && post->is_string()) {
    const json* source = member("source");
    if (source != nullptr && !source->is_string()) {
      errors_ << "vardeko-bridge: \"source\" must be a string; line skipped\n";
      return;
    }
    LineMessage message(source != nullptr ? Utf8ToWide(source->get<std::string>()) : host_.startUrl,
                        post->get_ref<std::string&>());
    input = WipedJson();
    HandleWebMessage(host_, message);
  } else if (const json* close = member("close"); close != nullptr && *close == true) {
    HandleCloseAttempt(host_);
  } else if (const json* wait = member("wait"); wait != nullptr && *wait == true) {
    WaitForRequests(next);
  } else {
    errors_ << "vardeko-bridge: not a post, close or wait line; skipped\n";
  }
}

std::shared_ptr<ServiceClient> HeadlessHost::TrackedClient() {
  // A reference of its own, shared with the request jobs: when the last one goes, every
  // reply has been posted, and the wake-up posted behind them finds the loop.
  idle_ = std::make_shared<std::atomic<bool>>(false);
  return std::shared_ptr<ServiceClient>(client_.get(), [idle = idle_, window = host_.window,
                                                        owner = client_](ServiceClient*) noexcept {
    idle->store(true);
    PostJsonToWindow(window, nullptr);  // a wake-up: no text reaches the page
  });
}

void HeadlessHost::WaitForRequests(const NextEvent& next) {
  if (!idle_) return;  // not configured: no request ever ran
  // No input arrives meanwhile: the reader waits for this line to be handled, so nothing
  // needs the service client until it is back.
  host_.serviceClient.reset();
  const auto take = [&](int timeoutMs) {
    auto event = next(timeoutMs);
    if (event) Handle(event->first, std::move(event->second), next);
    return event.has_value();
  };
  while (!done_ && !idle_->load()) take(-1);
  while (!done_ && take(0)) {
  }
  host_.serviceClient = TrackedClient();
}

}  // namespace vardeko
