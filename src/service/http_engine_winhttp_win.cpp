// The Windows engine: WinHTTP in asynchronous mode with the fixed values of every
// exchange. The status callback forwards each notification to the exchange's sink
// (the context value); it often runs synchronously inside the WinHTTP call that caused
// it, so callers never hold their own locks across these calls.
#include <windows.h>
#include <winhttp.h>

#include <cwchar>
#include <string>

#include "base/unique_resource.h"
#include "base/wide_win.h"
#include "service/http_engine.h"

namespace vardeko {
namespace {

using UniqueInternet = UniqueResource<HINTERNET, &WinHttpCloseHandle>;

constexpr DWORD kDisabledFeatures =
    WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_AUTHENTICATION;
static_assert(kDisabledFeatures == 7);
static_assert(kErrorClientCertificateNeeded == ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED);
static_assert(kErrorResendRequest == ERROR_WINHTTP_RESEND_REQUEST);

void CALLBACK OnWinHttpStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information,
                              DWORD length) {
  auto* sink = reinterpret_cast<HttpNotificationSink*>(context);
  if (sink == nullptr) return;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      sink->OnNotification(kNotifyHandleClosing, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
      const bool described = information != nullptr && length >= sizeof(WINHTTP_ASYNC_RESULT);
      sink->OnNotification(kNotifyRequestError,
                           described ? static_cast<std::uint32_t>(
                                           static_cast<WINHTTP_ASYNC_RESULT*>(information)->dwError)
                                     : kErrorInternal);
      break;
    }
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      sink->OnNotification(status, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      if (information != nullptr && length >= sizeof(DWORD)) {
        sink->OnNotification(status, *static_cast<DWORD*>(information));
      } else {
        sink->OnNotification(status, 0);
      }
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      sink->OnNotification(status, length);
      break;
    default:
      break;
  }
}

// 0 when the call succeeded or went pending; else the error number.
std::uint32_t Started(BOOL succeeded) {
  if (succeeded) return 0;
  const DWORD error = GetLastError();
  return error == ERROR_IO_PENDING ? 0 : error;
}

class WinHttpRequest final : public HttpRequest {
 public:
  // Closed in reverse: request, connection, session.
  UniqueInternet session;
  UniqueInternet connection;
  UniqueInternet request;

  std::uint32_t SetSink(HttpNotificationSink* sink) override {
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(sink);
    if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
      return GetLastError();
    }
    if (WinHttpSetStatusCallback(request.get(), &OnWinHttpStatus,
                                 WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
      const DWORD error = GetLastError();
      return error != 0 ? error : kErrorInvalidCallback;
    }
    sink_ = sink;
    return 0;
  }

  std::uint32_t Send(std::u16string_view headers, std::string_view body) override {
    // Headers passed to WinHttpSendRequest are added again with every resend on the same
    // handle, so they are added to the request once and every send passes none. Plain
    // adding, as WinHttpSendRequest does: replacing takes one header per call and drops
    // one whose value is empty.
    if (!headersAdded_ && !headers.empty()) {
      if (!WinHttpAddRequestHeaders(request.get(), reinterpret_cast<LPCWSTR>(headers.data()),
                                    static_cast<DWORD>(headers.size()), WINHTTP_ADDREQ_FLAG_ADD)) {
        return GetLastError();
      }
      headersAdded_ = true;
    }
    const auto length = static_cast<DWORD>(body.size());
    return Started(
        WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                           body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data()),
                           length, length, reinterpret_cast<DWORD_PTR>(sink_)));
  }

  std::uint32_t PrepareResend(std::uint32_t error) override {
    if (error == kErrorClientCertificateNeeded &&
        !WinHttpSetOption(request.get(), WINHTTP_OPTION_CLIENT_CERT_CONTEXT,
                          WINHTTP_NO_CLIENT_CERT_CONTEXT, 0)) {
      return GetLastError();
    }
    return 0;
  }

  std::uint32_t ReceiveResponse() override {
    return Started(WinHttpReceiveResponse(request.get(), nullptr));
  }

  std::uint32_t QueryStatus(std::uint32_t& status) override {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &value, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
      return GetLastError();
    }
    status = value;
    return 0;
  }

  std::optional<std::u16string> QueryContentType(std::size_t maxBytes) override {
    DWORD size = 0;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_TYPE, WINHTTP_HEADER_NAME_BY_INDEX,
                        WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > maxBytes)
      return std::nullopt;
    std::u16string value(size / sizeof(wchar_t), u'\0');
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_TYPE,
                             WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
      return std::nullopt;
    }
    return value;  // the caller drops trailing NULs
  }

  std::optional<std::uint64_t> QueryContentLength() override {
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_LENGTH,
                             WINHTTP_HEADER_NAME_BY_INDEX, text, &size, WINHTTP_NO_HEADER_INDEX)) {
      return std::nullopt;
    }
    return std::wcstoull(text, nullptr, 10);
  }

  std::uint32_t QueryDataAvailable() override {
    return Started(WinHttpQueryDataAvailable(request.get(), nullptr));
  }

  std::uint32_t Read(unsigned char* buffer, std::uint32_t size) override {
    return Started(WinHttpReadData(request.get(), buffer, size, nullptr));
  }

 private:
  HttpNotificationSink* sink_ = nullptr;
  bool headersAdded_ = false;
};

class WinHttpEngine final : public HttpEngine {
 public:
  std::uint32_t Open(const HttpTarget& target, std::unique_ptr<HttpRequest>& result) override {
    auto request = std::make_unique<WinHttpRequest>();
    request->session.reset(WinHttpOpen(L"Vardeko/Native", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                                       WINHTTP_FLAG_ASYNC));
    if (!request->session) return GetLastError();
    const int timeout = target.timeoutMs;
    if (!WinHttpSetTimeouts(request->session.get(), timeout, target.connectTimeoutMs, timeout,
                            timeout)) {
      return GetLastError();
    }
    if (target.addressFallback) {
      // Refused by WinHTTP versions that predate it; the addresses are then tried in turn.
      BOOL enable = TRUE;
      WinHttpSetOption(request->session.get(), WINHTTP_OPTION_IPV6_FAST_FALLBACK, &enable,
                       sizeof enable);
    }
    request->connection.reset(
        WinHttpConnect(request->session.get(), Terminated(target.host).c_str(), target.port, 0));
    if (!request->connection) return GetLastError();
    request->request.reset(
        WinHttpOpenRequest(request->connection.get(), Terminated(target.verb).c_str(),
                           Terminated(target.objectName).c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, target.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request->request) return GetLastError();
    DWORD headerWait = static_cast<DWORD>(target.replyHeaderTimeoutMs);
    if (!WinHttpSetOption(request->request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                          &headerWait, sizeof headerWait)) {
      return GetLastError();
    }
    DWORD features = kDisabledFeatures;
    if (!WinHttpSetOption(request->request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &features,
                          sizeof features)) {
      return GetLastError();
    }
    result = std::move(request);
    return 0;
  }
};

}  // namespace

HttpEngine& SystemHttpEngine() {
  static WinHttpEngine engine;
  return engine;
}

}  // namespace vardeko
