#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vardeko::testing {

// Watches the heap of a whole test program through its operator new and delete (link
// heap_watch.cpp into the program): the peak of bytes in use, and freed blocks that
// still hold given texts. Safe from any thread.
class HeapWatch {
 public:
  static void ResetPeak();
  // The highest use since ResetPeak, above the use at that moment.
  static std::size_t PeakSinceReset();

  // From now on every freed block is searched for each needle (at most four).
  static void StartScan(const std::vector<std::string>& needles);
  // Stops the search; for each needle, how many freed blocks held it. Also how many
  // blocks were searched in all.
  static std::vector<std::size_t> StopScan(std::size_t* scanned = nullptr);
};

}  // namespace vardeko::testing
