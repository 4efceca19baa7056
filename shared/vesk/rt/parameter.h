#pragma once
// Stand-in for the runtime library's tunable parameter: a value the blocks read every
// tick and the runtime may change from outside while the model runs.
#include <mutex>

#include <vesk/serialize.h>

namespace vesk {
namespace rt {

/// What the runtime sees of any parameter, whatever its type.
class parameter_base {
 public:
  virtual ~parameter_base() = default;
  /// A handle to the current value, for reading it.
  virtual vesk::serialize::type value() = 0;
  /// Sets the value from a number; false when the type is not numeric.
  virtual bool set_number(double v) = 0;
};

/// One parameter of type T. Reads and writes are guarded, since the runtime sets values
/// from another thread than the rasters that read them.
template <typename T>
class parameter : public parameter_base {
 public:
  parameter() = default;
  /// The parameter's default value.
  parameter(const T& initial) : value_(initial) {}

  /// The current value.
  T get() {
    std::lock_guard<std::mutex> guard(lock_);
    return value_;
  }
  /// Replaces the value.
  void set(const T& v) {
    std::lock_guard<std::mutex> guard(lock_);
    value_ = v;
  }

  /// Handles read and write under the parameter's lock, from whichever thread.
  vesk::serialize::type value() override { return vesk::serialize::type(value_).guarded(lock_); }
  /// The handle a signal entry takes when a subsystem port shows a parameter.
  vesk::serialize::type serialized() { return value(); }
  bool set_number(double v) override {
    std::lock_guard<std::mutex> guard(lock_);
    return vesk::serialize::type(value_).set(v);
  }

 private:
  T value_{};
  std::mutex lock_;
};

}  // namespace rt
}  // namespace vesk
