#include "containment.h"

#include <algorithm>
#include <cmath>
#include <utility>

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
  // diameter wide and at most about four per sphere.
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
    if (total <= 4.0 * n + 64.0) break;
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
  next_.assign(first_.begin(), first_.end() - 1);
  for (int i = 0; i < n; ++i) order_[next_[cell_[i]]++] = i;

  // The positions in the order of the cells, so that the spheres of a row of
  // neighbouring cells lie side by side. Each sphere is tested against the
  // spheres after it in its own row of cells (its cell and the next) and
  // against the four rows after its own (the next row in its layer, three
  // rows in the layer above), each three cells wide: every pair of
  // neighbouring cells once. Of the overlapping pairs the one of the lowest
  // numbers is reported.
  pos_.resize(3 * static_cast<std::size_t>(n));
  for (int k = 0; k < n; ++k) {
    for (int a = 0; a < 3; ++a) pos_[3 * k + a] = r[3 * order_[k] + a];
  }
  const double limit2 = diam * diam - 2.0 * diam * shot.overlapTolerance();
  const auto testRange = [&](int a, int begin, int end) {
    const double* pa = &pos_[3 * a];
    for (int b = begin; b < end; ++b) {
      const double* pb = &pos_[3 * b];
      const double dx = pa[0] - pb[0], dy = pa[1] - pb[1], dz = pa[2] - pb[2];
      const double d2 = dx * dx + dy * dy + dz * dz;
      if (d2 >= limit2) continue;
      const int i = std::min(order_[a], order_[b]);
      const int j = std::max(order_[a], order_[b]);
      if (breach.sphere < 0 || i < breach.sphere || (i == breach.sphere && j < breach.other)) {
        breach.sphere = i;
        breach.other = j;
        breach.depth = diam - std::sqrt(d2);
      }
    }
  };
  // The range of order_ that holds the cells x0 .. x1 (cut to the grid) of
  // row y of layer z; empty outside the grid.
  const auto row = [&](int x0, int x1, int y, int z, int& begin, int& end) {
    begin = end = 0;
    if (y < 0 || y >= count[1] || z >= count[2]) return;
    const int base = (z * count[1] + y) * count[0];
    begin = first_[base + std::max(x0, 0)];
    end = first_[base + std::min(x1, count[0] - 1) + 1];
  };
  const int forward[4][2] = {{1, 0}, {-1, 1}, {0, 1}, {1, 1}};  // (dy, dz)
  for (int cz = 0; cz < count[2]; ++cz) {
    for (int cy = 0; cy < count[1]; ++cy) {
      for (int cx = 0; cx < count[0]; ++cx) {
        const int c = (cz * count[1] + cy) * count[0] + cx;
        if (first_[c] == first_[c + 1]) continue;
        int begin, end;
        int rows[4][2];
        for (int f = 0; f < 4; ++f) {
          row(cx - 1, cx + 1, cy + forward[f][0], cz + forward[f][1], rows[f][0], rows[f][1]);
        }
        row(cx, cx + 1, cy, cz, begin, end);
        for (int a = first_[c]; a < first_[c + 1]; ++a) {
          testRange(a, a + 1, end);
          for (int f = 0; f < 4; ++f) testRange(a, rows[f][0], rows[f][1]);
        }
      }
    }
  }
  return breach;
}
