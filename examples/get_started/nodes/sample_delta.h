#pragma once
// A first class node: it remembers the previous sample of its input and puts out the
// change since then, scaled by a gain. Fed with a counter sampled at a fixed rate, its
// output is the counter's speed per sample.

/**
 * @node: class
 * @info:
 * Change of the input since the previous tick, times gain.
 * Also counts the ticks it has run.
 */
class sample_delta {
 public:
  //@input: in; type: double; default: 0
  double in = 0;
  //@output: delta; type: double
  double delta = 0;
  //@output: samples; type: int
  int samples = 0;
  //@parameter: gain; type: double; default: 1
  double gain = 1;

  //@init: start()
  void start();

  //@tick: step()
  void step();

  //@final: stop()
  void stop();

 private:
  double previous_ = 0;
  bool has_previous_ = false;
};
