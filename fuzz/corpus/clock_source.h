#pragma once
#include "vesk/time.h"

namespace io {

/* @node: auto
 * @raster: source
 * @info: Wakes the model every period.
 */
struct clock_source {
  int param_period_ms = 10;
  double out_ticks = 0;
  std::string node_name;
  double raster_interval;

  vesk::time poll() {
    out_ticks += 1;
    return vesk::time::ms(param_period_ms);
  }
  void init() {}
  void final() {}
};

}  // namespace io
