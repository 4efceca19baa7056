#pragma once
#include <cmath>

//@compile: scale_impl.cpp

/*
 * @node: function
 * @tick: -> y
 * @input: x; type: double; default: 0
 * @output: y; type: double
 * @parameter: gain; type: double; default: 2
 */
double scale(double x, double gain);

template <typename T>
T twice(T v) { return v + v; }  // not a node
