#include "cellGrid.h"

#include <cmath>

namespace {
// Cells along one axis; the coordinates are kept in int.
constexpr int kMaxPerAxis = 1 << 15;
}  // namespace

void CellGrid::build(const double lo[3], const double hi[3], double min_width,
                     std::size_t max_cells) {
  // Widths a hair above min_width, so that rounding in a position never
  // puts two spheres in contact two cells apart.
  double width = min_width * (1.0 + 1e-9);
  for (;;) {
    std::size_t total = 1;
    for (int a = 0; a < 3; ++a) {
      const double span = hi[a] - lo[a];
      double cells = span > width ? std::floor(span / width) : 1.0;
      if (cells > kMaxPerAxis) cells = kMaxPerAxis;
      count_[a] = static_cast<int>(cells);
      total *= static_cast<std::size_t>(count_[a]);
    }
    if (total <= max_cells) break;
    width *= 1.1;
  }
  for (int a = 0; a < 3; ++a) {
    const double span = hi[a] - lo[a];
    origin_[a] = lo[a];
    width_[a] = count_[a] > 1 ? span / count_[a] : width;
    width_inv_[a] = 1.0 / width_[a];
  }
  head_.assign(static_cast<std::size_t>(count_[0]) * count_[1] * count_[2], -1);
}

void CellGrid::locate(const double* r, int c[3]) const {
  for (int a = 0; a < 3; ++a) {
    const double x = std::floor((r[a] - origin_[a]) * width_inv_[a]);
    c[a] = x < 0.0 ? 0 : (x >= count_[a] ? count_[a] - 1 : static_cast<int>(x));
  }
}

bool CellGrid::covers(const double lo[3], const double hi[3]) const {
  for (int a = 0; a < 3; ++a) {
    if (count_[a] == 1) continue;
    if (lo[a] < origin_[a] - width_[a]) return false;
    if (hi[a] > origin_[a] + (count_[a] + 1) * width_[a]) return false;
  }
  return true;
}

// Along x and y the motion is straight: x(t) = x + vx t meets the side the
// sphere moves toward at t = (side - x) / vx. Along z the sphere falls,
// z(t) = z + vz t - g t^2 / 2. The upper side Z is reached on the way up
// when vz^2 - 2 g (Z - z) >= 0, at the earlier root
//   t = (vz - sqrt(vz^2 - 2 g (Z - z))) / g = 2 (Z - z) / (vz + sqrt(...)),
// written in the second form, which loses no digits for a fast sphere. The
// lower side Z' is always reached, at the later root of z(t) = Z',
//   t = (vz + sqrt(vz^2 + 2 g (z - Z'))) / g,
// also when the sphere is now rising. The border cells have no outer side.
// A sphere that rounding put a hair beyond its side gets time 0.
double CellGrid::exitTime(const int c[3], const double* r, const double* v, double g,
                          int& face) const {
  double best = -1.0;
  face = kNoFace;
  for (int a = 0; a < 2; ++a) {
    if (v[a] > 0.0 && c[a] + 1 < count_[a]) {
      const double t = (origin_[a] + (c[a] + 1) * width_[a] - r[a]) / v[a];
      if (face == kNoFace || t < best) {
        best = t;
        face = 2 * a + 1;
      }
    } else if (v[a] < 0.0 && c[a] > 0) {
      const double t = (origin_[a] + c[a] * width_[a] - r[a]) / v[a];
      if (face == kNoFace || t < best) {
        best = t;
        face = 2 * a;
      }
    }
  }
  const double z = r[2];
  const double vz = v[2];
  if (vz > 0.0 && c[2] + 1 < count_[2]) {
    const double rise = origin_[2] + (c[2] + 1) * width_[2] - z;
    const double d = vz * vz - 2.0 * g * rise;
    if (d >= 0.0) {
      const double t = 2.0 * rise / (vz + std::sqrt(d));
      if (face == kNoFace || t < best) {
        best = t;
        face = kHighZ;
      }
    }
  }
  if (c[2] > 0 && g > 0.0) {
    double d = vz * vz + 2.0 * g * (z - (origin_[2] + c[2] * width_[2]));
    if (d < 0.0) d = 0.0;
    const double t = (vz + std::sqrt(d)) / g;
    if (face == kNoFace || t < best) {
      best = t;
      face = kLowZ;
    }
  }
  if (face == kNoFace) return 0.0;
  return best > 0.0 ? best : 0.0;
}
