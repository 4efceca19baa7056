#pragma once
// Stand-in for the runtime library's shared data: a value that blocks of different
// rasters (threads) exchange through a rate transition, guarded by its own lock.
#include <mutex>

namespace vesk {

/// One value shared between rasters. Generated code either uses get()/set(), or takes
/// `lock` itself and works on `data` directly (fifo and add transitions).
template <typename T>
struct shared_data {
  shared_data() = default;
  /// The start value of the transition.
  shared_data(const T& start) : data(start) {}

  /// A copy of the value, taken under the lock.
  T get() {
    std::lock_guard<std::mutex> guard(lock);
    return data;
  }
  /// Replaces the value under the lock.
  void set(const T& value) {
    std::lock_guard<std::mutex> guard(lock);
    data = value;
  }

  T data{};
  std::mutex lock;
};

}  // namespace vesk
