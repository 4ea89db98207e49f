#include "pairSearch.h"

#include <cmath>

#include "freeFlight.h"

int earliestContactScalar(const FlightRecord* records, int i, int* near, int count, double now,
                          double g, double diam2, double& best) {
  const FlightRecord& bi = records[i];
  const double half_g = 0.5 * g;
  int partner = -1;
  for (int k = 0; k < count; ++k) {
    const int j = near[k];
    const FlightRecord& bj = records[j];
    const double dt = now - bj.stamp;
    const double dx = bi.r[0] - flownAcross(bj.r[0], bj.v[0], dt);
    const double dy = bi.r[1] - flownAcross(bj.r[1], bj.v[1], dt);
    const double dz = bi.r[2] - flownHeight(bj.r[2], bj.v[2], half_g, dt);
    const double wx = bi.v[0] - bj.v[0];
    const double wy = bi.v[1] - bj.v[1];
    const double wz = bi.v[2] - flownVerticalVelocity(bj.v[2], g, dt);
    const double b = dx * wx + dy * wy + dz * wz;
    const double a = wx * wx + wy * wy + wz * wz;
    const double c = dx * dx + dy * dy + dz * dz - diam2;
    const double disc = b * b - a * c;
    if (b < 0.0 && disc > 0.0) {
      const double when = now + -(b + std::sqrt(disc)) / a;
      if (when < best) {
        best = when;
        partner = j;
      }
    }
  }
  return partner;
}
