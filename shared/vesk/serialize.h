#pragma once
// Stand-in for the runtime library's serialisation handle: a typed reference to one
// value of the running model, so that the runtime can read a signal or write a
// parameter without knowing the generated types. Values of arithmetic type (and bool)
// are readable and writable as double; anything else is exported but opaque.
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace vesk {
namespace serialize {

class type;

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
      read_ = [](const void* p) { return static_cast<double>(*static_cast<const plain*>(p)); };
      if constexpr (!std::is_const<T>::value)
        write_ = [](void* p, double v) { *static_cast<plain*>(p) = static_cast<plain>(v); };
    }
  }

  /// Whether the handle refers to a value at all.
  bool valid() const { return ptr_ != nullptr; }
  /// Whether the value can be read and written as a number.
  bool numeric() const { return read_ != nullptr; }
  /// Size of the value in bytes (0 without a value).
  size_t size() const { return size_; }
  /// The value as a number; 0 when it is not numeric.
  double get() const { return read_ != nullptr ? read_(ptr_) : 0.0; }
  /// Sets the value from a number; false when it is not numeric or not writable.
  bool set(double v) const {
    if (write_ == nullptr) return false;
    write_(ptr_, v);
    return true;
  }

 private:
  void* ptr_ = nullptr;
  size_t size_ = 0;
  double (*read_)(const void*) = nullptr;
  void (*write_)(void*, double) = nullptr;
};

}  // namespace serialize
}  // namespace vesk
