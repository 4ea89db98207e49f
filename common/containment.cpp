#include "containment.h"

#include <algorithm>
#include <cmath>

#include "chamber.h"
#include "shot.h"

namespace {
// Cells along one axis at most; a bed spread far (a sphere thrown high in a
// chamber without a top) widens the cells instead.
constexpr double kMaxPerAxis = 1 << 15;
}  // namespace

ContainmentCheck::Breach ContainmentCheck::find(const Shot& shot, const Chamber& chamber) {
  Breach breach;
  const int n = shot.n();
  const double* r = shot.r_chunk();
  for (int i = 0; i < n; ++i) {
    breach.surface = chamber.breach(r + 3 * i, breach.depth);
    if (breach.surface != nullptr) {
      breach.sphere = i;
      return breach;
    }
  }

  // Every sphere is inside: a grid over their box, cells at least a
  // diameter wide and at most about two per sphere.
  const double diam = shot.diam();
  double lo[3], hi[3];
  for (int a = 0; a < 3; ++a) lo[a] = hi[a] = n > 0 ? r[a] : 0.0;
  for (int i = 0; i < n; ++i) {
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], r[3 * i + a]);
      hi[a] = std::max(hi[a], r[3 * i + a]);
    }
  }
  double width = diam;
  int count[3];
  for (;;) {
    double total = 1.0;
    for (int a = 0; a < 3; ++a) {
      count[a] = static_cast<int>(std::min(std::floor((hi[a] - lo[a]) / width) + 1.0, kMaxPerAxis));
      total *= count[a];
    }
    if (total <= 2.0 * n + 64.0) break;
    width *= 1.25;
  }
  const double inv = 1.0 / width;
  const int cells = count[0] * count[1] * count[2];
  first_.assign(static_cast<std::size_t>(cells) + 1, 0);
  cell_.resize(static_cast<std::size_t>(n));
  order_.resize(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    int c[3];
    for (int a = 0; a < 3; ++a) {
      c[a] = std::min(static_cast<int>((r[3 * i + a] - lo[a]) * inv), count[a] - 1);
    }
    cell_[i] = (c[2] * count[1] + c[1]) * count[0] + c[0];
    ++first_[cell_[i] + 1];
  }
  for (int c = 0; c < cells; ++c) first_[c + 1] += first_[c];
  {
    std::vector<int> next(first_.begin(), first_.end() - 1);
    for (int i = 0; i < n; ++i) order_[next[cell_[i]]++] = i;
  }

  // Each sphere against the spheres of its own and the neighbouring cells
  // that come after it in index order: every pair once.
  const double limit2 = diam * diam - 2.0 * diam * shot.overlapTolerance();
  for (int i = 0; i < n; ++i) {
    const double* ri = r + 3 * i;
    const int cx = cell_[i] % count[0];
    const int cy = cell_[i] / count[0] % count[1];
    const int cz = cell_[i] / (count[0] * count[1]);
    for (int z = std::max(cz - 1, 0); z <= std::min(cz + 1, count[2] - 1); ++z) {
      for (int y = std::max(cy - 1, 0); y <= std::min(cy + 1, count[1] - 1); ++y) {
        const int row = (z * count[1] + y) * count[0];
        const int begin = first_[row + std::max(cx - 1, 0)];
        const int end = first_[row + std::min(cx + 1, count[0] - 1) + 1];
        for (int k = begin; k < end; ++k) {
          const int j = order_[k];
          if (j <= i) continue;
          const double* rj = r + 3 * j;
          const double dx = ri[0] - rj[0], dy = ri[1] - rj[1], dz = ri[2] - rj[2];
          const double d2 = dx * dx + dy * dy + dz * dz;
          if (d2 < limit2 && (breach.sphere < 0 || i < breach.sphere ||
                              (i == breach.sphere && j < breach.other))) {
            breach.sphere = i;
            breach.other = j;
            breach.depth = diam - std::sqrt(d2);
          }
        }
      }
    }
    if (breach.sphere >= 0) return breach;
  }
  return breach;
}
