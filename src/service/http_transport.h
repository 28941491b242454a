#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/api_failure.h"
#include "base/secure_wipe.h"
#include "service/http_engine.h"
#include "service/service_address.h"
#include "service/service_result.h"
#include "service/session_store.h"

namespace vardeko {

inline constexpr std::uint64_t kJsonReplyCap = 33554432;
// The smallest read asked of the engine; it is asked for all it has when that is more.
inline constexpr std::uint32_t kReadChunkBytes = 32768;
inline constexpr std::size_t kMaxContentTypeBytes = 8192;
// The most a reply's announced length reserves before its bytes arrive.
inline constexpr std::uint64_t kReplyReserveBytes = 1 << 20;
// Resends of one exchange asked for by the engine (client certificate wanted, resend).
inline constexpr int kMaxResends = 3;
// A proxy asking for a sign-in: the service was never reached.
inline constexpr std::uint32_t kProxyAuthenticationRequired = 407;
// WinHTTP gives each address of the host the connect time-out in turn, so with the whole
// deadline there a dead first address leaves none for the next. A live server answers a
// connect within a round trip; 5 s still covers a lost first packet and its resend.
inline constexpr std::int32_t kConnectTimeoutPerAddressMs = 5000;
// WinHTTP's own bound on the wait for the reply's headers (90 s unless set) sits just past
// the deadline, so the deadline decides, as in every other wait: with TIMEOUT, where
// an engine's own expiry could report another error (Wine's reports a socket time-out).
inline constexpr std::int32_t kReplyHeaderMarginMs = 1000;

// One successful exchange: a status from 200 to 299, the reply's Content-Type (empty
// when absent) and the body, wiped when the response goes.
struct HttpResponse {
  std::uint32_t status = 0;
  std::string contentType;
  SecretString body;
};

struct RawRequest {
  std::u16string_view verb;
  std::string_view path;  // starts with "/", may carry a query
  std::string_view body;
  // A body the exchange takes over instead of copying `body` (a screenshot is 12 MiB);
  // left empty.
  SecretString* takeBody = nullptr;
  std::string_view contentType;   // empty: no Content-Type header
  std::string_view extraHeaders;  // complete lines, each ending in CR LF
  bool authenticated = false;
  std::int32_t timeoutMs = 15000;
  std::uint64_t cap = kJsonReplyCap;
  const SessionSnapshot* snapshot = nullptr;  // sent instead of the stored token
  // The body carries an idempotency key: the service books it once however often it
  // arrives, so it may be sent again after it may have reached the service.
  bool idempotencyKey = false;
};

// Performs exactly one exchange per call and turns every outcome into a result or an
// ApiFailure. Safe to use from many worker threads at once: each exchange has its own
// engine request and state; the session store's lock is held only for its own steps.
class HttpTransport {
 public:
  HttpTransport(const ServiceAddress& address, SessionStore& session, HttpEngine& engine)
      : address_(address), session_(session), engine_(engine) {}

  HttpResponse Raw(const RawRequest& request);

  // Sends `body` (when given) as compact JSON and decodes the reply: null for 204, else
  // the reply as one strict JSON text within the bounds of ParseBoundedJson
  // (INVALID_RESPONSE when it is not).
  nlohmann::json Json(std::u16string_view verb, std::string_view path, const nlohmann::json* body,
                      bool authenticated, std::int32_t timeoutMs,
                      const SessionSnapshot* snapshot = nullptr);

  // The same exchange, its reply passed on as the compact text of what Json would give
  // (null for 204), without the tree.
  ServiceResult Forward(std::u16string_view verb, std::string_view path, const nlohmann::json* body,
                        bool authenticated, std::int32_t timeoutMs);

 private:
  HttpResponse JsonExchange(std::u16string_view verb, std::string_view path,
                            const nlohmann::json* body, bool authenticated, std::int32_t timeoutMs,
                            const SessionSnapshot* snapshot);

  const ServiceAddress& address_;
  SessionStore& session_;
  HttpEngine& engine_;
};

// A reply body checked as one JSON text within the bounds of ParseBoundedJson, made into
// its compact text without a tree; INVALID_RESPONSE when it is not.
ServiceResult ForwardedReply(SecretString body);

// The failure a non-2xx, non-3xx reply becomes: API_ERROR with the default message,
// unless the body is {"error": {...}} with a string "code" and/or "message".
ApiFailure DecodeErrorBody(std::string_view body);

}  // namespace vardeko
