#include "fakes/heap_watch.h"

#include <malloc.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vardeko::testing {
namespace {

constexpr std::size_t kMaxNeedles = 4;

std::atomic<std::size_t> g_inUse{0};
std::atomic<std::size_t> g_peak{0};
std::atomic<std::size_t> g_base{0};

// Set while no scan runs; read-only while one does.
std::array<std::string, kMaxNeedles> g_needles;
std::size_t g_needleCount = 0;
std::atomic<bool> g_scanning{false};
std::array<std::atomic<std::size_t>, kMaxNeedles> g_hits{};
std::atomic<std::size_t> g_scanned{0};

void* Allocate(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  const std::size_t usable = malloc_usable_size(block);
  const std::size_t now = g_inUse.fetch_add(usable) + usable;
  std::size_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
  return block;
}

void Release(void* block) noexcept {
  if (block == nullptr) return;
  const std::size_t usable = malloc_usable_size(block);
  if (g_scanning.load(std::memory_order_acquire)) {
    g_scanned.fetch_add(1);
    for (std::size_t i = 0; i < g_needleCount; ++i) {
      const std::string& needle = g_needles[i];
      if (memmem(block, usable, needle.data(), needle.size()) != nullptr) g_hits[i].fetch_add(1);
    }
  }
  g_inUse.fetch_sub(usable);
  std::free(block);
}

}  // namespace

void HeapWatch::ResetPeak() {
  g_base = g_inUse.load();
  g_peak = g_base.load();
}

std::size_t HeapWatch::PeakSinceReset() { return g_peak.load() - g_base.load(); }

void HeapWatch::StartScan(const std::vector<std::string>& needles) {
  g_scanning.store(false);
  g_needleCount = std::min(needles.size(), kMaxNeedles);
  for (std::size_t i = 0; i < g_needleCount; ++i) {
    g_needles[i] = needles[i];
    g_hits[i] = 0;
  }
  g_scanned = 0;
  g_scanning.store(true, std::memory_order_release);
}

std::vector<std::size_t> HeapWatch::StopScan(std::size_t* scanned) {
  g_scanning.store(false);
  std::vector<std::size_t> hits;
  for (std::size_t i = 0; i < g_needleCount; ++i) hits.push_back(g_hits[i].load());
  if (scanned != nullptr) *scanned = g_scanned.load();
  return hits;
}

}  // namespace vardeko::testing

void* operator new(std::size_t size) { return vardeko::testing::Allocate(size); }
void* operator new[](std::size_t size) { return vardeko::testing::Allocate(size); }
void operator delete(void* block) noexcept { vardeko::testing::Release(block); }
void operator delete[](void* block) noexcept { vardeko::testing::Release(block); }
void operator delete(void* block, std::size_t) noexcept { vardeko::testing::Release(block); }
void operator delete[](void* block, std::size_t) noexcept { vardeko::testing::Release(block); }
