#pragma once

// Stand-in for the runtime library's time type, so that generated model code
// can be compiled and tested on a machine without the runtime. It offers what
// generated code uses: the current time, construction from nanoseconds,
// arithmetic and comparison.

#include <chrono>
#include <cstdint>

namespace vesk {

/// A point in time or a duration, counted in nanoseconds of the monotonic clock.
class time {
 public:
  constexpr time() = default;

  /// The current time of the monotonic clock.
  static time now() {
    auto d = std::chrono::steady_clock::now().time_since_epoch();
    return time(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count());
  }
  /// A time of `n` nanoseconds.
  static constexpr time ns(int64_t n) { return time(n); }

  /// The count of nanoseconds.
  constexpr int64_t ns() const { return nanos_; }

  constexpr time operator+(time o) const { return time(nanos_ + o.nanos_); }
  constexpr time operator-(time o) const { return time(nanos_ - o.nanos_); }
  constexpr time operator*(int64_t k) const { return time(nanos_ * k); }
  constexpr time operator/(int64_t k) const { return time(nanos_ / k); }
  time& operator+=(time o) { nanos_ += o.nanos_; return *this; }
  time& operator-=(time o) { nanos_ -= o.nanos_; return *this; }

  constexpr bool operator==(time o) const { return nanos_ == o.nanos_; }
  constexpr bool operator!=(time o) const { return nanos_ != o.nanos_; }
  constexpr bool operator<(time o) const { return nanos_ < o.nanos_; }
  constexpr bool operator<=(time o) const { return nanos_ <= o.nanos_; }
  constexpr bool operator>(time o) const { return nanos_ > o.nanos_; }
  constexpr bool operator>=(time o) const { return nanos_ >= o.nanos_; }

 private:
  explicit constexpr time(int64_t n) : nanos_(n) {}
  int64_t nanos_ = 0;
};

}  // namespace vesk
