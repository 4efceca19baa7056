#pragma once
// Stand-in for the runtime library's model: what a generated model exports to the
// runtime (its rasters, signals and parameters) and the getter the runtime calls.
#include <cstddef>

#include <vesk/rt/parameter.h>
#include <vesk/rt/raster.h>
#include <vesk/serialize.h>

namespace vesk {
namespace rt {

/// A view of a fixed array of the generated model, assignable from the array itself.
template <typename T>
class array_view {
 public:
  array_view() = default;
  template <size_t N>
  array_view(T (&array)[N]) : data_(array), size_(N) {}

  T* begin() const { return data_; }
  T* end() const { return data_ + size_; }
  size_t size() const { return size_; }
  T& operator[](size_t i) const { return data_[i]; }

 private:
  T* data_ = nullptr;
  size_t size_ = 0;
};

/// One exported signal: display name, handle to its value, index of its raster.
struct signal_exporter {
  const char* name;
  vesk::serialize::type value;
  int raster;
};

/// One tunable parameter: display name and the parameter itself.
struct parameter_list_element {
  const char* name;
  parameter_base* param;
};

/// Base of the generated class `model`.
class model {
 public:
  virtual ~model() = default;
  array_view<raster*> rasters;
  array_view<signal_exporter> signals;
  array_view<parameter_list_element> parameters;
};

/// The one model of the program; defined by the generated model source.
model* get_model();

}  // namespace rt
}  // namespace vesk
