#pragma once
// A discrete PI controller with anti-windup.

#include <algorithm>
#include <string>
//@link: m

namespace ctl {
namespace filters {

/**
 * @node: class
 * @info:
 * PI controller.
 * Limits its integrator to the output range.
 */
class pi_controller {
 public:
  //@construct: (limit, dt)
  pi_controller(double limit, double dt) : limit_(limit), dt_(dt) {}

  /* @input: e; type: double; default: 0.0 */
  double e;
  //@input: reset; type: bool; default: false
  //@output: u; type: double
  //@parameter: kp; type: double; default: 1.5
  //@parameter: ki; type: double; default: 0.1
  //@parameter: name; type: std::string; default: "pi"
  //@constant: limit; value: 10.0
  //@constant: dt; value: 0.01

  //@init: start()
  void start() { integral_ = 0; }

  //@tick: step(e, reset, kp, ki) -> u
  double step(double e, bool reset, double kp, double ki) {
    if (reset) {
      integral_ = 0;
    }
    integral_ = std::clamp(integral_ + ki * e * dt_, -limit_, limit_);
    return kp * e + integral_;
  }

  //@final: stop()
  void stop() {}

 private:
  // The members the calls and pins name.
  bool reset = false;
  double u = 0;
  double kp = 1.5;
  double ki = 0.1;
  std::string name = "pi";
  double integral_ = 0;
  double limit_;
  double dt_;
};

}  // namespace filters
}  // namespace ctl
