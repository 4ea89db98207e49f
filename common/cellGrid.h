#ifndef CELLGRID_H
#define CELLGRID_H

#include <cstddef>
#include <vector>

// A grid of box-shaped cells over the region the spheres occupy, with the
// head of a list of spheres for each cell (the caller keeps the links, next
// to the data it reads while walking a list). Every cell is at least one sphere diameter
// wide, so two spheres in contact lie in the same or in neighbouring cells.
// The outermost cells reach to infinity: a sphere beyond the region belongs
// to the nearest border cell, so every position has a cell.
//
// A sphere's cell is given by integer coordinates c[3] (x, y, z); the grid
// tells when a sphere in free flight under gravity leaves its cell and
// through which face, so that the caller can move it to the next cell at
// that moment instead of locating it again.
class CellGrid {
 public:
  // Faces of a cell: the low and the high side along x, y and z.
  enum Face { kLowX, kHighX, kLowY, kHighY, kLowZ, kHighZ, kNoFace };

  // Lays cells over [lo, hi] along each axis, each at least min_width wide
  // and no more than max_cells in all, all lists empty.
  void build(const double lo[3], const double hi[3], double min_width, std::size_t max_cells);

  // Coordinates of the cell that holds the point r.
  void locate(const double* r, int c[3]) const;
  int index(const int c[3]) const { return (c[2] * count_[1] + c[1]) * count_[0] + c[0]; }
  int count(int axis) const { return count_[axis]; }
  // True when every point of [lo, hi] lies inside the cells that do not
  // reach to infinity, or at most one cell width beyond them.
  bool covers(const double lo[3], const double hi[3]) const;

  // First sphere of the cell's list, -1 for none.
  int& head(int cell) { return head_[cell]; }

  // Time until a sphere at r with velocity v, in cell c and falling under
  // gravity g, leaves the cell; face tells through which side, kNoFace
  // (time: never) when it stays in the cell for ever. Never negative.
  double exitTime(const int c[3], const double* r, const double* v, double g, int& face) const;

  // Calls f(head) for the list of cell c and of each of its 26 neighbours.
  template <class F>
  void forEachNear(const int c[3], F f) const {
    visit(c[0] - 1, c[0] + 1, c[1] - 1, c[1] + 1, c[2] - 1, c[2] + 1, f);
  }
  // Calls f(head) for the 9 cells that became neighbours of cell c when a
  // sphere entered it through the face opposite to face: the layer beyond c
  // on the side of its motion.
  template <class F>
  void forEachAhead(const int c[3], int face, F f) const {
    int lo[3] = {c[0] - 1, c[1] - 1, c[2] - 1};
    int hi[3] = {c[0] + 1, c[1] + 1, c[2] + 1};
    const int axis = face / 2;
    const int layer = c[axis] + (face % 2 == 0 ? -1 : 1);
    lo[axis] = layer;
    hi[axis] = layer;
    visit(lo[0], hi[0], lo[1], hi[1], lo[2], hi[2], f);
  }

 private:
  template <class F>
  void visit(int x0, int x1, int y0, int y1, int z0, int z1, F& f) const {
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (z0 < 0) z0 = 0;
    if (x1 >= count_[0]) x1 = count_[0] - 1;
    if (y1 >= count_[1]) y1 = count_[1] - 1;
    if (z1 >= count_[2]) z1 = count_[2] - 1;
    for (int z = z0; z <= z1; ++z) {
      for (int y = y0; y <= y1; ++y) {
        const int row = (z * count_[1] + y) * count_[0];
        for (int x = x0; x <= x1; ++x) {
          const int first = head_[row + x];
          if (first >= 0) f(first);
        }
      }
    }
  }

  double origin_[3] = {0.0, 0.0, 0.0};  // low side of cell 0 along each axis
  double width_[3] = {1.0, 1.0, 1.0};
  double width_inv_[3] = {1.0, 1.0, 1.0};
  int count_[3] = {1, 1, 1};
  std::vector<int> head_;  // per cell: first sphere of its list, or -1
};

#endif
