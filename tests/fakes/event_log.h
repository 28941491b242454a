#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vardeko::testing {

// What the fakes were asked, in order, so tests can check both content and sequence.
class EventLog {
 public:
  void Add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
  }

  std::vector<std::string> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(entries_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> entries_;
};

}  // namespace vardeko::testing
