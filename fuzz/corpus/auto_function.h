#pragma once

//@node: auto
//@raster: r10ms
double lowpass(double in_x, double& out_y, int param_n = 3, double in_alpha = 0.5);

/* A helper that is no node. */
inline int helper(int a) { return a; }
