// The fast engine's cell grid: every position has a stored cell.

#include <gtest/gtest.h>

#include <limits>

#include "cellGrid.h"

namespace {

// Positions no finite run reaches, as a prediction that is not a number
// or an overflowing flight makes them: each must still give a cell the grid
// stores, or the engine writes outside its cells.
TEST(CellGrid, APositionThatIsNotFiniteStillHasAStoredCell) {
  CellGrid grid;
  const double lo[3] = {-5.0, -5.0, -1.0};
  const double hi[3] = {5.0, 5.0, 20.0};
  grid.build(lo, hi, 1.0, 4096);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double positions[][3] = {{nan, 0.0, 0.0}, {0.0, nan, 0.0}, {0.0, 0.0, nan},
                                 {inf, -inf, inf}, {-inf, inf, -inf}, {1e308, -1e308, 1e308}};
  for (const auto& r : positions) {
    int c[3];
    grid.locate(r, c);
    const int cell = grid.index(c);
    EXPECT_GE(cell, 0) << r[0] << " " << r[1] << " " << r[2];
    EXPECT_LT(static_cast<std::size_t>(cell), grid.size()) << r[0] << " " << r[1] << " " << r[2];
  }
}

}  // namespace
