#ifndef RESTITUTION_H
#define RESTITUTION_H

#include <cmath>

// The speed-dependent coefficient of restitution of every surface and of two
// spheres (on their relative speed): the low-speed coefficient c up to the
// threshold speed vt, and above it
//   e(v) = c (v / vt)^(-1/4),
// continuous at the threshold. v_scale is 1 / vt, kept beside vt so that the
// law multiplies instead of dividing.
inline double restitution(double coefficient, double v_scale, double speed) {
  const double x = v_scale * speed;
  return x < 1.0 ? coefficient : coefficient / std::sqrt(std::sqrt(x));
}

#endif
