#pragma once

#include <utility>

namespace vardeko {

// Runs a callable when the scope ends, unless release() was called first; for clean-up
// and for set-up that must roll back on failure.
template <class Fn>
class [[nodiscard]] ScopeExit {
 public:
  explicit ScopeExit(Fn fn) : fn_(std::move(fn)) {}
  ~ScopeExit() {
    if (active_) fn_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

  void release() noexcept { active_ = false; }

 private:
  Fn fn_;
  bool active_ = true;
};

}  // namespace vardeko
