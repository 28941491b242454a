#include <windows.h>

#include <process.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <system_error>
#include <utility>

#include "base/detached_thread.h"

namespace vardeko {
namespace {

unsigned __stdcall RunWork(void* parameter) {
  const std::unique_ptr<DetachedWork> work(static_cast<DetachedWork*>(parameter));
  work->Run();
  return 0;
}

}  // namespace

void StartDetachedWork(std::unique_ptr<DetachedWork> work) {
  // _beginthreadex rather than CreateThread: the thread uses the C runtime.
  const std::uintptr_t thread = _beginthreadex(nullptr, 0, &RunWork, work.get(), 0, nullptr);
  if (thread == 0) throw std::system_error(errno, std::generic_category(), "thread");
  static_cast<void>(work.release());  // the thread owns it now
  CloseHandle(reinterpret_cast<HANDLE>(thread));
}

}  // namespace vardeko
