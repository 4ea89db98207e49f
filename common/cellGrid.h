#ifndef CELLGRID_H
#define CELLGRID_H

#include <cstddef>
#include <vector>

#include "hugePageAllocator.h"

// A grid of box-shaped cells over the region the spheres occupy, each cell
// holding the numbers of the spheres in it in a small array of its own, all
// cells of one size side by side, so that a search of a row of neighbouring
// cells reads one stretch of memory. Every cell is at least one sphere
// diameter wide, so two spheres in contact lie in the same or in
// neighbouring cells, and few spheres fit in one; a cell that fills up makes
// every cell larger.
// The outermost cells reach to infinity: a sphere beyond the region belongs
// to the nearest border cell, so every position has a cell.
//
// A sphere's cell is given by integer coordinates c[3] (x, y, z); the grid
// tells when a sphere in free flight under gravity leaves its cell and
// through which face, so that the caller can move it to the next cell at
// that moment instead of locating it again.
class CellGrid {
 public:
  CellGrid() = default;
  CellGrid(const CellGrid&) = delete;
  CellGrid& operator=(const CellGrid&) = delete;

  // Faces of a cell: the low and the high side along x, y and z.
  enum Face { kLowX, kHighX, kLowY, kHighY, kLowZ, kHighZ, kNoFace };

  // Lays cells over [lo, hi] along each axis, each at least min_width wide
  // and no more than max_cells in all, all empty.
  void build(const double lo[3], const double hi[3], double min_width, std::size_t max_cells);

  // Coordinates of the cell that holds the point r.
  void locate(const double* r, int c[3]) const;
  int index(const int c[3]) const { return (c[2] * count_[1] + c[1]) * count_[0] + c[0]; }
  int count(int axis) const { return count_[axis]; }
  // Number of cells.
  std::size_t size() const { return cells_; }
  // Empties every cell.
  void clear();
  // Puts sphere i in the cell, or takes it out.
  void insert(int cell, int i);
  void remove(int cell, int i);
  // True when every point of [lo, hi] lies inside the cells that do not
  // reach to infinity, or at most one cell width beyond them.
  bool covers(const double lo[3], const double hi[3]) const;

  // Time until a sphere at r with velocity v, in cell c and falling under
  // gravity g, leaves the cell; face tells through which side, kNoFace
  // (time: never) when it stays in the cell for ever. Never negative.
  double exitTime(const int c[3], const double* r, const double* v, double g, int& face) const;

  // Writes the numbers of the spheres in cell c and in its 26 neighbours to
  // out, which holds at least gatherRoom() ints, and returns how many.
  int gatherNear(const int c[3], int* out) const {
    return gather(c[0] - 1, c[0] + 1, c[1] - 1, c[1] + 1, c[2] - 1, c[2] + 1, out);
  }
  // The same for the 9 cells that became neighbours of cell c when a sphere
  // entered it through the face opposite to face: the layer beyond c on the
  // side of its motion.
  int gatherAhead(const int c[3], int face, int* out) const {
    int lo[3] = {c[0] - 1, c[1] - 1, c[2] - 1};
    int hi[3] = {c[0] + 1, c[1] + 1, c[2] + 1};
    const int axis = face / 2;
    const int layer = c[axis] + (face % 2 == 0 ? -1 : 1);
    lo[axis] = layer;
    hi[axis] = layer;
    return gather(lo[0], hi[0], lo[1], hi[1], lo[2], hi[2], out);
  }
  std::size_t gatherRoom() const { return 28 * static_cast<std::size_t>(stride_); }
  // Asks the processor to start loading what gatherNear(c) will read, so
  // that the wait for memory overlaps other work.
  void prefetchNear(const int c[3]) const {
    const std::size_t stride_bytes = static_cast<std::size_t>(stride_) * sizeof(int);
    forEachRow(c[0] - 1, c[0] + 1, c[1] - 1, c[1] + 1, c[2] - 1, c[2] + 1,
               [stride_bytes](const int* cell, int span) {
                 const char* row = reinterpret_cast<const char*>(cell);
                 __builtin_prefetch(row);
                 __builtin_prefetch(row + span * stride_bytes - 1);
               });
  }

 private:
  int gather(int x0, int x1, int y0, int y1, int z0, int z1, int* out) const;

  // Calls f(first, span) for each row of cells along x in the block
  // [x0, x1] x [y0, y1] x [z0, z1], cut to the grid: first points at the
  // row's first cell, span is its number of cells.
  template <class F>
  void forEachRow(int x0, int x1, int y0, int y1, int z0, int z1, F f) const {
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (z0 < 0) z0 = 0;
    if (x1 >= count_[0]) x1 = count_[0] - 1;
    if (y1 >= count_[1]) y1 = count_[1] - 1;
    if (z1 >= count_[2]) z1 = count_[2] - 1;
    const int span = x1 - x0 + 1;
    for (int z = z0; z <= z1; ++z) {
      for (int y = y0; y <= y1; ++y) {
        f(slots_ + static_cast<std::size_t>((z * count_[1] + y) * count_[0] + x0) * stride_, span);
      }
    }
  }

  double origin_[3] = {0.0, 0.0, 0.0};  // low side of cell 0 along each axis
  double width_[3] = {1.0, 1.0, 1.0};
  double width_inv_[3] = {1.0, 1.0, 1.0};
  int count_[3] = {1, 1, 1};
  std::size_t cells_ = 0;
  // Per cell, stride_ ints: the number of spheres in it, then their numbers.
  int stride_ = 8;
  int* slots_ = nullptr;  // the cells, at the start of lines_
  // The storage of the cells, aligned to cache lines so that no cell of the
  // first size straddles two.
  struct alignas(64) Line {
    int ints[16];
  };
  std::vector<Line, HugePageAllocator<Line>> lines_;
  // Sizes lines_ for at least ints ints, all zero, and points slots_ at it.
  void allocate(std::size_t ints);
};

#endif
