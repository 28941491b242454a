#include "base/dpi_scaling.h"

#include <cstdint>
#include <limits>

namespace vardeko {

int MulDiv(int a, int b, int c) noexcept {
  if (c == 0) return -1;
  const std::int64_t product = static_cast<std::int64_t>(a) * b;
  const std::int64_t divisor = c;
  const bool negative = (product < 0) != (divisor < 0);
  const std::uint64_t p = product < 0 ? 0 - static_cast<std::uint64_t>(product) : product;
  const std::uint64_t d = divisor < 0 ? 0 - static_cast<std::uint64_t>(divisor) : divisor;
  const std::uint64_t rounded = (p + d / 2) / d;
  if (rounded > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) return -1;
  const auto magnitude = static_cast<std::int64_t>(rounded);
  return static_cast<int>(negative ? -magnitude : magnitude);
}

}  // namespace vardeko
