#include <thread>
#include <utility>

#include "base/detached_thread.h"

namespace vardeko {

void StartDetachedWork(std::unique_ptr<DetachedWork> work) {
  std::thread([owned = std::move(work)] { owned->Run(); }).detach();
}

}  // namespace vardeko
