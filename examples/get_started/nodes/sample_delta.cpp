#include "sample_delta.h"

void sample_delta::start() {
  previous_ = in;
  has_previous_ = true;
  delta = 0;
  samples = 0;
}

void sample_delta::step() {
  // Without an earlier sample there is no change to report yet.
  delta = has_previous_ ? (in - previous_) * gain : 0;
  previous_ = in;
  has_previous_ = true;
  ++samples;
}

void sample_delta::stop() { has_previous_ = false; }
