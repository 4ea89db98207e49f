#include "freeSpace.h"

#include <algorithm>
#include <cmath>

namespace {
// Cubes of the first level and cells per sphere at most: a box much
// larger than the spheres fill gets larger cubes and cells.
constexpr double kCubesPerSphere = 4.0;
constexpr double kCellsPerSphere = 2.0;
// Cubes of the first level along an axis: their finest cubes' coordinates
// fit in 21 bits.
constexpr double kMaxCubesPerAxis = 65535.0;

// Sides of at least side that divide each span of [lo, hi] evenly, and their
// number along each axis; volume: the box's, each span taken as side at least.
double boxVolume(const double lo[3], const double hi[3], double side) {
  double volume = 1.0;
  for (int a = 0; a < 3; ++a) volume *= std::max(hi[a] - lo[a], side);
  return volume;
}
}  // namespace

FreeSpace::FreeSpace(const double lo[3], const double hi[3], double diam, int n)
    : diam2_(diam * diam), weight_(0), ahead_{}, primed_(false), last_{0, 0} {
  // Cubes about one diameter wide, wider where the box is large.
  const double volume = boxVolume(lo, hi, diam);
  double longest = 0.0;
  for (int a = 0; a < 3; ++a) longest = std::max(longest, hi[a] - lo[a]);
  const double side = std::max({diam, std::cbrt(volume / (kCubesPerSphere * n + 4096.0)),
                                longest / kMaxCubesPerAxis});
  std::uint64_t cubes[3];
  for (int a = 0; a < 3; ++a) {
    const double span = hi[a] - lo[a];
    cubes[a] = static_cast<std::uint64_t>(std::max(1.0, std::ceil(span / side)));
    origin_[a] = lo[a];
    fine_[a] = span / static_cast<double>(cubes[a]) / static_cast<double>(kFine);
  }
  auto& first = cubes_[0];
  first.reserve(cubes[0] * cubes[1] * cubes[2]);
  for (std::uint64_t z = 0; z < cubes[2]; ++z) {
    for (std::uint64_t y = 0; y < cubes[1]; ++y) {
      for (std::uint64_t x = 0; x < cubes[0]; ++x) {
        first.push_back((x | y << kBits | z << (2 * kBits)) * kFine);
      }
    }
  }
  weight_ = static_cast<std::uint64_t>(first.size()) * cubeVolume(0);

  // Cells at least a diameter wide (a hair more, so that rounding never
  // puts two spheres closer than a diameter two cells apart), wider where
  // the box is large.
  const double width = std::max(diam * (1.0 + 1e-9), std::cbrt(volume / (kCellsPerSphere * n + 4096.0)));
  std::size_t cells = 1;
  for (int a = 0; a < 3; ++a) {
    const double span = hi[a] - lo[a];
    count_[a] = std::max(1, static_cast<int>(std::floor(span / width)));
    cell_origin_[a] = lo[a];
    cell_width_inv_[a] = count_[a] > 1 ? count_[a] / span : 1.0 / width;
    cells *= static_cast<std::size_t>(count_[a]);
  }
  cells_.assign(cells, Cell{});
}

void FreeSpace::locate(const double* r, int c[3]) const {
  for (int a = 0; a < 3; ++a) {
    const double x = std::floor((r[a] - cell_origin_[a]) * cell_width_inv_[a]);
    c[a] = x < 0.0 ? 0 : (x >= count_[a] ? count_[a] - 1 : static_cast<int>(x));
  }
}

const double* FreeSpace::overlappedIn(const int c[3], const double* r) const {
  const std::size_t k = index(c);
  const Cell& cell = cells_[k];
  const int inline_count = std::min(cell.count, 2);
  for (int s = 0; s < inline_count; ++s) {
    const double* q = cell.centre[s];
    const double dx = r[0] - q[0], dy = r[1] - q[1], dz = r[2] - q[2];
    if (dx * dx + dy * dy + dz * dz < diam2_) return q;
  }
  if (cell.count > 2) {
    const std::vector<double>& more = overflow_.at(k);
    for (std::size_t s = 0; s < more.size(); s += 3) {
      const double* q = &more[s];
      const double dx = r[0] - q[0], dy = r[1] - q[1], dz = r[2] - q[2];
      if (dx * dx + dy * dy + dz * dz < diam2_) return q;
    }
  }
  return nullptr;
}

// The point's own cell first, where a sphere it overlaps stands most often.
const double* FreeSpace::overlapped(const double* r) const {
  int c[3];
  locate(r, c);
  if (const double* q = overlappedIn(c, r)) return q;
  int n[3];
  for (n[2] = std::max(c[2] - 1, 0); n[2] <= std::min(c[2] + 1, count_[2] - 1); ++n[2]) {
    for (n[1] = std::max(c[1] - 1, 0); n[1] <= std::min(c[1] + 1, count_[1] - 1); ++n[1]) {
      for (n[0] = std::max(c[0] - 1, 0); n[0] <= std::min(c[0] + 1, count_[0] - 1); ++n[0]) {
        if (n[0] == c[0] && n[1] == c[1] && n[2] == c[2]) continue;
        if (const double* q = overlappedIn(n, r)) return q;
      }
    }
  }
  return nullptr;
}

void FreeSpace::place(const double* r) {
  int c[3];
  locate(r, c);
  const std::size_t k = index(c);
  Cell& cell = cells_[k];
  if (cell.count < 2) {
    for (int a = 0; a < 3; ++a) cell.centre[cell.count][a] = r[a];
  } else {
    overflow_[k].insert(overflow_[k].end(), r, r + 3);
  }
  ++cell.count;
}

void FreeSpace::closeLast() {
  auto& cubes = cubes_[last_.level];
  cubes[last_.slot] = cubes.back();
  cubes.pop_back();
  weight_ -= cubeVolume(last_.level);
}

void FreeSpace::list(int level, std::uint64_t code) {
  cubes_[level].push_back(code);
  weight_ += cubeVolume(level);
}

// The farthest point of a box from a centre is a corner, along each axis
// the end farther from the centre. The sphere covers the box when that
// corner lies closer than a diameter (strict, as the rejection of a point:
// a point exactly a diameter away is room). Each eighth of a cube has the
// cube's centre for a corner: along each axis the far ends of the lower and
// of the upper half are found once for all eight.
void FreeSpace::reject(const double* c) {
  const int level = last_.level;
  const std::uint64_t code = cubes_[level][last_.slot];
  double lo[3];
  corner(code, lo);
  const std::uint64_t fine_side = kFine >> level;
  double far_low[3], far_high[3];
  double far2 = 0.0;
  for (int a = 0; a < 3; ++a) {
    const double half = 0.5 * fine_[a] * static_cast<double>(fine_side);
    const double to_lo = std::fabs(c[a] - lo[a]);
    const double to_mid = std::fabs(c[a] - (lo[a] + half));
    const double to_hi = std::fabs(lo[a] + 2.0 * half - c[a]);
    const double low = std::max(to_lo, to_mid);
    const double high = std::max(to_mid, to_hi);
    far_low[a] = low * low;
    far_high[a] = high * high;
    far2 += std::max(far_low[a], far_high[a]);
  }
  if (far2 < diam2_) {  // the sphere covers the cube
    closeLast();
    return;
  }
  if (level == kLevels - 1) return;  // the finest cubes stay whole
  closeLast();
  const std::uint64_t half = fine_side / 2;
  for (std::uint64_t bits = 0; bits < 8; ++bits) {
    const double eighth2 = (bits & 1 ? far_high[0] : far_low[0]) +
                           (bits & 2 ? far_high[1] : far_low[1]) +
                           (bits & 4 ? far_high[2] : far_low[2]);
    if (eighth2 < diam2_) continue;  // covered
    list(level + 1, code + (bits & 1) * half + ((bits >> 1) & 1) * (half << kBits) +
                        ((bits >> 2) & 1) * (half << (2 * kBits)));
  }
}
