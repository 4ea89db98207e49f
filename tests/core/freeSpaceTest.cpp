// The room random placement draws from: a point it hands out, once no
// placed sphere lies within a diameter of it, must be uniform over the room
// left, however the cubes it draws from were closed and cut on the way.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "freeSpace.h"

namespace {

// Distance from r to the nearest of the centres.
double nearest(const double* r, const std::vector<double>& centres) {
  double best = 1e300;
  for (std::size_t j = 0; j < centres.size(); j += 3) {
    double d2 = 0.0;
    for (int a = 0; a < 3; ++a) d2 += (r[a] - centres[j + a]) * (r[a] - centres[j + a]);
    best = std::min(best, d2);
  }
  return std::sqrt(best);
}

// Which of the bins of a point: its distance to the nearest sphere in
// steps of 0.1 from 1 (six bins, the last holding the rest), and the unit
// cube of the box it lies in (64 bins).
constexpr int kDistanceBins = 6;
constexpr int kBins = kDistanceBins + 64;
void bin(const double* r, const std::vector<double>& centres, int* counts) {
  const double d = nearest(r, centres);
  ++counts[std::min(kDistanceBins - 1, static_cast<int>((d - 1.0) / 0.1))];
  int cube = 0;
  for (int a = 2; a >= 0; --a) cube = 4 * cube + std::min(3, static_cast<int>(r[a]));
  ++counts[kDistanceBins + cube];
}

// A box 4 diameters wide crowded with 40 spheres on a jittered lattice: the
// room left is a maze of pockets between them. Points accepted one after
// the other (and not placed, so the room stays the same) are binned by
// their distance to the nearest sphere and by their place; so are points
// drawn in the whole box and kept when free. Both must fill the bins alike.
TEST(FreeSpace, PointsAreUniformOverTheRoomLeftBetweenCrowdedSpheres) {
  const double lo[3] = {0.0, 0.0, 0.0}, hi[3] = {4.0, 4.0, 4.0};
  std::mt19937_64 gen(3);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  auto uniform = [&]() { return unit(gen); };
  FreeSpace room(lo, hi, 1.0, 100);
  std::vector<double> centres;
  for (int i = 0; i < 40; ++i) {
    const double c[3] = {0.25 + 1.1 * (i % 4) + 0.05 * unit(gen),
                         0.25 + 1.1 * (i / 4 % 4) + 0.05 * unit(gen),
                         0.3 + 1.4 * (i / 16) + 0.05 * unit(gen)};
    room.place(c);
    centres.insert(centres.end(), c, c + 3);
  }
  constexpr int kPoints = 40000;
  int drawn[kBins] = {}, plain[kBins] = {};
  for (int found = 0; found < kPoints;) {
    double r[3];
    room.draw(uniform, r);
    if (const double* c = room.overlapped(r)) {
      room.reject(c);
      continue;
    }
    ASSERT_GE(nearest(r, centres), 1.0);
    bin(r, centres, drawn);
    ++found;
  }
  for (int found = 0; found < kPoints;) {
    const double r[3] = {4.0 * unit(gen), 4.0 * unit(gen), 4.0 * unit(gen)};
    if (nearest(r, centres) < 1.0) continue;
    bin(r, centres, plain);
    ++found;
  }
  // Two samples of one distribution: each bin's counts differ by a few
  // standard deviations of their difference at most.
  for (int b = 0; b < kBins; ++b) {
    EXPECT_NEAR(drawn[b], plain[b], 4.0 * std::sqrt(drawn[b] + plain[b] + 1.0)) << "bin " << b;
  }
}

}  // namespace
