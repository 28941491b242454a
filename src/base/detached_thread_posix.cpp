#include <thread>
#include <utility>

#include "base/detached_thread.h"

namespace vardeko {

void StartDetachedThread(std::function<void()> work) { std::thread(std::move(work)).detach(); }

}  // namespace vardeko
