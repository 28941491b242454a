#include "service/http_transport.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>

#include "base/api_failure.h"
#include "base/bounded_json.h"
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
          // An error that carries no number is still an error, not something to wait out.
          error_ = value != 0 ? value : kErrorInternal;
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

  // The engine sends from `body` and reads into `reply` (past its length, within its
  // capacity) until it reports the request closed, whoever is still waiting by then.
  SecretString body;
  std::u16string headers;
  SecretString reply;

 private:
  ExchangeState() = default;
  ~ExchangeState() { SecureWipe(headers); }

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

// The token to send: the explicit snapshot's, else the store's current one.
SessionSnapshot TokenFor(const RawRequest& request, SessionStore& session) {
  if (request.snapshot != nullptr) {
    return SessionSnapshot{request.snapshot->token.Copy(), request.snapshot->version};
  }
  return session.TakeSnapshot();
}

HttpTarget TargetFor(const ServiceAddress& address, const RawRequest& request) {
  HttpTarget target;
  target.host = address.host;
  target.port = address.port;
  target.secure = address.secure;
  target.verb = std::u16string(request.verb);
  target.objectName = address.basePath + ToUtf16Strict(request.path);
  target.timeoutMs = request.timeoutMs;
  target.connectTimeoutMs = std::min(request.timeoutMs, kConnectTimeoutPerAddressMs);
  target.replyHeaderTimeoutMs =
      request.timeoutMs > std::numeric_limits<std::int32_t>::max() - kReplyHeaderMarginMs
          ? std::numeric_limits<std::int32_t>::max()
          : request.timeoutMs + kReplyHeaderMarginMs;
  target.addressFallback = true;
  return target;
}

// Accept, Authorization, Content-Type and the extra lines, assembled in a buffer of its
// final size: growing it would free copies of the token unwiped.
std::u16string HeaderBlock(const RawRequest& request, std::string_view token) {
  constexpr std::string_view kAccept = "Accept: application/json\r\n";
  constexpr std::string_view kAuthorization = "Authorization: Bearer ";
  constexpr std::string_view kContentType = "Content-Type: ";
  constexpr std::string_view kLineEnd = "\r\n";
  std::size_t length = kAccept.size() + request.extraHeaders.size();
  if (request.authenticated) length += kAuthorization.size() + token.size() + kLineEnd.size();
  if (!request.contentType.empty()) {
    length += kContentType.size() + request.contentType.size() + kLineEnd.size();
  }
  SecretString block;
  block.Reserve(length);
  block.Append(kAccept);
  if (request.authenticated) {
    block.Append(kAuthorization);
    block.Append(token);
    block.Append(kLineEnd);
  }
  if (!request.contentType.empty()) {
    block.Append(kContentType);
    block.Append(request.contentType);
    block.Append(kLineEnd);
  }
  block.Append(request.extraHeaders);
  return ToUtf16Strict(block.view());  // measured first, allocated once
}

// The outcome of one attempt: 0 once the request is sent and the reply's headers are
// in, else the error number; and whether the send had completed when it failed.
struct Attempt {
  std::uint32_t error = 0;
  bool sent = false;
};

Attempt TrySendAndReceiveHeaders(HttpRequest& handle, ExchangeState& state,
                                 Clock::time_point deadline) {
  state.ResetResults();
  if (const std::uint32_t error = handle.Send(state.headers, state.body.view())) return {error};
  if (const std::uint32_t error = state.Wait(kNotifySendComplete, deadline)) return {error};
  state.ResetResults();
  if (const std::uint32_t error = handle.ReceiveResponse()) return {error, true};
  return {state.Wait(kNotifyHeadersAvailable, deadline), true};
}

// Whether the request may go out again after `attempt` failed. A server that asks for
// an optional client certificate does so in the handshake, before the request: when the
// send had not completed, nothing of it was sent. Otherwise the request may have reached
// the service, and only one that repeats harmlessly goes again: no body, or a body with
// an idempotency key.
bool MayResend(const Attempt& attempt, bool hasBody, const RawRequest& request) {
  if (attempt.error != kErrorClientCertificateNeeded && attempt.error != kErrorResendRequest) {
    return false;
  }
  const bool nothingSent = attempt.error == kErrorClientCertificateNeeded && !attempt.sent;
  return nothingSent || !hasBody || request.idempotencyKey;
}

// Sends the request and waits until the reply's headers are in. A request the engine
// asks to send again (MayResend) goes again on the same handle, a few times at most and
// only before the deadline; then the error stands as any other.
void SendAndReceiveHeaders(HttpRequest& handle, ExchangeState& state, const RawRequest& request,
                           Clock::time_point deadline) {
  for (int resends = 0;; ++resends) {
    const Attempt attempt = TrySendAndReceiveHeaders(handle, state, deadline);
    if (attempt.error == 0) return;
    if (!MayResend(attempt, !state.body.view().empty(), request) || resends == kMaxResends ||
        Clock::now() >= deadline) {
      FailOn(attempt.error);
    }
    FailOn(handle.PrepareResend(attempt.error));
  }
}

// The Content-Type value without its trailing NULs; empty when absent or unreadable.
std::string ContentTypeOf(HttpRequest& handle) {
  std::optional<std::u16string> type = handle.QueryContentType(kMaxContentTypeBytes);
  if (!type) return {};
  while (!type->empty() && type->back() == u'\0') type->pop_back();
  try {
    return ToUtf8Strict(*type);
  } catch (const ApiFailure&) {
    return {};  // unreadable counts as absent
  }
}

// Reads the whole body, failing past the cap. The announced length only sizes the
// first reservation, and only up to kReplyReserveBytes: a reply that announces 32 MiB
// and then stalls holds little. From there the buffer doubles with what arrives, never
// beyond the cap, and each outgrown buffer is wiped. The engine reads straight into the
// buffer, as much as it has at a time.
SecretString ReadBody(HttpRequest& handle, ExchangeState& state, std::uint64_t cap,
                      Clock::time_point deadline) {
  std::string& body = state.reply.str();
  if (const std::optional<std::uint64_t> length = handle.QueryContentLength()) {
    state.reply.Reserve(static_cast<std::size_t>(std::min({*length, cap, kReplyReserveBytes})));
  }
  std::size_t length = 0;  // bytes read; past them the buffer is zeros the engine fills
  for (;;) {
    state.ResetResults();
    FailOn(handle.QueryDataAvailable());
    FailOn(state.Wait(kNotifyDataAvailable, deadline));
    const std::uint32_t available = state.Available();
    if (available == 0) break;
    if (available > cap - length) Throw(failures::kResponseTooLarge);
    const std::size_t step = std::max<std::size_t>(available, kReadChunkBytes);
    if (length + step > body.capacity()) {
      body.resize(length);
      state.reply.Reserve(static_cast<std::size_t>(
          std::min<std::uint64_t>(std::max(body.capacity() * 2, length + step), cap)));
    }
    body.resize(body.capacity());  // within the capacity: no reallocation
    const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(
        {step, body.size() - length, std::numeric_limits<std::uint32_t>::max()}));
    state.ResetResults();
    FailOn(handle.Read(reinterpret_cast<unsigned char*>(body.data() + length), size));
    FailOn(state.Wait(kNotifyReadComplete, deadline));
    // An engine that reports more than it was asked for is not believed past it.
    const std::uint32_t read = std::min(state.BytesRead(), size);
    if (read == 0) break;
    if (read > cap - length) Throw(failures::kResponseTooLarge);
    length += read;
  }
  body.resize(length);
  return std::move(state.reply);
}

}  // namespace

ApiFailure DecodeErrorBody(std::string_view body) {
  std::string code(failures::kApiError.code);
  std::string message(failures::kApiError.message);
  // A body too deep or too large to decode is one that does not parse.
  const std::optional<nlohmann::json> document = ParseBoundedJson(body);
  if (document && document->is_object()) {
    const auto error = document->find("error");
    if (error != document->end() && error->is_object()) {
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
  const SessionSnapshot snapshot = TokenFor(request, session_);
  if (request.authenticated && snapshot.token.empty()) Throw(failures::kUnauthorized);

  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(request.timeoutMs);
  std::unique_ptr<HttpRequest> handle;
  FailOn(engine_.Open(TargetFor(address_, request), handle));

  // Released before the request handle closes, on every way out.
  ExchangeState* state = ExchangeState::Create();
  const ScopeExit releaseState([state] { state->Release(); });
  FailOn(handle->SetSink(state));
  state->AddRef();  // the sink's reference, dropped on kNotifyHandleClosing

  state->body =
      request.takeBody != nullptr ? std::move(*request.takeBody) : SecretString(request.body);
  state->headers = HeaderBlock(request, snapshot.token.view());
  SendAndReceiveHeaders(*handle, *state, request, deadline);

  HttpResponse response;
  FailOn(handle->QueryStatus(response.status));
  if (response.status >= 300 && response.status <= 399) Throw(failures::kRedirect);
  // The proxy's answer, not the service's: the network is what fails.
  if (response.status == kProxyAuthenticationRequired) Throw(failures::kNetworkError);
  if (response.status == 401 && request.authenticated) session_.ClearIfCurrent(snapshot);
  response.contentType = ContentTypeOf(*handle);
  response.body = ReadBody(*handle, *state, request.cap, deadline);

  if (response.status < 200 || response.status > 299) throw DecodeErrorBody(response.body.view());
  return response;
}

HttpResponse HttpTransport::JsonExchange(std::u16string_view verb, std::string_view path,
                                         const nlohmann::json* body, bool authenticated,
                                         std::int32_t timeoutMs, const SessionSnapshot* snapshot) {
  // Serialised at its final size: a login body carries the password.
  SecretString text;
  if (body != nullptr) text = SerialiseSecret(*body);
  RawRequest request;
  request.verb = verb;
  request.path = path;
  request.takeBody = &text;
  request.contentType = body != nullptr ? "application/json" : "";
  request.authenticated = authenticated;
  request.timeoutMs = timeoutMs;
  request.cap = kJsonReplyCap;
  request.snapshot = snapshot;
  request.idempotencyKey =
      body != nullptr && body->is_object() && body->contains("idempotency_key");
  return Raw(request);
}

nlohmann::json HttpTransport::Json(std::u16string_view verb, std::string_view path,
                                   const nlohmann::json* body, bool authenticated,
                                   std::int32_t timeoutMs, const SessionSnapshot* snapshot) {
  const HttpResponse response = JsonExchange(verb, path, body, authenticated, timeoutMs, snapshot);
  if (response.status == 204) return nullptr;
  std::optional<nlohmann::json> document = ParseBoundedJson(response.body.view());
  if (!document) Throw(failures::kInvalidResponse);
  return std::move(*document);
}

ServiceResult HttpTransport::Forward(std::u16string_view verb, std::string_view path,
                                     const nlohmann::json* body, bool authenticated,
                                     std::int32_t timeoutMs) {
  HttpResponse response = JsonExchange(verb, path, body, authenticated, timeoutMs, nullptr);
  if (response.status == 204) return nullptr;
  return ForwardedReply(std::move(response.body));
}

ServiceResult ForwardedReply(SecretString body) {
  SecretString text;
  // White space goes: the text is seldom longer than the body.
  text.Reserve(ServiceResult::kTextRoomBefore + body.size() + ServiceResult::kTextRoomAfter);
  text.str().assign(ServiceResult::kTextRoomBefore, ' ');
  if (!AppendCompactBoundedJson(body.view(), text)) Throw(failures::kInvalidResponse);
  return ServiceResult::Text(std::move(text));  // the body goes here, before the reply is made
}

}  // namespace vardeko
