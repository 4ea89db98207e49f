#include "pairSearch.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <limits>

#include "freeFlight.h"

// Two candidates at a time, one in each half of a register, with the same
// operations in the same order as the one-at-a-time search, so that both
// give the same roots to the last bit. An odd count is made even with
// sphere i itself, which never meets.
int earliestContactSSE2(const FlightRecord* records, int i, int* near, int count, double now,
                        double g, double diam2, double& best) {
  const FlightRecord& bi = records[i];
  int partner = -1;
  near[count] = i;
  const __m128d rix = _mm_set1_pd(bi.r[0]), riy = _mm_set1_pd(bi.r[1]), riz = _mm_set1_pd(bi.r[2]);
  const __m128d vix = _mm_set1_pd(bi.v[0]), viy = _mm_set1_pd(bi.v[1]), viz = _mm_set1_pd(bi.v[2]);
  const __m128d vnow = _mm_set1_pd(now), vg = _mm_set1_pd(g), vhalfg = _mm_set1_pd(0.5 * g);
  const __m128d vdiam2 = _mm_set1_pd(diam2), zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0);
  const __m128d never = _mm_set1_pd(std::numeric_limits<double>::max());
  for (int k = 0; k < count; k += 2) {
    const FlightRecord& p = records[near[k]];
    const FlightRecord& q = records[near[k + 1]];
    const __m128d dt = _mm_sub_pd(vnow, _mm_set_pd(q.stamp, p.stamp));
    const __m128d rx = _mm_set_pd(q.r[0], p.r[0]), ry = _mm_set_pd(q.r[1], p.r[1]);
    const __m128d rz = _mm_set_pd(q.r[2], p.r[2]);
    const __m128d vx = _mm_set_pd(q.v[0], p.v[0]), vy = _mm_set_pd(q.v[1], p.v[1]);
    const __m128d vz = _mm_set_pd(q.v[2], p.v[2]);
    const __m128d dx = _mm_sub_pd(rix, flownAcross(rx, vx, dt));
    const __m128d dy = _mm_sub_pd(riy, flownAcross(ry, vy, dt));
    const __m128d dz = _mm_sub_pd(riz, flownHeight(rz, vz, vhalfg, dt));
    const __m128d wx = _mm_sub_pd(vix, vx);
    const __m128d wy = _mm_sub_pd(viy, vy);
    const __m128d wz = _mm_sub_pd(viz, flownVerticalVelocity(vz, vg, dt));
    const __m128d b = _mm_add_pd(_mm_add_pd(_mm_mul_pd(dx, wx), _mm_mul_pd(dy, wy)), _mm_mul_pd(dz, wz));
    const __m128d a = _mm_add_pd(_mm_add_pd(_mm_mul_pd(wx, wx), _mm_mul_pd(wy, wy)), _mm_mul_pd(wz, wz));
    const __m128d c = _mm_sub_pd(
        _mm_add_pd(_mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy)), _mm_mul_pd(dz, dz)), vdiam2);
    const __m128d disc = _mm_sub_pd(_mm_mul_pd(b, b), _mm_mul_pd(a, c));
    const __m128d den = _mm_add_pd(a, _mm_and_pd(_mm_cmpeq_pd(a, zero), one));
    const __m128d root = _mm_div_pd(_mm_xor_pd(_mm_add_pd(b, _mm_sqrt_pd(disc)), _mm_set1_pd(-0.0)), den);
    const __m128d meets = _mm_and_pd(_mm_cmplt_pd(b, zero), _mm_cmpgt_pd(disc, zero));
    const __m128d when =
        _mm_or_pd(_mm_and_pd(meets, _mm_add_pd(vnow, root)), _mm_andnot_pd(meets, never));
    const double w0 = _mm_cvtsd_f64(when);
    const double w1 = _mm_cvtsd_f64(_mm_unpackhi_pd(when, when));
    if (w0 < best) {
      best = w0;
      partner = near[k];
    }
    if (w1 < best) {
      best = w1;
      partner = near[k + 1];
    }
  }
  return partner;
}
#endif
