#pragma once
// Stand-in for the runtime library's raster: one periodic or asynchronous task of a
// model. Generated raster classes derive from it and fill in the block code.
#include <string>

#include <vesk/time.h>

namespace vesk {
namespace rt {

/// A task of the model. Periodic rasters (is_sync) run every `interval`; an
/// asynchronous raster runs whenever its poll() says its source has something.
class raster {
 public:
  virtual ~raster() = default;

  /// Asynchronous rasters: waits for the source and returns the time it fired.
  virtual vesk::time poll() { return vesk::time::now(); }
  /// Asynchronous rasters: prepares the source before the first poll.
  virtual void init() {}
  /// The first run: block initialisation and the first computation.
  virtual void init_tick() {}
  /// Every further run.
  virtual void tick() {}
  /// The last call, when the model stops.
  virtual void final() {}

  std::string name;       ///< the raster's name, e.g. "r10ms"
  vesk::time interval;    ///< period of a periodic raster
  bool is_sync = false;   ///< periodic (true) or asynchronous (false)
};

}  // namespace rt
}  // namespace vesk
