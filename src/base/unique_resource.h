#pragma once

#include <utility>

namespace vardeko {

// Owns one OS handle from the moment it is created and closes it once. Move-only. One
// alias per kind of handle names its close function, e.g.
// using UniqueHandle = UniqueResource<HANDLE, &CloseHandle>.
template <class T, auto Close, T Invalid = T{}>
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
  explicit operator bool() const noexcept { return value_ != Invalid; }

  // For out-parameters: closes the current value and exposes the slot.
  T* put() noexcept {
    reset();
    return &value_;
  }

  T release() noexcept { return std::exchange(value_, Invalid); }

  void reset(T value = Invalid) noexcept {
    const T old = std::exchange(value_, value);
    if (old != Invalid) static_cast<void>(Close(old));
  }

 private:
  T value_ = Invalid;
};

}  // namespace vardeko
