#pragma once

#include <functional>

namespace vardeko {

// Runs `work` on a new thread that nobody joins; its end frees everything it holds.
// `work` must not throw. Throws std::system_error when no thread can be started.
//
// On Windows this is a native thread: MinGW's std::thread goes through winpthreads,
// whose detach races with a thread that ends at once (seen as a crash reading a null
// thread state when a request fails its checks immediately).
void StartDetachedThread(std::function<void()> work);

}  // namespace vardeko
