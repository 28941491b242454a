#include "shell/dispatcher.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/api_failure.h"
#include "base/bounded_json.h"
#include "base/dpi_scaling.h"
#include "base/utf.h"
#include "shell/envelope.h"
#include "shell/main_window.h"
#include "shell/request_worker.h"

namespace vardeko {
namespace {

using nlohmann::json;

constexpr int kMaxTestWidth = 3840;
constexpr int kMaxTestHeight = 2160;

// The service client exists from start-up on; a message before it is a fault of ours.
const std::shared_ptr<ServiceClient>& ServiceClientOf(const Host& host) {
  if (!host.serviceClient) throw std::logic_error("no service client");
  return host.serviceClient;
}

json AppInfo(const Host& host) {
  const ServiceClient& client = *ServiceClientOf(host);
  json info = json::object();
  info["apiUrl"] = client.ApiUrl();
  info["persistentSession"] = client.IsPersistent();
  info["runtime"] = host.runtimeName;
  info["version"] = kAppVersion;
  return info;
}

void WindowControl(Host& host, const json& args) {
  if (args.size() != 1 || !args[0].is_string()) Throw(failures::kWindowAction);
  const auto& action = args[0].get_ref<const std::string&>();
  WindowOperations& window = host.windowOperations;
  if (action == "minimize") {
    window.Minimize(host.window);
  } else if (action == "maximize") {
    // The same action toggles.
    if (window.IsMaximized(host.window)) {
      window.Restore(host.window);
    } else {
      window.Maximize(host.window);
    }
  } else if (action == "close") {
    host.closing = true;
    PostCloseConfirmed(host.window);
  } else {
    Throw(failures::kWindowAction);
  }
}

// A JSON integer, signed or unsigned, within [min, max]. The range is checked on the
// value as sent, so 2^32 + 960 is refused rather than wrapped to 960.
int WindowLength(const json& value, int min, int max) {
  if (!value.is_number_integer()) Throw(failures::kWindowSize);
  if (value.is_number_unsigned()) {
    const auto length = value.get<std::uint64_t>();
    if (length < static_cast<std::uint64_t>(min) || length > static_cast<std::uint64_t>(max)) {
      Throw(failures::kWindowSize);
    }
    return static_cast<int>(length);
  }
  const auto length = value.get<std::int64_t>();
  if (length < min || length > max) Throw(failures::kWindowSize);
  return static_cast<int>(length);
}

void TestWindowSize(Host& host, const json& args) {
  if (args.size() != 2) Throw(failures::kWindowSize);
  const int width = WindowLength(args[0], kMinWindowWidth, kMaxTestWidth);
  const int height = WindowLength(args[1], kMinWindowHeight, kMaxTestHeight);
  WindowOperations& window = host.windowOperations;
  const unsigned dpi = window.Dpi(host.window);
  window.SetSize(host.window, ScaleForDpi(width, dpi), ScaleForDpi(height, dpi));
}

// The page's one boolean: whether it now holds input that is not saved.
void UnsavedInput(Host& host, const json& args) {
  if (args.size() != 1 || !args[0].is_boolean()) Throw(failures::kInvalidInput);
  SetUnsavedInput(host, args[0].get<bool>());
}

void StartServiceRequest(Host& host, std::string id, std::string method, WipedJson args) {
  // Testing the old value and taking the slot are one atomic step.
  if (host.inFlight->fetch_add(1) >= kMaxInFlight) {
    host.inFlight->fetch_sub(1);
    Throw(failures::kBusy);
  }
  try {
    StartRequestWorker(RequestJob{host.window, ServiceClientOf(host), host.inFlight, std::move(id),
                                  std::move(method), std::move(args)});
  } catch (...) {
    host.inFlight->fetch_sub(1);
    throw;
  }
}

// The request envelope's members once they have passed their checks.
struct Request {
  std::string method;
  WipedJson args;
};

// Checks the parsed message. Returns nullopt for a message to be ignored; `id` is set as
// soon as a valid id is known, even when a later member makes the message ignored.
std::optional<Request> CheckEnvelope(json& message, std::optional<std::string>& id) {
  if (!message.is_object()) return std::nullopt;
  const auto idMember = message.find("id");
  if (idMember == message.end() || !idMember->is_string()) return std::nullopt;
  std::string& text = idMember->get_ref<std::string&>();
  if (text.empty() || text.size() > kMaxIdBytes) return std::nullopt;
  id = std::move(text);

  const auto method = message.find("method");
  if (method == message.end() || !method->is_string()) return std::nullopt;
  const auto args = message.find("args");
  if (args == message.end() || !args->is_array() || args->size() > kMaxArgs) return std::nullopt;

  // The message is dropped after this, so its members are moved, not copied: a
  // screenshot's text may be 16 MiB.
  return Request{std::move(method->get_ref<std::string&>()), std::move(*args)};
}

}  // namespace

void HandleWebMessage(Host& host, WebMessageReceivedArgs& args) noexcept {
  std::optional<std::string> id;
  try {
    const std::optional<std::u16string_view> source = args.Source();
    if (!source || *source != host.startUrl) return;
    // The length is checked before the text is parsed. The text and the parsed message
    // may carry a password: the message is wiped when it goes, as is every copy of the
    // text the parse makes.
    WipedJson message;
    {
      std::optional<json> parsed;
      if (const std::optional<std::string_view> utf8 = args.WebMessageAsUtf8()) {
        const std::optional<std::size_t> units = utf::Utf16Length(*utf8);
        if (!units || *units > kMaxMessageLength) return;
        parsed = ParseBoundedJson(*utf8);
      } else {
        const std::optional<std::u16string_view> text = args.WebMessageAsJson();
        if (!text || text->size() > kMaxMessageLength) return;
        parsed = ParseBoundedJson(*text);
      }
      // Too deep, too many values or not text counts as not JSON: nothing recurses over
      // it later.
      if (!parsed) return;
      message = std::move(*parsed);
    }
    args.ReleaseText();
    std::optional<Request> request = CheckEnvelope(message.get(), id);
    if (!request) return;
    const std::string& method = request->method;

    if (method == "appInfo") {
      PostJsonToPage(host, SuccessReply(*id, AppInfo(host)));
    } else if (method == "windowControl") {
      WindowControl(host, request->args.get());
      PostJsonToPage(host, SuccessReply(*id, nullptr));
    } else if (method == "windowDrag") {
      // The move loop runs after this handler has returned, and holds the UI thread until
      // the drag ends; the reply is success whether or not the button is still down then.
      PostJsonToPage(host, SuccessReply(*id, nullptr));
      host.windowOperations.PostSystemMove(host.window);
    } else if (method == "setUnsavedInput") {
      UnsavedInput(host, request->args.get());
      PostJsonToPage(host, SuccessReply(*id, nullptr));
    } else if (host.debugEnabled && method == "test:request-close") {
      PostCloseAttempt(host.window);
      PostJsonToPage(host, SuccessReply(*id, nullptr));
    } else if (host.debugEnabled && method == "test:window-size") {
      TestWindowSize(host, request->args.get());
      PostJsonToPage(host, SuccessReply(*id, nullptr));
    } else {
      StartServiceRequest(host, *id, std::move(request->method), std::move(request->args));
    }
  } catch (...) {
    // Before the id is known nothing is sent; after, the failure becomes the reply.
    if (!id) return;
    try {
      PostJsonToPage(host, FailureReply(*id, CurrentFailureAtDispatcher()));
    } catch (...) {
      // Memory ran out while failing; the page gets no reply, the UI thread goes on.
    }
  }
}

}  // namespace vardeko
