#ifndef FREEFLIGHT_H
#define FREEFLIGHT_H

// Free flight under gravity g along -z for a time t (negative: backwards):
//   x(t) = x + vx t,   y(t) = y + vy t,   z(t) = z + (vz t - g t^2 / 2),
//   vz(t) = vz - g t,
// z being the height of the sphere's lowest point. Every engine flies its
// spheres with these routines, so that a sphere flown for the same time has
// the same position and velocity, to the last bit, whichever engine flies
// it. T is double, or a vector of doubles with the arithmetic operators
// (SSE2's __m128d) to fly several spheres at once; half_g is g / 2.
template <class T>
inline T flownAcross(T x, T vx, T t) {
  return x + vx * t;
}

template <class T>
inline T flownHeight(T z, T vz, T half_g, T t) {
  return z + (vz * t - half_g * t * t);
}

template <class T>
inline T flownVerticalVelocity(T vz, T g, T t) {
  return vz - g * t;
}

// A whole sphere: position r and velocity v flown for t into r_out and
// v_out, which may be r and v themselves.
inline void flyFreely(const double* r, const double* v, double g, double t, double* r_out,
                      double* v_out) {
  const double half_g = 0.5 * g;
  r_out[0] = flownAcross(r[0], v[0], t);
  r_out[1] = flownAcross(r[1], v[1], t);
  r_out[2] = flownHeight(r[2], v[2], half_g, t);
  v_out[0] = v[0];
  v_out[1] = v[1];
  v_out[2] = flownVerticalVelocity(v[2], g, t);
}

#endif
