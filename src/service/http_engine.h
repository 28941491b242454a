#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The HTTP engine under the transport, shaped after WinHTTP's asynchronous mode: every
// step is started and later confirmed by a notification, delivered from any thread
// (WinHTTP on Windows; libcurl on Linux).
#include "base/api_failure.h"

namespace vardeko {

// Notification codes, with WinHTTP's values.
inline constexpr std::uint32_t kNotifySendComplete = 0x00400000;
inline constexpr std::uint32_t kNotifyHeadersAvailable = 0x00020000;
inline constexpr std::uint32_t kNotifyDataAvailable = 0x00040000;  // value: byte count
inline constexpr std::uint32_t kNotifyReadComplete = 0x00080000;   // value: byte count
inline constexpr std::uint32_t kNotifyRequestError = 0x00200000;   // value: error code
inline constexpr std::uint32_t kNotifyHandleClosing = 0x00000800;

// Error numbers, with WinHTTP's values.
inline constexpr std::uint32_t kErrorTimeout = kWinHttpTimeoutError;
inline constexpr std::uint32_t kErrorInternal = 12004;
inline constexpr std::uint32_t kErrorCannotConnect = 12029;
inline constexpr std::uint32_t kErrorNameNotResolved = 12007;
inline constexpr std::uint32_t kErrorConnectionError = 12030;
inline constexpr std::uint32_t kErrorSecureFailure = 12175;
inline constexpr std::uint32_t kErrorInvalidCallback = 12009;
// Both ask for the same request to be sent again: the server wants a client certificate
// (it may do without one), or the engine must resend (after a dropped connection).
inline constexpr std::uint32_t kErrorClientCertificateNeeded = 12044;
inline constexpr std::uint32_t kErrorResendRequest = 12032;

// Receives one request's notifications. The engine delivers kNotifyHandleClosing once,
// after the request was closed and no other notification can follow.
class HttpNotificationSink {
 public:
  virtual void OnNotification(std::uint32_t notification, std::uint32_t value) noexcept = 0;

 protected:
  ~HttpNotificationSink() = default;
};

struct HttpTarget {
  std::u16string host;
  std::uint16_t port = 0;
  bool secure = false;
  std::u16string verb;
  std::u16string objectName;   // base path followed by the request path
  std::int32_t timeoutMs = 0;  // resolve, send and receive
  // Each address the host name resolves to gets this long to connect; WinHTTP tries
  // them one after another.
  std::int32_t connectTimeoutMs = 0;
  // The wait for the reply's headers, which WinHTTP bounds apart from the phases above
  // (90 s unless set).
  std::int32_t replyHeaderTimeoutMs = 0;
  // Race IPv6 against IPv4 where the engine can; ignored where it cannot.
  bool addressFallback = false;
};

// One request with its own session and connection. Calls return 0 when the step was
// started (or done), else an error number. Closing is the destructor: request,
// connection, session, in that order.
class HttpRequest {
 public:
  virtual ~HttpRequest() = default;

  // Installs the sink (the exchange's context) for every notification.
  virtual std::uint32_t SetSink(HttpNotificationSink* sink) = 0;
  // `headers` and `body` stay valid until the engine reports the request closed: the
  // engine sends from them as they are, without a copy.
  virtual std::uint32_t Send(std::u16string_view headers, std::string_view body) = 0;
  // Readies the request to be sent again after `error` (kErrorClientCertificateNeeded:
  // go on without a certificate). 0 when it may be resent, else the error to fail with.
  virtual std::uint32_t PrepareResend(std::uint32_t error) = 0;
  virtual std::uint32_t ReceiveResponse() = 0;
  virtual std::uint32_t QueryStatus(std::uint32_t& status) = 0;
  // The Content-Type value with its size in bytes as the engine reports it (NUL
  // included); nullopt when absent or unreadable.
  virtual std::optional<std::u16string> QueryContentType(std::size_t maxBytes) = 0;
  // The announced Content-Length, when the reply has one; only a hint for reserving.
  virtual std::optional<std::uint64_t> QueryContentLength() = 0;
  virtual std::uint32_t QueryDataAvailable() = 0;
  // Reads up to `size` bytes into `buffer`, which stays valid until the read completes
  // or the engine reports the request closed.
  virtual std::uint32_t Read(unsigned char* buffer, std::uint32_t size) = 0;
};

class HttpEngine {
 public:
  virtual ~HttpEngine() = default;
  // Opens session (with the fixed user agent, the time-outs and the address fallback),
  // connection and request, and switches off cookies, redirects and authentication
  // schemes. libcurl races the addresses and bounds the header wait on its own, so the
  // Linux engine reads only `timeoutMs`.
  virtual std::uint32_t Open(const HttpTarget& target, std::unique_ptr<HttpRequest>& request) = 0;
};

// The platform's engine.
HttpEngine& SystemHttpEngine();

}  // namespace vardeko
