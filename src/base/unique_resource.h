#pragma once

#include <utility>

namespace vardeko {

// Which value means "owns nothing" is decided once per kind of handle, by its alias,
// never by the code that creates one.
template <class T>
struct ZeroIsEmpty {
  static constexpr T Empty() noexcept { return T{}; }
};
struct MinusOneIsEmpty {  // POSIX file descriptors
  static constexpr int Empty() noexcept { return -1; }
};

// Owns one OS handle from the moment it is created and closes it once. Move-only. One
// alias per kind of handle names its close function and its empty value, e.g.
// using UniqueHandle = UniqueResource<HANDLE, &CloseHandle>.
template <class T, auto Close, class Policy = ZeroIsEmpty<T>>
class UniqueResource {
 public:
  UniqueResource() noexcept = default;
  explicit UniqueResource(T value) noexcept : value_(value) {}
  ~UniqueResource() { reset(); }

  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  T get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Policy::Empty(); }

  // For out-parameters: closes the current value and exposes the slot.
  T* put() noexcept {
    reset();
    return &value_;
  }

  T release() noexcept { return std::exchange(value_, Policy::Empty()); }

  void reset(T value = Policy::Empty()) noexcept {
    const T old = std::exchange(value_, value);
    if (old != Policy::Empty()) static_cast<void>(Close(old));
  }

 private:
  T value_ = Policy::Empty();
};

}  // namespace vardeko
