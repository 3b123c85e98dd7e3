#pragma once

#include <utility>

namespace kestrova {

// Owns one handle of any kind and releases it with Close when it goes out of
// scope. The empty handle is the value-initialised one (null); code that gets
// another "invalid" value from the system (INVALID_HANDLE_VALUE) stores null.
template <typename Handle, auto Close>
class Owner {
 public:
  Owner() = default;
  explicit Owner(Handle handle) : handle_(handle) {}
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;
  Owner(Owner&& other) noexcept : handle_(other.release()) {}
  Owner& operator=(Owner&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.release();
    }
    return *this;
  }
  ~Owner() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Handle{}; }

  Handle release() { return std::exchange(handle_, Handle{}); }
  void reset() {
    if (handle_ != Handle{}) {
      Close(std::exchange(handle_, Handle{}));
    }
  }

 private:
  Handle handle_{};
};

}  // namespace kestrova
