#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace vardeko {

// Work for a thread that nobody joins; the thread frees it when done.
class DetachedWork {
 public:
  virtual ~DetachedWork() = default;
  virtual void Run() noexcept = 0;
};

// Runs the work on a new thread; its end frees everything the work holds. Throws
// std::system_error when no thread can be started (the work is freed then).
//
// On Windows this is a native thread: MinGW's std::thread goes through winpthreads,
// whose detach races with a thread that ends at once (seen as a crash reading a null
// thread state when a request fails its checks immediately).
void StartDetachedWork(std::unique_ptr<DetachedWork> work);

// The same for any callable, which may be move-only and must not throw.
template <class Function>
void StartDetachedThread(Function&& function) {
  class Work final : public DetachedWork {
   public:
    explicit Work(std::decay_t<Function>&& f) : function_(std::move(f)) {}
    void Run() noexcept override { function_(); }

   private:
    std::decay_t<Function> function_;
  };
  StartDetachedWork(
      std::make_unique<Work>(std::decay_t<Function>(std::forward<Function>(function))));
}

}  // namespace vardeko
