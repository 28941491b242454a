#include "base/secure_wipe.h"

#include <atomic>
#include <cstring>

namespace vardeko {

void SecureWipe(void* data, std::size_t size) noexcept {
  if (data == nullptr || size == 0) return;
  std::memset(data, 0, size);
  // The barrier makes the stores observable, so they are not removed as dead before free.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  asm volatile("" : : "r"(data) : "memory");
}

}  // namespace vardeko
