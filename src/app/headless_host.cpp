#include "app/headless_host.h"

#include <ostream>

#include "base/api_failure.h"
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

  void PostWebMessageAsJson(std::u16string_view text) override {
    host_.Write("{\"page\":" + WideToUtf8(text) + "}");
  }

 private:
  HeadlessHost& host_;
};

class LineMessage final : public WebMessageReceivedArgs {
 public:
  LineMessage(std::u16string source, std::u16string text)
      : source_(std::move(source)), text_(std::move(text)) {}
  std::optional<std::u16string_view> Source() override { return source_; }
  std::optional<std::u16string_view> WebMessageAsJson() override { return text_; }

 private:
  std::u16string source_;
  std::u16string text_;
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

bool HeadlessHost::Configure(LaunchPlatform& platform, WindowHandle window) {
  try {
    host_.window = window;
    const LaunchConfig config = ResolveLaunchConfig(platform, PageSource::kProtocolOnly);
    host_.dataDirectory = config.dataDirectory;
    host_.serviceClient = std::make_shared<ApiBridge>(config.serviceBaseUrl, config.dataDirectory);
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
      if (payload) HandleLine(*payload, next);
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

void HeadlessHost::HandleLine(const std::string& line, const NextEvent& next) {
  const json input = json::parse(line, nullptr, false);
  const auto member = [&](const char* name) {
    return input.is_object() && input.contains(name) ? &input[name] : nullptr;
  };
  if (const json* post = member("post"); post != nullptr && post->is_string()) {
    const json* source = member("source");
    if (source != nullptr && !source->is_string()) {
      errors_ << "vardeko-bridge: \"source\" must be a string; line skipped\n";
      return;
    }
    LineMessage message(source != nullptr ? Utf8ToWide(source->get<std::string>()) : host_.startUrl,
                        Utf8ToWide(post->get<std::string>()));
    HandleWebMessage(host_, message);
  } else if (const json* close = member("close"); close != nullptr && *close == true) {
    HandleCloseAttempt(host_);
  } else if (const json* wait = member("wait"); wait != nullptr && *wait == true) {
    WaitForRequests(next);
  } else {
    errors_ << "vardeko-bridge: not a post, close or wait line; skipped\n";
  }
}

void HeadlessHost::WaitForRequests(const NextEvent& next) {
  // Each running request's job holds a copy of the service client until its reply
  // has been posted; the Host holds the other.
  // No input arrives meanwhile: the reader waits for this line to be handled.
  const auto take = [&](int timeoutMs) {
    auto event = next(timeoutMs);
    if (event) Handle(event->first, std::move(event->second), next);
    return event.has_value();
  };
  while (!done_ && host_.serviceClient.use_count() > 1) take(10);
  while (!done_ && take(0)) {
  }
}

}  // namespace vardeko
