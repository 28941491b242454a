#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "service/service_client.h"

namespace vardeko::testing {

// A service client whose calls run a scripted handler; calls can be held at a gate
// until the test lets them through, one at a time or all at once.
class FakeServiceClient final : public ServiceClient {
 public:
  using Handler = std::function<ServiceResult(std::string_view, const nlohmann::json&)>;

  explicit FakeServiceClient(Handler handler = {}) : handler_(std::move(handler)) {}

  ServiceResult Call(std::string_view method, nlohmann::json& args) override {
    {
      std::unique_lock lock(mutex_);
      ++entered_;
      changed_.notify_all();
      changed_.wait(lock, [this] { return !gated_ || passes_ > 0; });
      if (gated_) --passes_;
    }
    return handler_ ? handler_(method, args) : ServiceResult(nullptr);
  }

  std::string ApiUrl() const override { return "https://api.example.test/api"; }
  bool IsPersistent() const override { return true; }

  // Holds every call until Let or Open.
  void Close() {
    std::lock_guard lock(mutex_);
    gated_ = true;
  }
  void Let(int count) {
    std::lock_guard lock(mutex_);
    passes_ += count;
    changed_.notify_all();
  }
  void Open() {
    std::lock_guard lock(mutex_);
    gated_ = false;
    changed_.notify_all();
  }
  // Waits until `count` calls have entered in all.
  void WaitEntered(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return entered_ >= count; });
  }
  int Entered() {
    std::lock_guard lock(mutex_);
    return entered_;
  }

 private:
  Handler handler_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool gated_ = false;
  int passes_ = 0;
  int entered_ = 0;
};

}  // namespace vardeko::testing
