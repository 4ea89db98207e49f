// The state file: written by the shot when it is destroyed, read back to
// start a later run. (A state file that cannot be written: SafeFile's test
// and the batch programs' output faults.)
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "chamber.h"
#include "shot.h"
#include "testSupport.h"

using testing_support::readFile;
using testing_support::ScopedTempDir;

namespace {

// A wide floor with no walls and no lid.
class Floor : public Chamber {
 public:
  double radius() const override { return 6.0; }
  double gravity() const override { return 1.0; }
  void useSphereDiameter(double) override {}
  double level(double volume) const override { return volume / 144.0; }
  int isInside(const double* r) const override {
    return std::fabs(r[0]) <= 6.0 && std::fabs(r[1]) <= 6.0 && r[2] >= 0.0;
  }
  int isOutside(const double* r) const override { return !isInside(r); }
  void advance(double) override {}
  double detect(const double*, const double*, double best) override { return best; }
  void collide(const double*, double*) override {}
  void reset() override {}
  double baseHeight() const override { return 0.0; }
};

// n unit spheres, turning at 0.2 about the axis when placed.
ShotDef shotOf(int n) {
  ShotDef def;
  def.count = n;
  def.packing = 0.3;
  def.spin = 0.2;
  return def;
}

}  // namespace

TEST(ShotStateFile, TheFinalStateIsSavedAndStartsTheNextRunAsItWas) {
  ScopedTempDir dir;
  Floor floor;
  std::vector<double> r, v;
  {
    Shot first(shotOf(60));
    testing::internal::CaptureStdout();
    first.distribute(floor);
    testing::internal::GetCapturedStdout();
    r.assign(first.r_chunk(), first.r_chunk() + 180);
    v.assign(first.v_chunk(), first.v_chunk() + 180);
    testing::internal::CaptureStdout();
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Dumping state vector to file... DONE\n");

  std::istringstream text(readFile("state.out"));
  std::string line;
  int lines = 0;
  while (std::getline(text, line)) {
    std::istringstream fields(line);
    double x;
    int count = 0;
    while (fields >> x) ++count;
    EXPECT_EQ(count, 6) << line;
    ++lines;
  }
  EXPECT_EQ(lines, 60);

  Shot next(shotOf(60));
  std::ifstream is("state.out");
  testing::internal::CaptureStdout();
  next.readState(is);
  EXPECT_FALSE(is.fail());
  next.test(floor);  // the tolerance covers the rounding to 6 digits
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Reading state vector from file...\nTesting for overlaps...\n");
  for (int k = 0; k < 180; ++k) {
    EXPECT_NEAR(next.r_chunk()[k], r[k], 5e-6 * std::fabs(r[k]));
    EXPECT_NEAR(next.v_chunk()[k], v[k], 5e-6 * std::fabs(v[k]));
  }
}
