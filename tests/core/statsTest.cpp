#include "stats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "testSupport.h"

using testing_support::fileExists;
using testing_support::readFile;
using testing_support::ScopedTempDir;
using testing_support::writeFile;

namespace {

const double kUp[3] = {0.0, 0.0, 1.0};

// An impact at (x, y, z) of a sphere whose vertical velocity goes from
// vz_before to vz_after. The sideways velocity is the same before and after
// and must play no part with an upward normal.
template <class Stats>
void impact(Stats& stats, double x, double y, double z, double vz_before,
            double vz_after) {
  const double r[3] = {x, y, z};
  const double v_before[3] = {5.0, -3.0, vz_before};
  const double v_after[3] = {5.0, -3.0, vz_after};
  stats.hit(r, v_before, v_after);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream is(text);
  for (std::string line; std::getline(is, line);) out.push_back(line);
  return out;
}

// The numbers of one line of a written file.
std::vector<double> fields(const std::string& line) {
  std::vector<double> out;
  std::istringstream is(line);
  for (std::string word; is >> word;) out.push_back(std::strtod(word.c_str(), nullptr));
  return out;
}

// Column k of every non-empty, non-comment line of a file.
std::vector<double> column(const std::string& filename, int k) {
  std::vector<double> out;
  for (const std::string& line : lines(readFile(filename))) {
    if (line.empty() || line[0] == '#') continue;
    out.push_back(fields(line).at(k));
  }
  return out;
}

// ---------------------------------------------------------------- Stats2Dxy

// A 3 x 3 grid over [-3, 3) x [-1.5, 1.5): cells 2 wide and 1 high, centres
// at x = -2, 0, 2 and y = -1, 0, 1.
TEST(Stats2DxyTest, OddGridFilesHoldNormalisedCellsAndMirrorProfiles) {
  ScopedTempDir dir;
  Stats2Dxy stats(kUp);
  stats.setCells(3, 3, 3.0, 1.5);
  impact(stats, -2.0, -1.0, 0.0, 2.0, -1.0);  // cell (0,0): p 3, e 3
  impact(stats, -2.9, -1.4, 7.0, 1.0, -1.0);  // cell (0,0): p 2, e 0
  impact(stats, 0.5, 0.2, 0.0, 1.0, -1.0);    // cell (1,1): p 2, e 0
  impact(stats, 2.9, 1.4, 0.0, 1.0, 0.0);     // cell (2,2): p 1, e 1
  stats.dump("top.hist");
  stats.dumpZone("top.zone");

  // 4 hits, pressure 8, energy 4 over 9 cells.
  EXPECT_EQ(readFile("top.hist"),
            "-2 -1 4.5 5.625 6.75\n"
            "-2 0 0 0 0\n"
            "-2 1 0 0 0\n"
            "\n"
            "0 -1 0 0 0\n"
            "0 0 2.25 2.25 0\n"
            "0 1 0 0 0\n"
            "\n"
            "2 -1 0 0 0\n"
            "2 0 0 0 0\n"
            "2 1 2.25 1.125 2.25\n"
            "\n");
  // Odd sizes: the middle row and the central cell are taken twice.
  EXPECT_EQ(readFile("top.zone"),
            "2 0 0 0 0\n"
            "0 0 2.25 2.25 0\n"
            "\n\n"
            "2 1 1.6875 1.6875 2.25\n"
            "2 0 0 0 0\n"
            "\n\n"
            "2 2 1.6875 1.6875 2.25\n"
            "0 0 2.25 2.25 0\n"
            "\n\n");
}

// Four impacts, each in its own cell, with pressures 1, 2, 1, 4 (sum 8) and
// energies 0, 2, 0, 8 (sum 10), on grids with an even number of cells.
TEST(Stats2DxyTest, NarrowEvenGridWritesTheDiagonalOfItsFirstRows) {
  ScopedTempDir dir;
  Stats2Dxy stats(kUp);
  stats.setCells(2, 4, 1.0, 2.0);  // cells 1 x 1, centres x +-0.5, y +-0.5 +-1.5
  impact(stats, -0.5, -1.5, 0.0, 0.5, -0.5);  // (0,0)
  impact(stats, -0.5, 0.5, 0.0, 1.5, -0.5);   // (0,2)
  impact(stats, 0.5, -0.5, 0.0, 0.5, -0.5);   // (1,1)
  impact(stats, 0.5, 1.5, 0.0, 3.0, -1.0);    // (1,3)
  stats.dump("top.hist");
  stats.dumpZone("top.zone");

  EXPECT_EQ(readFile("top.hist"),
            "-0.5 -1.5 2 1 0\n"
            "-0.5 -0.5 0 0 0\n"
            "-0.5 0.5 2 2 1.6\n"
            "-0.5 1.5 0 0 0\n"
            "\n"
            "0.5 -1.5 0 0 0\n"
            "0.5 -0.5 2 1 0\n"
            "0.5 0.5 0 0 0\n"
            "0.5 1.5 2 4 6.4\n"
            "\n");
  EXPECT_EQ(readFile("top.zone"),
            "0.5 0 1 0.75 0.4\n"  // middle rows 1 and 2
            "\n\n"
            "0.5 1.5 1 1.25 1.6\n"  // outer rows 0 and 3
            "0.5 0.5 1 0.75 0.4\n"  // inner rows 1 and 2
            "\n\n"
            "0.5 0.5 1 0.5 0\n"  // cells (0,0) (0,1) (1,0) (1,1)
            "\n\n");
}

TEST(Stats2DxyTest, WideEvenGridLeavesTheDiagonalBlockEmpty) {
  ScopedTempDir dir;
  Stats2Dxy stats(kUp);
  stats.setCells(4, 2, 2.0, 1.0);  // the grid above, turned by a quarter
  impact(stats, -1.5, -0.5, 0.0, 0.5, -0.5);  // (0,0)
  impact(stats, 0.5, -0.5, 0.0, 1.5, -0.5);   // (2,0)
  impact(stats, -0.5, 0.5, 0.0, 0.5, -0.5);   // (1,1)
  impact(stats, 1.5, 0.5, 0.0, 3.0, -1.0);    // (3,1)
  stats.dumpZone("top.zone");

  EXPECT_EQ(readFile("top.zone"),
            "1.5 0 1 1.25 1.6\n"
            "0.5 0 1 0.75 0.4\n"
            "\n\n"
            "1.5 0.5 1 1.25 1.6\n"
            "\n\n"
            "\n\n");
}

TEST(Stats2DxyTest, SingleCellGridAveragesItsOneCellFourTimes) {
  ScopedTempDir dir;
  Stats2Dxy stats(kUp);
  stats.setCells(1, 1, 1.0, 1.0);
  impact(stats, 0.3, -0.2, 0.0, 1.0, -0.5);
  stats.dump("top.hist");
  stats.dumpZone("top.zone");
  EXPECT_EQ(readFile("top.hist"), "0 0 1 1 1\n\n");
  EXPECT_EQ(readFile("top.zone"),
            "0 0 1 1 1\n\n\n"
            "0 0 1 1 1\n\n\n"
            "0 0 1 1 1\n\n\n");
}

// A 2 x 2 grid over [-1, 1) x [-1, 1): cells 1 wide, index = 2 xcell + ycell.
class Stats2DxyEdgeTest : public ::testing::Test {
 protected:
  void SetUp() override { stats_.setCells(2, 2, 1.0, 1.0); }
  // Densities of the four cells after one reference hit in cell (1,1) and
  // a hit at (x, y).
  std::vector<double> densitiesWithHitAt(double x, double y) {
    impact(stats_, 0.5, 0.5, 0.0, 1.0, -1.0);
    impact(stats_, x, y, 0.0, 1.0, -1.0);
    stats_.dump("top.hist");
    return column("top.hist", 2);
  }
  ScopedTempDir dir_;
  Stats2Dxy stats_{kUp};
};

using Cells = std::vector<double>;

TEST_F(Stats2DxyEdgeTest, HitOnThePlusXEdgeIsLeftOutOfTheGrid) {
  EXPECT_EQ(densitiesWithHitAt(1.0, -0.5), (Cells{0, 0, 0, 4}));
}

TEST_F(Stats2DxyEdgeTest, HitOnThePlusYEdgeIsNotBinnedIntoTheNextRow) {
  EXPECT_EQ(densitiesWithHitAt(-0.5, 1.0), (Cells{0, 0, 0, 4}));
}

TEST_F(Stats2DxyEdgeTest, HitsOnOrLessThanOneCellBeyondALowerEdgeLandInTheFirstCell) {
  EXPECT_EQ(densitiesWithHitAt(-1.0, -0.5), (Cells{2, 0, 0, 2}));
  stats_.reset();
  EXPECT_EQ(densitiesWithHitAt(-1.9, 0.5), (Cells{0, 2, 0, 2}));
  stats_.reset();
  EXPECT_EQ(densitiesWithHitAt(0.5, -1.9), (Cells{0, 0, 2, 2}));
}

TEST_F(Stats2DxyEdgeTest, HitsFurtherOffOrUndefinedAreLeftOutOfTheGrid) {
  // y index -1 in x column 1 must not slip into the last cell of column 0.
  for (const auto& xy : {std::pair<double, double>{0.5, -2.5}, {-2.0, 0.5},
                         {1e300, 0.0}, {0.0, std::nan("")}}) {
    stats_.reset();
    EXPECT_EQ(densitiesWithHitAt(xy.first, xy.second), (Cells{0, 0, 0, 4}))
        << "at " << xy.first << ", " << xy.second;
  }
}

bool allValuesNonFinite(const std::string& filename) {
  for (int k = 2; k < 5; ++k)
    for (double value : column(filename, k))
      if (std::isfinite(value)) return false;
  return true;
}

TEST(Stats2DxyTest, EmptyGridStillWritesEveryLineWithNonFiniteValues) {
  ScopedTempDir dir;
  Stats2Dxy stats(kUp);
  stats.setCells(2, 3, 1.0, 1.5);
  impact(stats, 5.0, 5.0, 0.0, 1.0, -1.0);  // off the grid: binned nowhere
  stats.dump("top.hist");
  stats.dumpZone("top.zone");
  EXPECT_EQ(column("top.hist", 0), (std::vector<double>{-0.5, -0.5, -0.5, 0.5, 0.5, 0.5}));
  EXPECT_EQ(column("top.hist", 1), (std::vector<double>{-1, 0, 1, -1, 0, 1}));
  EXPECT_TRUE(allValuesNonFinite("top.hist"));
  EXPECT_EQ(column("top.zone", 0).size(), 1u + 2u + 1u);
  EXPECT_TRUE(allValuesNonFinite("top.zone"));
}

TEST(Stats2DxyTest, ResetEmptiesTheGridButKeepsItsGeometry) {
  ScopedTempDir dir;
  Stats2Dxy stats(kUp);
  stats.setCells(2, 3, 1.0, 1.5);
  impact(stats, -0.5, -1.0, 0.0, 1.0, -1.0);
  stats.dump("before.hist");
  stats.reset();
  stats.dump("after.hist");
  EXPECT_EQ(lines(readFile("after.hist")).size(), 2u * (3u + 1u));
  EXPECT_EQ(column("after.hist", 0), column("before.hist", 0));
  EXPECT_EQ(column("after.hist", 1), column("before.hist", 1));
  EXPECT_TRUE(allValuesNonFinite("after.hist"));

  // Counting starts afresh in the same cells.
  impact(stats, 0.5, 1.0, 0.0, 1.0, -1.0);
  stats.dump("again.hist");
  EXPECT_EQ(column("again.hist", 2), (std::vector<double>{0, 0, 0, 0, 0, 6}));
}

TEST(Stats2DxyTest, SecondSetCellsDiscardsCountsAndAdoptsTheNewGrid) {
  ScopedTempDir dir;
  Stats2Dxy stats(kUp);
  stats.setCells(2, 2, 1.0, 1.0);
  impact(stats, -0.5, -0.5, 0.0, 1.0, -1.0);
  impact(stats, -0.5, -0.5, 0.0, 1.0, -1.0);
  stats.setCells(3, 1, 3.0, 2.0);
  impact(stats, 2.5, 0.0, 0.0, 2.0, -1.0);
  stats.dump("top.hist");
  EXPECT_EQ(readFile("top.hist"),
            "-2 0 0 0 0\n\n"
            "0 0 0 0 0\n\n"
            "2 0 3 3 3\n\n");
}

TEST(Stats2DxyTest, StreamOverloadsWriteAfterWhatTheStreamHolds) {
  ScopedTempDir dir;
  Stats2Dxy stats(kUp);
  stats.setCells(1, 1, 1.0, 1.0);
  impact(stats, 0.0, 0.0, 0.0, 2.0, -1.0);
  {
    std::ofstream os("both.txt");
    os << "# grid\n";
    stats.dump(os);
    stats.dumpZone(os);
  }
  EXPECT_EQ(readFile("both.txt"),
            "# grid\n0 0 1 1 1\n\n"
            "0 0 1 1 1\n\n\n0 0 1 1 1\n\n\n0 0 1 1 1\n\n\n");
}

// ----------------------------------------------------------------- Stats2Dr

// Four rings of width 0.5 out to radius 2: centre radii 0.25 ... 1.75.
TEST(Stats2DrTest, RingFileHoldsHeaderAndValuesPerUnitArea) {
  ScopedTempDir dir;
  Stats2Dr stats(kUp);
  stats.setCells(4, 2.0);
  impact(stats, 0.0, 0.0, 0.7, 3.0, -1.0);  // on the axis: ring 0, p 4, e 8
  for (int k = 0; k < 15; ++k) {             // ring 2, p 2 and e 0 each
    if (k % 2 == 0)
      impact(stats, 0.0, -1.2, 0.0, 1.0, -1.0);
    else
      impact(stats, 0.9, 0.9, 3.0, 1.0, -1.0);
  }
  impact(stats, 2.0, 0.0, 0.0, 1.0, -1.0);  // on the outer radius: hits only
  stats.dump("bot.hist");

  // Sums over rings of count / radius: hits 1/0.25 + 15/1.25 = 16,
  // pressure 4/0.25 + 30/1.25 = 40, energy 8/0.25 = 32.
  EXPECT_EQ(readFile("bot.hist"),
            "# 17 hits\n"
            "# 1 4 0 block, lines, blanks\n"
            "# 3 columns (density, pressure, energy)\n"
            "0.25 1 1.6 4\n"
            "0.75 0 0 0\n"
            "1.25 3 2.4 0\n"
            "1.75 0 0 0\n");
}

TEST(Stats2DrTest, HeaderCountsEveryHitAndRadiiRunOutwards) {
  ScopedTempDir dir;
  Stats2Dr stats(kUp);
  stats.setCells(10, 1.0);
  for (int k = 0; k < 1234; ++k) impact(stats, 0.0008 * k, 0.0, 0.0, 2.0, -1.0);
  stats.dump("top.hist");

  const std::vector<std::string> text = lines(readFile("top.hist"));
  ASSERT_EQ(text.size(), 13u);
  EXPECT_EQ(text[0], "# 1234 hits");
  EXPECT_EQ(text[1], "# 1 10 0 block, lines, blanks");
  EXPECT_EQ(text[2], "# 3 columns (density, pressure, energy)");
  const std::vector<double> radii = column("top.hist", 0);
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(radii[i], 0.05 + 0.1 * i, 1e-12);
  // Each column averages 1 over the rings.
  for (int k = 1; k < 4; ++k) {
    double total = 0.0;
    for (double value : column("top.hist", k)) total += value;
    EXPECT_NEAR(total, 10.0, 1e-4) << "column " << k;
  }
}

// With the normal along x the rings lie around the x axis: the distance
// from it is taken in y and z, and only the x velocity counts.
TEST(Stats2DrTest, RingsLieAroundTheNormal) {
  ScopedTempDir dir;
  const double along_x[3] = {1.0, 0.0, 0.0};
  Stats2Dr stats(along_x);
  stats.setCells(2, 1.0);
  const double near_axis[3] = {40.0, 0.1, 0.2};
  const double far_from_axis[3] = {0.0, 0.0, 0.75};
  const double in[3] = {2.0, 50.0, 60.0}, out[3] = {-2.0, 0.0, 0.0};
  stats.hit(near_axis, in, out);
  stats.hit(far_from_axis, in, out);
  stats.hit(far_from_axis, in, out);
  stats.hit(far_from_axis, in, out);
  stats.dump("side.hist");
  // Counts 1 and 3 at radii 0.25 and 0.75 are the same per unit area;
  // energy is 0 in every hit, so its column is not finite.
  EXPECT_EQ(column("side.hist", 1), (std::vector<double>{1, 1}));
  EXPECT_EQ(column("side.hist", 2), (std::vector<double>{1, 1}));
  EXPECT_FALSE(std::isfinite(column("side.hist", 3)[0]));
}

TEST(Stats2DrTest, HistogramWithoutRingsWritesTheHeaderOnly) {
  ScopedTempDir dir;
  Stats2Dr plain;
  plain.reset();
  plain.dump("plain.hist");
  EXPECT_EQ(readFile("plain.hist"),
            "# 0 hits\n"
            "# 1 0 0 block, lines, blanks\n"
            "# 3 columns (density, pressure, energy)\n");
  Stats2Dr with_normal(kUp);
  impact(with_normal, 0.0, 0.0, 0.0, 1.0, -1.0);
  with_normal.dump("normal.hist");
  EXPECT_EQ(readFile("normal.hist"),
            "# 1 hits\n"
            "# 1 0 0 block, lines, blanks\n"
            "# 3 columns (density, pressure, energy)\n");
}

TEST(Stats2DrTest, ResetEmptiesTheRingsButKeepsThem) {
  ScopedTempDir dir;
  Stats2Dr stats(kUp);
  stats.setCells(3, 1.5);
  impact(stats, 0.2, 0.0, 0.0, 1.0, -1.0);
  impact(stats, 9.0, 0.0, 0.0, 1.0, -1.0);
  stats.reset();
  stats.dump("bot.hist");
  const std::vector<std::string> text = lines(readFile("bot.hist"));
  ASSERT_EQ(text.size(), 6u);
  EXPECT_EQ(text[0], "# 0 hits");
  EXPECT_EQ(column("bot.hist", 0), (std::vector<double>{0.25, 0.75, 1.25}));
  for (int k = 1; k < 4; ++k)
    for (double value : column("bot.hist", k)) EXPECT_FALSE(std::isfinite(value));

  impact(stats, 0.0, 1.4, 0.0, 1.0, -1.0);
  stats.dump("bot.hist");
  EXPECT_EQ(column("bot.hist", 1), (std::vector<double>{0, 0, 3}));
}

TEST(Stats2DrTest, SecondSetCellsDiscardsCountsAndAdoptsTheNewRings) {
  ScopedTempDir dir;
  Stats2Dr stats(kUp);
  stats.setCells(4, 2.0);
  impact(stats, 0.1, 0.0, 0.0, 1.0, -1.0);
  stats.setCells(2, 1.0);
  impact(stats, 0.6, 0.0, 0.0, 2.0, -1.0);
  stats.dump("top.hist");
  EXPECT_EQ(readFile("top.hist"),
            "# 1 hits\n"
            "# 1 2 0 block, lines, blanks\n"
            "# 3 columns (density, pressure, energy)\n"
            "0.25 0 0 0\n"
            "0.75 2 2 2\n");
}

}  // namespace
