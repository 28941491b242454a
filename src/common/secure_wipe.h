#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace vardeko {

// Overwrites memory with zeros in a way the optimiser may not drop, even when the
// memory is about to be released.
void SecureWipe(void* data, std::size_t size) noexcept;

// Wipes the whole buffer of a string, spare capacity included, and leaves it empty.
template <class Char>
void SecureWipe(std::basic_string<Char>& text) noexcept {
  // Grow into the spare capacity first so that a longer value once held there is wiped
  // too; resize within capacity does not allocate.
  text.resize(text.capacity());
  SecureWipe(text.data(), text.size() * sizeof(Char));
  text.clear();
}

// Deleter for strings that carry secrets: the contents are wiped before the memory is freed.
struct WipingDelete {
  template <class Char>
  void operator()(std::basic_string<Char>* text) const noexcept {
    if (text != nullptr) {
      SecureWipe(*text);
      delete text;
    }
  }
};

}  // namespace vardeko
