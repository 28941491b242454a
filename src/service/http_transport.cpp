#include "service/http_transport.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "base/api_failure.h"
#include "base/scope_exit.h"
#include "service/validation.h"

namespace vardeko {
namespace {

using Clock = std::chrono::steady_clock;

// Shared by the calling thread and the engine's notifications. The caller holds one
// reference; the sink holds the second from its installation until the engine reports
// the request closed. The last one out frees it, wiping the body copy and the header
// block (which carries the token).
class ExchangeState final : public HttpNotificationSink {
 public:
  static ExchangeState* Create() { return new ExchangeState(); }

  void AddRef() { references_.fetch_add(1); }
  void Release() {
    if (references_.fetch_sub(1) == 1) delete this;
  }

  void OnNotification(std::uint32_t notification, std::uint32_t value) noexcept override {
    if (notification == kNotifyHandleClosing) {
      Release();
      return;
    }
    {
      std::unique_lock lock(mutex_, std::defer_lock);
      try {
        lock.lock();
      } catch (...) {
        return;  // the waiter's deadline settles it
      }
      switch (notification) {
        case kNotifyRequestError:
          error_ = value;
          break;
        case kNotifySendComplete:
        case kNotifyHeadersAvailable:
          completed_ = notification;
          break;
        case kNotifyDataAvailable:
          completed_ = notification;
          available_ = value;
          break;
        case kNotifyReadComplete:
          completed_ = notification;
          bytesRead_ = value;
          break;
        default:
          return;  // nothing anyone waits for
      }
      // Woken under the lock: once it is released the caller may leave and the closing
      // notification may free this state.
      changed_.notify_all();
    }
  }

  void ResetResults() {
    std::lock_guard lock(mutex_);
    completed_ = error_ = available_ = bytesRead_ = 0;
  }

  // 0 once `awaited` arrived; the error number otherwise (12002 at the deadline). An
  // error wins over a completion that came with it.
  std::uint32_t Wait(std::uint32_t awaited, Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_until(lock, deadline,
                             [&] { return error_ != 0 || completed_ == awaited; })) {
      return kErrorTimeout;
    }
    return error_;
  }

  std::uint32_t Available() {
    std::lock_guard lock(mutex_);
    return available_;
  }
  std::uint32_t BytesRead() {
    std::lock_guard lock(mutex_);
    return bytesRead_;
  }

  SecretString body;
  std::u16string headers;
  std::array<unsigned char, kReadChunkBytes> buffer{};

 private:
  ExchangeState() = default;
  ~ExchangeState() {
    SecureWipe(headers);
    SecureWipe(buffer.data(), buffer.size());
  }

  std::atomic<std::int32_t> references_{1};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint32_t completed_ = 0;
  std::uint32_t error_ = 0;
  std::uint32_t available_ = 0;
  std::uint32_t bytesRead_ = 0;
};

void FailOn(std::uint32_t error) {
  if (error != 0) ThrowNetworkFailure(error);
}

}  // namespace

ApiFailure DecodeErrorBody(std::string_view body) {
  std::string code(failures::kApiError.code);
  std::string message(failures::kApiError.message);
  const nlohmann::json document = nlohmann::json::parse(body, nullptr, false);
  if (document.is_object()) {
    const auto error = document.find("error");
    if (error != document.end() && error->is_object()) {
      const auto codeMember = error->find("code");
      if (codeMember != error->end() && codeMember->is_string())
        code = codeMember->get<std::string>();
      const auto messageMember = error->find("message");
      if (messageMember != error->end() && messageMember->is_string()) {
        message = messageMember->get<std::string>();
      }
    }
  }
  return ApiFailure(std::move(code), std::move(message));
}

HttpResponse HttpTransport::Raw(const RawRequest& request) {
  const SessionSnapshot snapshot =
      request.snapshot != nullptr
          ? SessionSnapshot{request.snapshot->token.Copy(), request.snapshot->version}
          : session_.TakeSnapshot();
  if (request.authenticated && snapshot.token.empty()) Throw(failures::kUnauthorized);

  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(request.timeoutMs);

  HttpTarget target;
  target.host = address_.host;
  target.port = address_.port;
  target.secure = address_.secure;
  target.verb = std::u16string(request.verb);
  target.objectName = address_.basePath + ToUtf16Strict(request.path);
  target.timeoutMs = request.timeoutMs;
  std::unique_ptr<HttpRequest> handle;
  FailOn(engine_.Open(target, handle));

  // Released before the request handle closes, on every way out.
  ExchangeState* state = ExchangeState::Create();
  const ScopeExit releaseState([state] { state->Release(); });
  FailOn(handle->SetSink(state));
  state->AddRef();  // the sink's reference, dropped on kNotifyHandleClosing

  state->body = SecretString(request.body);
  {
    SecretString block(std::string_view("Accept: application/json\r\n"));
    if (request.authenticated) {
      block.str() += "Authorization: Bearer ";
      block.str() += snapshot.token.view();
      block.str() += "\r\n";
    }
    if (!request.contentType.empty()) {
      block.str() += "Content-Type: ";
      block.str() += request.contentType;
      block.str() += "\r\n";
    }
    block.str() += request.extraHeaders;
    state->headers = ToUtf16Strict(block.view());
  }

  state->ResetResults();
  FailOn(handle->Send(state->headers, state->body.view()));
  FailOn(state->Wait(kNotifySendComplete, deadline));
  state->ResetResults();
  FailOn(handle->ReceiveResponse());
  FailOn(state->Wait(kNotifyHeadersAvailable, deadline));

  HttpResponse response;
  FailOn(handle->QueryStatus(response.status));
  if (response.status >= 300 && response.status <= 399) Throw(failures::kRedirect);
  if (response.status == 401 && request.authenticated) session_.ClearIfCurrent(snapshot);

  if (const std::optional<std::u16string> type = handle->QueryContentType(kMaxContentTypeBytes)) {
    std::u16string value = *type;
    while (!value.empty() && value.back() == u'\0') value.pop_back();
    try {
      response.contentType = ToUtf8Strict(value);
    } catch (const ApiFailure&) {
      response.contentType.clear();  // unreadable counts as absent
    }
  }

  // One buffer for the whole body when its length is announced (never more than the
  // cap): no regrowth, no copies left behind to wipe.
  if (const std::optional<std::uint64_t> length = handle->QueryContentLength()) {
    response.body.str().reserve(static_cast<std::size_t>(std::min(*length, request.cap)));
  }
  std::uint64_t received = 0;
  for (;;) {
    state->ResetResults();
    FailOn(handle->QueryDataAvailable());
    FailOn(state->Wait(kNotifyDataAvailable, deadline));
    const std::uint32_t available = state->Available();
    if (available == 0) break;
    if (available > request.cap - received) Throw(failures::kResponseTooLarge);
    state->ResetResults();
    FailOn(handle->Read(state->buffer.data(), kReadChunkBytes));
    FailOn(state->Wait(kNotifyReadComplete, deadline));
    const std::uint32_t read = state->BytesRead();
    if (read == 0) break;
    if (read > request.cap - received) Throw(failures::kResponseTooLarge);
    response.body.Append(
        std::string_view(reinterpret_cast<const char*>(state->buffer.data()), read));
    received += read;
  }

  if (response.status < 200 || response.status > 299) throw DecodeErrorBody(response.body.view());
  return response;
}

nlohmann::json HttpTransport::Json(std::u16string_view verb, std::string_view path,
                                   const nlohmann::json* body, bool authenticated,
                                   std::int32_t timeoutMs, const SessionSnapshot* snapshot) {
  SecretString text;
  if (body != nullptr) text = SecretString(body->dump());
  RawRequest request;
  request.verb = verb;
  request.path = path;
  request.body = text.view();
  request.contentType = body != nullptr ? "application/json" : "";
  request.authenticated = authenticated;
  request.timeoutMs = timeoutMs;
  request.cap = kJsonReplyCap;
  request.snapshot = snapshot;
  const HttpResponse response = Raw(request);
  if (response.status == 204) return nullptr;
  nlohmann::json document = nlohmann::json::parse(response.body.view(), nullptr, false);
  if (document.is_discarded()) Throw(failures::kInvalidResponse);
  return document;
}

}  // namespace vardeko
