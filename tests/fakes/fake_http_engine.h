#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/utf.h"
#include "service/http_engine.h"

namespace vardeko::testing {

// A deterministic engine: answers with a scripted reply and delivers each notification
// inline (as Wine's WinHTTP often does), from another thread, never, or as an error.
class FakeHttpEngine final : public HttpEngine {
 public:
  struct Reply {
    std::uint32_t status = 200;
    std::optional<std::u16string> contentType = u"application/json";
    std::string body;
    std::uint32_t chunk = 32768;                   // bytes announced per data-available
    std::optional<std::uint64_t> announcedLength;  // Content-Length; the body's size if unset
    std::uint32_t overstateReads = 0;              // added to each read's reported count
  };
  struct Seen {
    HttpTarget target;
    std::string headers;
    std::string body;
    int sends = 0;
    std::vector<std::uint32_t> resends;  // the errors PrepareResend was given
  };
  // One delivery of `notification` replaced by a request error `error`.
  struct ScriptedError {
    std::uint32_t notification;
    std::uint32_t error;
  };

  ~FakeHttpEngine() override { JoinThreads(); }

  std::uint32_t Open(const HttpTarget& target, std::unique_ptr<HttpRequest>& request) override;

  // Delivers the held-back closing notifications (and first `late` ones, if any).
  void FinishClosing();
  void JoinThreads() {
    std::vector<std::thread> threads;
    {
      std::lock_guard lock(mutex);
      threads.swap(threads_);
    }
    for (std::thread& thread : threads) thread.join();
  }

  Reply reply;
  bool fromOtherThread = false;
  std::uint32_t openError = 0;
  std::uint32_t failOn = 0;  // notification replaced by a request error
  std::uint32_t failWith = 12029;
  std::uint32_t neverDeliver = 0;    // notification held back
  std::deque<ScriptedError> script;  // used up in order, before failOn
  bool deferClosing = false;         // closing waits for FinishClosing
  std::mutex mutex;
  std::vector<Seen> seen;
  int opened = 0;
  int closed = 0;
  int reads = 0;  // Read calls, over all requests

 private:
  friend class FakeHttpRequest;
  void Deliver(HttpNotificationSink* sink, std::uint32_t notification, std::uint32_t value) {
    if (notification == neverDeliver) {
      std::lock_guard lock(mutex);
      held_.push_back({sink, notification, value});
      return;
    }
    {
      std::lock_guard lock(mutex);
      if (!script.empty() && script.front().notification == notification) {
        notification = kNotifyRequestError;
        value = script.front().error;
        script.pop_front();
      }
    }
    if (notification == failOn) {
      notification = kNotifyRequestError;
      value = failWith;
    }
    if (!fromOtherThread) {
      sink->OnNotification(notification, value);
      return;
    }
    std::lock_guard lock(mutex);
    threads_.emplace_back(
        [sink, notification, value] { sink->OnNotification(notification, value); });
  }
  void Closed(HttpNotificationSink* sink) {
    // As WinHTTP, closing is the last notification: deliveries still under way end first.
    JoinThreads();
    std::lock_guard lock(mutex);
    ++closed;
    if (deferClosing) {
      closing_.push_back(sink);
      return;
    }
    if (sink != nullptr) {
      if (fromOtherThread) {
        threads_.emplace_back([sink] { sink->OnNotification(kNotifyHandleClosing, 0); });
      } else {
        sink->OnNotification(kNotifyHandleClosing, 0);
      }
    }
  }

  struct Held {
    HttpNotificationSink* sink;
    std::uint32_t notification;
    std::uint32_t value;
  };
  std::vector<std::thread> threads_;
  std::vector<Held> held_;
  std::vector<HttpNotificationSink*> closing_;
};

class FakeHttpRequest final : public HttpRequest {
 public:
  FakeHttpRequest(FakeHttpEngine& engine, std::size_t index) : engine_(engine), index_(index) {}
  ~FakeHttpRequest() override { engine_.Closed(sink_); }

  std::uint32_t SetSink(HttpNotificationSink* sink) override {
    sink_ = sink;
    return 0;
  }
  std::uint32_t Send(std::u16string_view headers, std::string_view body) override {
    {
      std::lock_guard lock(engine_.mutex);
      engine_.seen[index_].headers = WideToUtf8(headers);
      engine_.seen[index_].body = std::string(body);
      ++engine_.seen[index_].sends;
    }
    engine_.Deliver(sink_, kNotifySendComplete, 0);
    return 0;
  }
  std::uint32_t PrepareResend(std::uint32_t error) override {
    std::lock_guard lock(engine_.mutex);
    engine_.seen[index_].resends.push_back(error);
    return 0;
  }
  std::uint32_t ReceiveResponse() override {
    engine_.Deliver(sink_, kNotifyHeadersAvailable, 0);
    return 0;
  }
  std::uint32_t QueryStatus(std::uint32_t& status) override {
    status = engine_.reply.status;
    return 0;
  }
  std::optional<std::u16string> QueryContentType(std::size_t) override {
    return engine_.reply.contentType;
  }
  std::optional<std::uint64_t> QueryContentLength() override {
    return engine_.reply.announcedLength.value_or(engine_.reply.body.size());
  }
  std::uint32_t QueryDataAvailable() override {
    const std::size_t left = engine_.reply.body.size() - offset_;
    engine_.Deliver(sink_, kNotifyDataAvailable,
                    static_cast<std::uint32_t>(std::min<std::size_t>(left, engine_.reply.chunk)));
    return 0;
  }
  std::uint32_t Read(unsigned char* buffer, std::uint32_t size) override {
    {
      std::lock_guard lock(engine_.mutex);
      ++engine_.reads;
    }
    const std::size_t count = std::min<std::size_t>(
        {static_cast<std::size_t>(size), engine_.reply.body.size() - offset_, engine_.reply.chunk});
    std::memcpy(buffer, engine_.reply.body.data() + offset_, count);
    offset_ += count;
    engine_.Deliver(sink_, kNotifyReadComplete,
                    static_cast<std::uint32_t>(count) + engine_.reply.overstateReads);
    return 0;
  }

 private:
  FakeHttpEngine& engine_;
  std::size_t index_;
  HttpNotificationSink* sink_ = nullptr;
  std::size_t offset_ = 0;
};

inline std::uint32_t FakeHttpEngine::Open(const HttpTarget& target,
                                          std::unique_ptr<HttpRequest>& request) {
  std::lock_guard lock(mutex);
  ++opened;
  if (openError != 0) return openError;
  seen.push_back(Seen{target, {}, {}, 0, {}});
  request = std::make_unique<FakeHttpRequest>(*this, seen.size() - 1);
  return 0;
}

inline void FakeHttpEngine::FinishClosing() {
  std::vector<Held> held;
  std::vector<HttpNotificationSink*> closing;
  {
    std::lock_guard lock(mutex);
    held.swap(held_);
    closing.swap(closing_);
  }
  for (const Held& late : held) late.sink->OnNotification(late.notification, late.value);
  for (HttpNotificationSink* sink : closing) {
    if (sink != nullptr) sink->OnNotification(kNotifyHandleClosing, 0);
  }
}

}  // namespace vardeko::testing
