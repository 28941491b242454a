#pragma once

#include <cstddef>

namespace vardeko::bench {

// Heap use of the whole process, counted by the benchmark binary's operator new/delete.
struct AllocationMeter {
  // Starts a new peak from the current use.
  static void ResetPeak();
  // Highest use since ResetPeak, minus the use at that moment.
  static std::size_t PeakSinceReset();
};

}  // namespace vardeko::bench
