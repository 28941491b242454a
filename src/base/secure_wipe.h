#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace vardeko {

// Overwrites memory with zeros in a way the optimiser may not drop, even when the
// memory is about to be released.
void SecureWipe(void* data, std::size_t size) noexcept;

// Wipes the whole buffer of a string, spare capacity included, and leaves it empty.
template <class Char>
void SecureWipe(std::basic_string<Char>& text) noexcept {
  // Growing into the spare capacity writes zeros over it, so a longer value once held
  // there is wiped too (resize within capacity does not allocate); the text itself is
  // then wiped where it lies. One pass over each byte.
  const std::size_t used = text.size();
  text.resize(text.capacity());
  SecureWipe(text.data(), used * sizeof(Char));
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

// A byte string that holds a secret (a token, a body, a header block): its buffer is
// wiped before it is released or replaced. Move-only; copies are made on purpose.
class SecretString {
 public:
  SecretString() = default;
  explicit SecretString(std::string value) noexcept : value_(std::move(value)) {}
  explicit SecretString(std::string_view value) : value_(value) {}
  ~SecretString() { SecureWipe(value_); }

  SecretString(SecretString&& other) noexcept : value_(std::move(other.value_)) {
    other.value_.clear();
  }
  SecretString& operator=(SecretString&& other) noexcept {
    if (this != &other) {
      SecureWipe(value_);
      value_ = std::move(other.value_);
      other.value_.clear();
    }
    return *this;
  }
  SecretString(const SecretString&) = delete;
  SecretString& operator=(const SecretString&) = delete;

  SecretString Copy() const { return SecretString(std::string_view(value_)); }

  // Makes room for at least `capacity` bytes; an outgrown buffer is wiped before it is
  // released.
  void Reserve(std::size_t capacity) {
    if (capacity <= value_.capacity()) return;
    std::string bigger;
    bigger.reserve(capacity);
    bigger = value_;  // within the reserved capacity: no reallocation
    SecureWipe(value_);
    value_ = std::move(bigger);
  }

  // Appends, doubling the buffer when it must grow; the old one is wiped.
  void Append(std::string_view more) {
    if (value_.size() + more.size() > value_.capacity()) {
      Reserve(std::max(value_.capacity() * 2, value_.size() + more.size()));
    }
    value_ += more;
  }
  void Wipe() noexcept { SecureWipe(value_); }

  const std::string& str() const noexcept { return value_; }
  std::string& str() noexcept { return value_; }
  std::string_view view() const noexcept { return value_; }
  bool empty() const noexcept { return value_.empty(); }
  std::size_t size() const noexcept { return value_.size(); }

 private:
  std::string value_;
};

}  // namespace vardeko
