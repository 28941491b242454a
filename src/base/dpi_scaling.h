#pragma once

namespace vardeko {

// Win32's MulDiv: a * b / c computed in 64 bits and rounded half away from zero; -1
// when c is 0 or the result does not fit in 32 bits.
int MulDiv(int a, int b, int c) noexcept;

// A length in logical (96-DPI) pixels scaled to the given DPI.
inline int ScaleForDpi(int logical, unsigned dpi) noexcept {
  return MulDiv(logical, static_cast<int>(dpi), 96);
}

}  // namespace vardeko
