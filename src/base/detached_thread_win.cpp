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
  const std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(parameter));
  (*work)();
  return 0;
}

}  // namespace

void StartDetachedThread(std::function<void()> work) {
  auto owned = std::make_unique<std::function<void()>>(std::move(work));
  // _beginthreadex rather than CreateThread: the thread uses the C runtime.
  const std::uintptr_t thread = _beginthreadex(nullptr, 0, &RunWork, owned.get(), 0, nullptr);
  if (thread == 0) throw std::system_error(errno, std::generic_category(), "thread");
  static_cast<void>(owned.release());  // the thread owns it now
  CloseHandle(reinterpret_cast<HANDLE>(thread));
}

}  // namespace vardeko
