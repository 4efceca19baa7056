#pragma once
// Stand-in for the runtime library's serialisation handle: a typed reference to one
// value of the running model, so that the runtime can read a signal or write a
// parameter without knowing the generated types. Values of arithmetic type (and bool)
// are readable and writable as double, and as their own bytes; anything else is
// exported but opaque.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <utility>

namespace vesk {
namespace serialize {

class type;

/// Type codes of values, as the runtime describes them to the back end. Every numeric
/// value is sent as its own bytes, little-endian.
namespace code {
constexpr uint8_t opaque = 0;     ///< no value, or one not readable as a number
constexpr uint8_t boolean = 1;    ///< 1 byte, 0 or 1
constexpr uint8_t int8 = 2;
constexpr uint8_t uint8 = 3;
constexpr uint8_t int16 = 4;
constexpr uint8_t uint16 = 5;
constexpr uint8_t int32 = 6;
constexpr uint8_t uint32 = 7;
constexpr uint8_t int64 = 8;
constexpr uint8_t uint64 = 9;
constexpr uint8_t float32 = 10;   ///< IEEE 754 single
constexpr uint8_t float64 = 11;   ///< IEEE 754 double
constexpr uint8_t float_ext = 12; ///< long double as this machine stores it
}  // namespace code

/// The code of arithmetic type T.
template <typename T>
constexpr uint8_t code_of() {
  if constexpr (std::is_same<T, bool>::value) {
    return code::boolean;
  } else if constexpr (std::is_integral<T>::value) {
    // Signed codes are even; the unsigned type of the same size has the next code.
    constexpr uint8_t by_size = sizeof(T) == 1   ? code::int8
                                : sizeof(T) == 2 ? code::int16
                                : sizeof(T) == 4 ? code::int32
                                                 : code::int64;
    return std::is_signed<T>::value ? by_size : static_cast<uint8_t>(by_size + 1);
  } else if constexpr (sizeof(T) == 4) {
    return code::float32;
  } else if constexpr (sizeof(T) == 8) {
    return code::float64;
  } else {
    return code::float_ext;
  }
}

/// Whether T hands out a handle to its value itself (a parameter does).
template <typename T, typename = void>
struct has_serialized : std::false_type {};
template <typename T>
struct has_serialized<T, std::void_t<decltype(std::declval<T&>().serialized())>> : std::true_type {};

/// A non-owning handle to one value of the model.
class type {
 public:
  /// No value: a signal that exists only by name (an unfed subsystem port).
  type() = default;

  /// A handle to `value`; the value must outlive the handle.
  template <typename T, typename = std::enable_if_t<!std::is_same<std::decay_t<T>, type>::value>>
  type(T& value) : ptr_(const_cast<void*>(static_cast<const void*>(&value))), size_(sizeof(T)) {
    using plain = std::remove_cv_t<T>;
    if constexpr (has_serialized<plain>::value) {
      *this = const_cast<plain&>(value).serialized();
    } else if constexpr (std::is_arithmetic<plain>::value) {
      code_ = code_of<plain>();
      read_ = [](const void* p) { return static_cast<double>(*static_cast<const plain*>(p)); };
      if constexpr (!std::is_const<T>::value)
        write_ = [](void* p, double v) { *static_cast<plain*>(p) = static_cast<plain>(v); };
    }
  }

  /// The same handle, taking `lock` around every access: for a value that another
  /// thread writes under that lock.
  type guarded(std::mutex& lock) const {
    type t = *this;
    t.lock_ = &lock;
    return t;
  }

  /// Whether the handle refers to a value at all.
  bool valid() const { return ptr_ != nullptr; }
  /// Whether the value can be read and written as a number.
  bool numeric() const { return read_ != nullptr; }
  /// Size of the value in bytes (0 without a value).
  size_t size() const { return size_; }
  /// The value's type code (code::opaque unless numeric).
  uint8_t code() const { return code_; }
  /// The value as a number; 0 when it is not numeric.
  double get() const {
    if (read_ == nullptr) return 0.0;
    if (lock_ == nullptr) return read_(ptr_);
    std::lock_guard<std::mutex> g(*lock_);
    return read_(ptr_);
  }
  /// Sets the value from a number; false when it is not numeric or not writable.
  bool set(double v) const {
    if (write_ == nullptr) return false;
    if (lock_ == nullptr) {
      write_(ptr_, v);
    } else {
      std::lock_guard<std::mutex> g(*lock_);
      write_(ptr_, v);
    }
    return true;
  }
  /// Copies a numeric value's bytes to `out` when `capacity` holds them; returns the
  /// count copied (0 for opaque values, which have no meaningful bytes).
  size_t copy_to(void* out, size_t capacity) const {
    if (read_ == nullptr || capacity < size_) return 0;
    if (lock_ == nullptr) {
      std::memcpy(out, ptr_, size_);
    } else {
      std::lock_guard<std::mutex> g(*lock_);
      std::memcpy(out, ptr_, size_);
    }
    return size_;
  }

 private:
  void* ptr_ = nullptr;
  size_t size_ = 0;
  uint8_t code_ = code::opaque;
  std::mutex* lock_ = nullptr;
  double (*read_)(const void*) = nullptr;
  void (*write_)(void*, double) = nullptr;
};

}  // namespace serialize
}  // namespace vesk
