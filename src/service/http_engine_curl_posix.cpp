// The Linux engine: libcurl (HTTP/1.1, the system's certificate store, no redirects, no
// cookies, no authentication schemes) driven from a thread of its own per request,
// delivering the same notifications in the same order as WinHTTP.
#include <curl/curl.h>
#include <malloc.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "base/secure_wipe.h"
#include "base/unique_resource.h"
#include "base/utf.h"
#include "service/http_engine.h"
#include "service/http_header_lines.h"

namespace vardeko {
namespace {

constexpr std::size_t kBufferAhead = 1 << 20;  // body bytes curl may read ahead of us

std::uint32_t ErrorNumber(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return kErrorTimeout;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kErrorNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return kErrorCannotConnect;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
      return kErrorSecureFailure;
    default:
      return kErrorConnectionError;
  }
}

std::string Narrow(std::u16string_view text) {
  std::string narrow;
  utf::Utf16ToUtf8(text, narrow);
  return narrow;
}

// libcurl's own copies (the request it assembles, the nodes of the header list, its
// receive buffer) are wiped before libcurl frees them: its allocations come here.
void FreeWiped(void* block) {
  if (block == nullptr) return;
  SecureWipe(block, malloc_usable_size(block));
  std::free(block);
}
void* AllocateForCurl(std::size_t size) { return std::malloc(size); }
void* AllocateZeroedForCurl(std::size_t count, std::size_t size) {
  return std::calloc(count, size);
}
void* ReallocateForCurl(void* block, std::size_t size) {
  if (block == nullptr) return std::malloc(size);
  const std::size_t held = malloc_usable_size(block);
  if (size <= held) return block;
  void* bigger = std::malloc(size);
  if (bigger == nullptr) return nullptr;
  std::memcpy(bigger, block, held);
  FreeWiped(block);
  return bigger;
}
char* DuplicateForCurl(const char* text) {
  const std::size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(std::malloc(size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

// The header list holds the token: each line is wiped before the list is freed.
void FreeHeaderList(curl_slist* list) noexcept {
  for (curl_slist* node = list; node != nullptr; node = node->next) {
    if (node->data != nullptr) SecureWipe(node->data, std::strlen(node->data));
  }
  curl_slist_free_all(list);
}

using UniqueEasy = UniqueResource<CURL*, &curl_easy_cleanup>;
using UniqueHeaderList = UniqueResource<curl_slist*, &FreeHeaderList>;

// libcurl copies the line into a new node; false when it could not.
bool AppendHeader(UniqueHeaderList& list, const char* line) {
  curl_slist* head = curl_slist_append(list.get(), line);
  if (head == nullptr) return false;
  static_cast<void>(list.release());  // the same list, now starting at `head`
  list.reset(head);
  return true;
}

// Everything the transfer thread and the caller share. The thread holds it until the
// transfer ends; then it reports the request closed.
struct Transfer {
  std::mutex mutex;
  std::condition_variable changed;
  HttpNotificationSink* sink = nullptr;
  UniqueHeaderList headerList;
  UniqueEasy easy;          // cleaned up before the list it points to
  SecretString headerText;  // the lines curl is given, token included
  std::string url;
  std::string verb;
  std::int32_t timeoutMs = 0;

  // Results, under the mutex.
  bool sendReported = false;
  bool finished = false;  // no more body bytes will come
  bool closed = false;    // the caller closed the request
  std::uint32_t error = 0;
  ReplyHeaders headers;
  SecretString buffered;  // body bytes not yet read; reused, wiped when the transfer goes
  std::size_t bufferedOffset = 0;

  // Steps the caller started and that wait for the transfer.
  bool wantHeaders = false;
  bool wantData = false;
  unsigned char* readInto = nullptr;
  std::uint32_t readSize = 0;

  std::size_t Buffered() const { return buffered.size() - bufferedOffset; }
};

using Notification = std::pair<std::uint32_t, std::uint32_t>;

// Works out which started steps can now complete; called with the mutex held. The
// notifications are delivered after unlocking.
void Settle(Transfer& t, std::vector<Notification>& out) {
  if (t.wantHeaders && (t.headers.complete || t.error != 0)) {
    t.wantHeaders = false;
    out.emplace_back(t.error != 0 ? kNotifyRequestError : kNotifyHeadersAvailable, t.error);
  }
  // Data is reported, and a read completed, once a large step has come (or the body has
  // ended): a hand-over per mebibyte, not one per chunk of the socket.
  const bool ready = t.Buffered() >= kBufferAhead || t.finished;
  if (t.wantData && ready) {
    t.wantData = false;
    if (t.Buffered() == 0 && t.error != 0) {
      out.emplace_back(kNotifyRequestError, t.error);
    } else {
      out.emplace_back(kNotifyDataAvailable,
                       static_cast<std::uint32_t>(std::min<std::size_t>(t.Buffered(), UINT32_MAX)));
    }
  }
  if (t.readInto != nullptr &&
      (t.Buffered() >= std::min<std::size_t>(t.readSize, kBufferAhead) || t.finished)) {
    if (t.Buffered() == 0 && t.error != 0) {
      out.emplace_back(kNotifyRequestError, t.error);
    } else {
      const std::size_t count = std::min<std::size_t>(t.readSize, t.Buffered());
      std::memcpy(t.readInto, t.buffered.str().data() + t.bufferedOffset, count);
      t.bufferedOffset += count;
      if (t.bufferedOffset == t.buffered.size()) {
        t.buffered.str().clear();  // the capacity is reused, and wiped at the end
        t.bufferedOffset = 0;
      }
      out.emplace_back(kNotifyReadComplete, static_cast<std::uint32_t>(count));
    }
    t.readInto = nullptr;
    t.changed.notify_all();  // room for curl to write again
  }
}

void Deliver(Transfer& t, const std::vector<Notification>& notifications) {
  for (const auto& [notification, value] : notifications)
    t.sink->OnNotification(notification, value);
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* context) {
  auto& t = *static_cast<Transfer*>(context);
  std::vector<Notification> out;
  {
    std::lock_guard lock(t.mutex);
    if (t.closed) return 0;
    if (!t.sendReported) {
      t.sendReported = true;
      out.emplace_back(kNotifySendComplete, 0);
    }
    TakeHeaderLine(t.headers, std::string_view(data, size * count));
    // A switch of protocols has no body of ours: the reply ends here, at once, rather
    // than when the other protocol's connection closes or the deadline passes.
    if (t.headers.complete && t.headers.status < 200) t.finished = true;
    Settle(t, out);
  }
  Deliver(t, out);
  return size * count;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* context) {
  auto& t = *static_cast<Transfer*>(context);
  std::vector<Notification> out;
  {
    std::unique_lock lock(t.mutex);
    t.changed.wait(lock, [&] { return t.closed || t.Buffered() < kBufferAhead; });
    if (t.closed || t.finished) return 0;  // ends the transfer
    t.buffered.Append(std::string_view(data, size * count));
    Settle(t, out);
  }
  Deliver(t, out);
  return size * count;
}

int OnProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto& t = *static_cast<Transfer*>(context);
  std::lock_guard lock(t.mutex);
  return t.closed || t.finished ? 1 : 0;
}

void RunTransfer(std::shared_ptr<Transfer> t) {
  const CURLcode code = curl_easy_perform(t->easy.get());
  std::vector<Notification> out;
  HttpNotificationSink* sink = nullptr;
  {
    std::lock_guard lock(t->mutex);
    // A transfer we ended ourselves (after a switch of protocols) has no error.
    const bool endedByUs = t->finished;
    t->finished = true;
    if (code != CURLE_OK && !t->closed && !endedByUs) {
      t->error = ErrorNumber(code);
      if (!t->sendReported) {
        t->sendReported = true;
        out.emplace_back(kNotifyRequestError, t->error);
      }
    }
    if (!t->closed) Settle(*t, out);
    sink = t->sink;
  }
  if (sink != nullptr) {
    Deliver(*t, out);
  }
  // Nothing follows closing: wait until the caller has closed the request.
  {
    std::unique_lock lock(t->mutex);
    t->changed.wait(lock, [&] { return t->closed; });
  }
  if (sink != nullptr) sink->OnNotification(kNotifyHandleClosing, 0);
}

// Gives curl the header block's lines, rewritten in place in our own wiped copy with a
// NUL after each, so that no other copy of the token is made on our side.
bool ListHeaders(Transfer& t, std::u16string_view headers) {
  constexpr std::string_view kLineEnd = "\r\n";
  t.headerText = SecretString(Narrow(headers));
  std::string& text = t.headerText.str();
  bool hasContentType = false;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t found = text.find(kLineEnd, start);
    const std::size_t end = found == std::string::npos ? text.size() : found;
    if (end > start) {
      const std::size_t length = ToCurlHeaderLine(std::span(text).subspan(start, end - start));
      text[start + length] = '\0';  // at most the line end's place, or the string's own NUL
      hasContentType = hasContentType || IsContentTypeLine(text.data() + start);
      if (!AppendHeader(t.headerList, text.data() + start)) return false;
    }
    start = end + kLineEnd.size();
  }
  // No headers of curl's own making: no form content type, no 100-continue.
  if (!hasContentType && !AppendHeader(t.headerList, "Content-Type:")) return false;
  return AppendHeader(t.headerList, "Expect:");
}

class CurlRequest final : public HttpRequest {
 public:
  explicit CurlRequest(std::shared_ptr<Transfer> transfer) : t_(std::move(transfer)) {}

  ~CurlRequest() override {
    {
      std::lock_guard lock(t_->mutex);
      t_->closed = true;
    }
    t_->changed.notify_all();
    if (thread_.joinable()) {
      thread_.detach();  // it reports closing when the transfer has stopped
    } else if (t_->sink != nullptr) {
      t_->sink->OnNotification(kNotifyHandleClosing, 0);
    }
  }

  std::uint32_t SetSink(HttpNotificationSink* sink) override {
    t_->sink = sink;
    return 0;
  }

  std::uint32_t Send(std::u16string_view headers, std::string_view body) override {
    Transfer& t = *t_;
    if (!ListHeaders(t, headers)) return kErrorInternal;

    CURL* easy = t.easy.get();
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.headerList.get());
    if (t.verb == "GET") {
      curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else {
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, t.verb.c_str());
      // Sent from the caller's buffer, which outlives the transfer.
      if (!body.empty() || t.verb == "POST" || t.verb == "PATCH") {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
      }
    }
    try {
      thread_ = std::thread(RunTransfer, t_);
    } catch (...) {
      return kErrorInternal;
    }
    return 0;
  }

  // libcurl never asks for a resend: it goes on without a client certificate and
  // reconnects by itself.
  std::uint32_t PrepareResend(std::uint32_t error) override { return error; }

  std::uint32_t ReceiveResponse() override {
    return Start([](Transfer& t) { t.wantHeaders = true; });
  }

  std::uint32_t QueryStatus(std::uint32_t& status) override {
    std::lock_guard lock(t_->mutex);
    status = t_->headers.status;
    return 0;
  }

  std::optional<std::u16string> QueryContentType(std::size_t maxBytes) override {
    std::lock_guard lock(t_->mutex);
    if (!t_->headers.contentType) return std::nullopt;
    std::u16string wide;
    if (!utf::Utf8ToUtf16(*t_->headers.contentType, wide)) return std::nullopt;
    if ((wide.size() + 1) * 2 > maxBytes) return std::nullopt;
    return wide;
  }

  std::optional<std::uint64_t> QueryContentLength() override {
    std::lock_guard lock(t_->mutex);
    return t_->headers.contentLength;
  }

  std::uint32_t QueryDataAvailable() override {
    return Start([](Transfer& t) { t.wantData = true; });
  }

  std::uint32_t Read(unsigned char* buffer, std::uint32_t size) override {
    return Start([&](Transfer& t) {
      t.readInto = buffer;
      t.readSize = size;
    });
  }

 private:
  // Records a started step and, when the transfer already allows it, completes it at
  // once on this thread, as WinHTTP may.
  template <class Mark>
  std::uint32_t Start(Mark mark) {
    std::vector<Notification> out;
    {
      std::lock_guard lock(t_->mutex);
      mark(*t_);
      Settle(*t_, out);
    }
    Deliver(*t_, out);
    return 0;
  }

  std::shared_ptr<Transfer> t_;
  std::thread thread_;
};

class CurlEngine final : public HttpEngine {
 public:
  CurlEngine() {
    curl_global_init_mem(CURL_GLOBAL_DEFAULT, &AllocateForCurl, &FreeWiped, &ReallocateForCurl,
                         &DuplicateForCurl, &AllocateZeroedForCurl);
  }

  std::uint32_t Open(const HttpTarget& target, std::unique_ptr<HttpRequest>& request) override {
    auto t = std::make_shared<Transfer>();
    t->easy.reset(curl_easy_init());
    if (!t->easy) return kErrorInternal;
    t->verb = Narrow(target.verb);
    t->url = (target.secure ? "https://" : "http://") + Narrow(target.host) + ":" +
             std::to_string(target.port) + Narrow(target.objectName);
    t->timeoutMs = target.timeoutMs;
    CURL* easy = t->easy.get();
    curl_easy_setopt(easy, CURLOPT_URL, t->url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Vardeko/Native");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(target.timeoutMs));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(target.timeoutMs));
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, t.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, t.get());
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, t.get());
    request = std::make_unique<CurlRequest>(std::move(t));
    return 0;
  }
};

}  // namespace

HttpEngine& SystemHttpEngine() {
  static CurlEngine engine;
  return engine;
}

}  // namespace vardeko
