#ifndef CELLGRID_H
#define CELLGRID_H

#include <cstddef>
#include <vector>

#include "hugePageAllocator.h"

// A grid of box-shaped cells over the space a chamber allows, each cell
// holding the numbers of the spheres in it in a small array of its own, all
// cells of one size side by side, so that a search of a row of neighbouring
// cells reads one stretch of memory. Every cell is at least one sphere
// diameter wide, so two spheres in contact lie in the same or in
// neighbouring cells, and few spheres fit in one; a cell that fills up makes
// every cell larger.
//
// Along x and y the cells span the chamber's floor, and a position beyond
// it (by the tolerance of the containment test, or rounding) belongs to the
// nearest border cell. Along z the layers of cells run from the lowest
// reach of the base up to the top. A chamber without a top, or one too tall
// for the cells allowed, gets a stack of layers that repeats with height: a
// layer then also holds the spheres a whole number of periods above it, so
// that a sphere flying far above the bed still has a cell of its own rank
// and the heights need no rebuild of the grid; a search meets those spheres
// only as a few more candidates, which the contact equation rejects.
//
// A sphere's cell is given by integer coordinates c[3] (x, y, z; z counts
// layers from the lowest, not their storage); the grid tells when a sphere
// in free flight under gravity leaves its cell and through which face, so
// that the caller can move it to the next cell at that moment instead of
// locating it again.
class CellGrid {
 public:
  CellGrid() = default;
  CellGrid(const CellGrid&) = delete;
  CellGrid& operator=(const CellGrid&) = delete;

  // Faces of a cell: the low and the high side along x, y and z.
  enum Face { kLowX, kHighX, kLowY, kHighY, kLowZ, kHighZ, kNoFace };

  // Lays empty cells over [lo, hi] (hi[2] may be infinite), each at least
  // min_width wide along every axis and no more than max_cells in all.
  // The floor takes at most a quarter of max_cells, its cells widening if
  // need be; the layers repeat when the heights need more than the rest.
  // The storage of an earlier grid is used again when it is large enough.
  void build(const double lo[3], const double hi[3], double min_width, std::size_t max_cells);

  // Coordinates of the cell that holds the point r.
  void locate(const double* r, int c[3]) const;
  // Where cell c is stored, from 0 to size() - 1.
  int index(const int c[3]) const {
    return ((c[2] & layer_mask_) * count_[1] + c[1]) * count_[0] + c[0];
  }
  // Number of stored cells.
  std::size_t size() const { return cells_; }
  // The density the spheres see: the mean, over the spheres, of the number
  // of other spheres in the same block of k x k x k stored cells (k cells
  // about `width` wide, at least one), over the block's volume. scratch is
  // working room.
  double density(double width, std::vector<int>& scratch) const;
  // Empties the stored cell.
  void empty(int cell) { slots_[static_cast<std::size_t>(cell) * stride_] = 0; }
  // Puts sphere i in the stored cell, or takes it out.
  void insert(int cell, int i);
  void remove(int cell, int i);

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
  // True when test(i) holds for a sphere i in cell c or in one of its 26
  // neighbours. The cell itself is searched first, and the search ends at
  // the first sphere that passes.
  template <class Test>
  bool anyNear(const int c[3], Test test) const {
    if (anyIn(c[0], c[1], c[2], test)) return true;
    for (int z = c[2] - 1; z <= c[2] + 1; ++z) {
      if (z < 0 || z >= layers_) continue;
      for (int y = c[1] - 1; y <= c[1] + 1; ++y) {
        if (y < 0 || y >= count_[1]) continue;
        for (int x = c[0] - 1; x <= c[0] + 1; ++x) {
          if (x < 0 || x >= count_[0] || (x == c[0] && y == c[1] && z == c[2])) continue;
          if (anyIn(x, y, z, test)) return true;
        }
      }
    }
    return false;
  }
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
  template <class Test>
  bool anyIn(int x, int y, int z, Test test) const {
    const int c[3] = {x, y, z};
    const int* cell = slots_ + static_cast<std::size_t>(index(c)) * stride_;
    for (int k = 1; k <= cell[0]; ++k) {
      if (test(cell[k])) return true;
    }
    return false;
  }

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
    if (z1 >= layers_) z1 = layers_ - 1;
    const int span = x1 - x0 + 1;
    for (int z = z0; z <= z1; ++z) {
      const int layer = z & layer_mask_;
      for (int y = y0; y <= y1; ++y) {
        f(slots_ + static_cast<std::size_t>((layer * count_[1] + y) * count_[0] + x0) * stride_,
          span);
      }
    }
  }

  double origin_[3] = {0.0, 0.0, 0.0};  // low side of cell 0 along each axis
  double width_[3] = {1.0, 1.0, 1.0};
  double width_inv_[3] = {1.0, 1.0, 1.0};
  int count_[3] = {1, 1, 1};  // stored cells along each axis
  int layers_ = 1;       // layers along z, counting every repetition
  int layer_mask_ = -1;  // z & layer_mask_: where layer z is stored (all ones: no repetition)
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
