#include "cellGrid.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
// Cells along x or y; the coordinates are kept in int.
constexpr int kMaxPerAxis = 1 << 15;
// Layers along z when they repeat: heights up to about 10^9 widths have a
// layer of their own rank, higher ones share the last.
constexpr int kMaxLayers = 1 << 30;
// Room per cell at first: its count and 7 spheres, more than cells a
// diameter wide hold but in a dense corner.
constexpr int kFirstStride = 8;

// Cells of width at least width over span, at least one.
int cellsOver(double span, double width) {
  const double cells = std::isfinite(span) && span > width ? std::floor(span / width) : 1.0;
  return cells > kMaxPerAxis ? kMaxPerAxis : static_cast<int>(cells);
}
}  // namespace

void CellGrid::build(const double lo[3], const double hi[3], double min_width,
                     std::size_t max_cells) {
  // Widths a hair above min_width, so that rounding in a position never
  // puts two spheres in contact two cells apart. A region without finite
  // bounds along x or y gets one cell along it.
  const double width = min_width * (1.0 + 1e-9);
  // The floor: a quarter of the cells at most, so that at least four
  // layers fit.
  double floor_width = width;
  for (;;) {
    for (int a = 0; a < 2; ++a) count_[a] = cellsOver(hi[a] - lo[a], floor_width);
    if (static_cast<std::size_t>(count_[0]) * count_[1] * 4 <= max_cells) break;
    floor_width *= 1.1;
  }
  for (int a = 0; a < 2; ++a) {
    origin_[a] = lo[a];
    width_[a] = count_[a] > 1 ? (hi[a] - lo[a]) / count_[a] : floor_width;
  }
  // The heights: a layer each up to the top if they fit, else a repeating
  // stack of as many layers as fit, a power of two so that a layer's place
  // is its rank's low bits.
  const std::size_t floor_cells = static_cast<std::size_t>(count_[0]) * count_[1];
  const double span = hi[2] - lo[2];
  origin_[2] = lo[2];
  const double needed = span > width ? std::floor(span / width) : 1.0;
  if (needed * static_cast<double>(floor_cells) <= static_cast<double>(max_cells)) {
    count_[2] = static_cast<int>(needed);
    layers_ = count_[2];
    layer_mask_ = -1;
    width_[2] = count_[2] > 1 ? span / count_[2] : width;
  } else {
    count_[2] = 4;
    while (floor_cells * static_cast<std::size_t>(count_[2]) * 2 <= max_cells) count_[2] *= 2;
    layers_ = kMaxLayers;
    layer_mask_ = count_[2] - 1;
    width_[2] = width;
  }
  for (int a = 0; a < 3; ++a) width_inv_[a] = 1.0 / width_[a];
  cells_ = floor_cells * count_[2];
  stride_ = kFirstStride;
  // One int more than the cells: gather() copies a cell's room plus the
  // count of the cell after it.
  allocate(cells_ * kFirstStride + 1);
}

// The storage is kept when it is large enough (a new block would cost
// fresh pages, which the system zeroes first); only its count of lines
// changes.
void CellGrid::allocate(std::size_t ints) {
  lines_.assign((ints + 15) / 16, Line{});
  slots_ = lines_.front().ints;
}

// Each cell's whole room is copied, filled or not, and the end of the output
// moves on by its count, so that the next cell's copy overwrites the unused
// part: the copying takes no decision that depends on the counts.
int CellGrid::gather(int x0, int x1, int y0, int y1, int z0, int z1, int* out) const {
  const std::size_t stride = static_cast<std::size_t>(stride_);
  int k = 0;
  forEachRow(x0, x1, y0, y1, z0, z1, [&k, out, stride](const int* cell, int span) {
    if (stride == kFirstStride) {
      for (int x = 0; x < span; ++x, cell += kFirstStride) {
        std::memcpy(out + k, cell + 1, kFirstStride * sizeof(int));
        k += cell[0];
      }
    } else {
      for (int x = 0; x < span; ++x, cell += stride) {
        std::memcpy(out + k, cell + 1, (stride - 1) * sizeof(int));
        k += cell[0];
      }
    }
  });
  return k;
}

void CellGrid::insert(int cell, int i) {
  int* slots = &slots_[static_cast<std::size_t>(cell) * stride_];
  if (slots[0] + 1 == stride_) {
    // The cell is full: every cell gets twice the room.
    const int stride = 2 * stride_;
    std::vector<Line, HugePageAllocator<Line>> narrow;
    narrow.swap(lines_);
    const int* from = narrow.front().ints;
    allocate(cells_ * stride + 1);
    for (std::size_t c = 0; c < cells_; ++c) {
      const int* cell = from + c * stride_;
      std::copy(cell, cell + cell[0] + 1, slots_ + c * stride);
    }
    stride_ = stride;
    slots = &slots_[static_cast<std::size_t>(cell) * stride_];
  }
  slots[++slots[0]] = i;
}

double CellGrid::density(double width, std::vector<int>& scratch) const {
  int k = static_cast<int>(std::lround(width / width_[0]));
  if (k < 1) k = 1;
  int blocks[3];
  for (int a = 0; a < 3; ++a) blocks[a] = (count_[a] + k - 1) / k;
  scratch.assign(static_cast<std::size_t>(blocks[0]) * blocks[1] * blocks[2], 0);
  double spheres = 0.0;
  for (int z = 0; z < count_[2]; ++z) {
    for (int y = 0; y < count_[1]; ++y) {
      for (int x = 0; x < count_[0]; ++x) {
        const int c[3] = {x, y, z};
        const int m = slots_[static_cast<std::size_t>(index(c)) * stride_];
        scratch[(static_cast<std::size_t>(z / k) * blocks[1] + y / k) * blocks[0] + x / k] += m;
        spheres += m;
      }
    }
  }
  double pairs = 0.0;
  for (int m : scratch) pairs += static_cast<double>(m) * (m - 1);
  if (!(spheres > 0.0)) return 0.0;
  return pairs / spheres / (k * k * k * width_[0] * width_[1] * width_[2]);
}

// The last sphere of the cell takes the place of the one that leaves.
void CellGrid::remove(int cell, int i) {
  int* slots = &slots_[static_cast<std::size_t>(cell) * stride_];
  int k = 1;
  while (slots[k] != i) ++k;
  slots[k] = slots[slots[0]--];
}

// A position that is not a number (or a grid laid over an infinite region)
// gives the first cell rather than a coordinate no int can hold.
void CellGrid::locate(const double* r, int c[3]) const {
  for (int a = 0; a < 3; ++a) {
    const int count = a < 2 ? count_[a] : layers_;
    const double x = std::floor((r[a] - origin_[a]) * width_inv_[a]);
    c[a] = !(x >= 0.0) ? 0 : (x < count ? static_cast<int>(x) : count - 1);
  }
}

// Along x and y the motion is straight: x(t) = x + vx t meets the side the
// sphere moves toward at t = (side - x) / vx. Along z the sphere falls,
// z(t) = z + vz t - g t^2 / 2. The upper side Z is reached on the way up
// when vz^2 - 2 g (Z - z) >= 0, at the earlier root
//   t = (vz - sqrt(vz^2 - 2 g (Z - z))) / g = 2 (Z - z) / (vz + sqrt(...)),
// written in the second form, which loses no digits for a fast sphere. The
// lower side Z' is always reached, at the later root of z(t) = Z',
//   t = (vz + sqrt(vz^2 + 2 g (z - Z'))) / g,
// also when the sphere is now rising. The border cells have no outer side
// (the highest layer has none above it).
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
  if (vz > 0.0 && c[2] + 1 < layers_) {
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
