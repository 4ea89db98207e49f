// Shot set-up: random placement with its initial velocities, the placement
// check, and the state file that saves a bed and starts the next run.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
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

// An open-topped square tray: sphere centres within |x|, |y| <= half_width,
// lowest points from the floor up to top. No impacts.
class Tray : public Chamber {
 public:
  Tray(double half_width, double top, double floor = 0.0)
      : half_width_(half_width), top_(top), floor_(floor) {}
  double radius() const override { return half_width_ * std::sqrt(2.0); }
  double gravity() const override { return 1.0; }
  void useSphereDiameter(double) override {}
  double level(double volume) const override {
    return volume / (4.0 * half_width_ * half_width_);
  }
  int isInside(const double* r) const override {
    return std::fabs(r[0]) <= half_width_ && std::fabs(r[1]) <= half_width_ &&
           r[2] >= floor_ && r[2] <= top_;
  }
  int isOutside(const double* r) const override { return !isInside(r); }
  void advance(double) override {}
  double detect(const double*, const double*, double best) override { return best; }
  void collide(const double*, double*) override {}
  void reset() override {}
  double baseHeight() const override { return floor_; }

 private:
  double half_width_;
  double top_;
  double floor_;
};

// A shot of n unit spheres, restitution 0.8 above speed 1.
ShotDef shotOf(int n, double eta, double kt, double omega0, double rtol = 0.01) {
  ShotDef def;
  def.count = n;
  def.packing = eta;
  def.temperature = kt;
  def.spin = omega0;
  def.restitution = {0.8, 1.0};
  def.tolerance = rtol;
  return def;
}

// Places spheres from "x y z vx vy vz" lines, quietly.
void place(Shot& shot, const std::string& state) {
  std::istringstream is(state);
  testing::internal::CaptureStdout();
  shot.readState(is);
  testing::internal::GetCapturedStdout();
}

// Death tests match standard error; the placement check speaks on stdout.
void stdoutToStderr() {
  std::cout.flush();
  dup2(STDERR_FILENO, STDOUT_FILENO);
}

const double kPi = 3.141592653589793;

}  // namespace

TEST(ShotPlacement, RandomBedLiesInTheLayerWithoutOverlapAndPassesTheCheck) {
  ScopedTempDir dir;
  const ShotDef def = shotOf(200, 0.3, 1.0, 0.0);
  Shot shot(def);
  Tray tray(4.0, 100.0);
  shot.useSeed(3);
  testing::internal::CaptureStdout();
  EXPECT_EQ(shot.distribute(tray), 3);
  shot.test(tray);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Distributing shot randomly... DONE\nTesting for overlaps...\n");
  const double z_max = tray.level(200 * kPi / 6.0 / 0.3);
  const double* r = shot.r_chunk();
  for (int i = 0; i < 200; ++i) {
    EXPECT_FALSE(tray.isOutside(r + 3 * i));
    EXPECT_LE(r[3 * i + 2], z_max);
    for (int j = 0; j < i; ++j) {
      double d2 = 0.0;
      for (int k = 0; k < 3; ++k) d2 += std::pow(r[3 * i + k] - r[3 * j + k], 2);
      ASSERT_GE(d2, 1.0) << "spheres " << i << " and " << j;
    }
  }
}

TEST(ShotPlacement, ABedPlacedWhileTheBaseStandsHighRestsOnTheBase) {
  ScopedTempDir dir;
  const ShotDef def = shotOf(200, 0.3, 1.0, 0.0);
  Shot shot(def);
  Tray tray(4.0, 100.0, 1.0);  // the base one diameter up
  shot.useSeed(5);
  testing::internal::CaptureStdout();
  shot.distribute(tray);
  testing::internal::GetCapturedStdout();
  // The whole layer is lifted with the base: nothing below it, and the top
  // slice of the layer is used as it would be on a base at z = 0.
  const double z_max = tray.level(200 * kPi / 6.0 / 0.3);
  const double* r = shot.r_chunk();
  double highest = 0.0;
  for (int i = 0; i < 200; ++i) {
    EXPECT_GE(r[3 * i + 2], 1.0);
    EXPECT_LE(r[3 * i + 2], 1.0 + z_max);
    highest = std::max(highest, r[3 * i + 2]);
  }
  EXPECT_GT(highest, z_max);
}

TEST(ShotPlacement, VelocitiesAreCentredAtTheTemperatureUnderTheImposedRotation) {
  ScopedTempDir dir;
  const int n = 100;
  const double kt = 2.0, omega0 = 0.3;
  const ShotDef def = shotOf(n, 0.2, kt, omega0);
  Shot shot(def);
  Tray tray(5.0, 100.0);
  testing::internal::CaptureStdout();
  shot.distribute(tray);
  testing::internal::GetCapturedStdout();
  const double* r = shot.r_chunk();
  const double* v = shot.v_chunk();
  double inertia = 0.0, spin = 0.0, sx = 0.0, sy = 0.0, svx = 0.0, svy = 0.0, svz = 0.0;
  for (int k = 0; k < 3 * n; k += 3) {
    inertia += r[k] * r[k] + r[k + 1] * r[k + 1];
    spin += r[k] * v[k + 1] - r[k + 1] * v[k];
    sx += r[k];
    sy += r[k + 1];
    svx += v[k];
    svy += v[k + 1];
    svz += v[k + 2];
  }
  EXPECT_NEAR(spin / inertia, omega0, 1e-12);
  // The velocities are centred velocities u plus a rigid rotation
  // delta * (-y, x); centring fixes delta from either horizontal sum.
  const double delta = -svx / sy;
  EXPECT_NEAR(svy, delta * sx, 1e-9);
  EXPECT_NEAR(svz, 0.0, 1e-9);
  double u2 = 0.0;
  for (int k = 0; k < 3 * n; k += 3) {
    u2 += std::pow(v[k] + delta * r[k + 1], 2) + std::pow(v[k + 1] - delta * r[k], 2) +
          v[k + 2] * v[k + 2];
  }
  EXPECT_NEAR(u2 / (3 * n), kt, 1e-9);
}

TEST(ShotPlacement, ASingleSphereKeepsItsDrawnVelocityScaledAndTurned) {
  ScopedTempDir dir;
  const ShotDef def = shotOf(1, 0.2, 2.0, 0.5);
  Shot shot(def);
  Tray tray(5.0, 100.0);
  testing::internal::CaptureStdout();
  shot.distribute(tray);
  testing::internal::GetCapturedStdout();
  const double* r = shot.r_chunk();
  const double* v = shot.v_chunk();
  const double rho2 = r[0] * r[0] + r[1] * r[1];
  EXPECT_NEAR((r[0] * v[1] - r[1] * v[0]) / rho2, 0.5, 1e-12);
  // The turn replaces the tangential part; the rest keeps its scaled size.
  const double radial = (r[0] * v[0] + r[1] * v[1]) / std::sqrt(rho2);
  EXPECT_GT(v[2] * v[2], 0.0);
  EXPECT_LE(radial * radial + v[2] * v[2], 3 * 2.0 + 1e-12);
}

TEST(ShotPlacement, ZeroTemperatureLeavesAPureRotation) {
  ScopedTempDir dir;
  const ShotDef def = shotOf(20, 0.2, 0.0, 0.5);
  Shot shot(def);
  Tray tray(5.0, 100.0);
  testing::internal::CaptureStdout();
  shot.distribute(tray);
  testing::internal::GetCapturedStdout();
  const double* r = shot.r_chunk();
  const double* v = shot.v_chunk();
  for (int k = 0; k < 60; k += 3) {
    EXPECT_NEAR(v[k], -0.5 * r[k + 1], 1e-12);
    EXPECT_NEAR(v[k + 1], 0.5 * r[k], 1e-12);
    EXPECT_EQ(v[k + 2], 0.0);
  }
}

TEST(ShotPlacement, TheSameSeedGivesTheSameBedAnotherSeedAnother) {
  ScopedTempDir dir;
  const ShotDef def = shotOf(50, 0.3, 1.0, 0.0);
  Shot a(def), b(def), c(def);
  Tray tray(4.0, 100.0);
  a.useSeed(11);
  b.useSeed(11);
  c.useSeed(12);
  testing::internal::CaptureStdout();
  a.distribute(tray);
  b.distribute(tray);
  c.distribute(tray);
  testing::internal::GetCapturedStdout();
  std::vector<double> ra(a.r_chunk(), a.r_chunk() + 150), va(a.v_chunk(), a.v_chunk() + 150);
  EXPECT_EQ(ra, std::vector<double>(b.r_chunk(), b.r_chunk() + 150));
  EXPECT_EQ(va, std::vector<double>(b.v_chunk(), b.v_chunk() + 150));
  EXPECT_NE(ra, std::vector<double>(c.r_chunk(), c.r_chunk() + 150));
}

// Each case spends the whole budget of draws (10^7 and more): seconds in an
// optimised build, minutes under the sanitizers, so the alarm that catches
// a placement drawing for ever is set well beyond both.
TEST(ShotPlacementDeathTest, AnImpossibleBedIsRefusedInsteadOfDrawnForEver) {
  ScopedTempDir dir;
  // Thirty spheres at packing fraction 0.9 in a 2 x 2 tray.
  const ShotDef def = shotOf(30, 0.9, 1.0, 0.0);
  EXPECT_EXIT(
      {
        alarm(400);
        Shot shot(def);
        Tray tray(1.0, 100.0);
        shot.distribute(tray);
      },
      testing::ExitedWithCode(1), "Random placement failed: could only place [0-9]+ of 30");
  // A layer eight diameters high in a tray whose lid lies half a diameter up.
  const ShotDef loose = shotOf(30, 0.2, 1.0, 0.0);
  EXPECT_EXIT(
      {
        alarm(400);
        Shot shot(loose);
        Tray tray(1.0, 0.5);
        shot.distribute(tray);
      },
      testing::ExitedWithCode(1), "Random placement failed");
}

// A check that passes returns; run it in a child that then exits with 0.
#define EXPECT_CHECK_PASSES(shot, chamber) \
  EXPECT_EXIT({ (shot).test(chamber); std::exit(0); }, testing::ExitedWithCode(0), "")

TEST(ShotCheckDeathTest, SpheresExactlyAtTheToleratedDistancePass) {
  ScopedTempDir dir;
  const ShotDef def = shotOf(2, 0.3, 1.0, 0.0, 0.125);  // closest allowed: d^2 = 1 - 0.25
  Shot shot(def);
  Tray tray(4.0, 100.0);
  place(shot, "0 0 0 0 0 0\n0.5 0.5 0.5 0 0 0\n");
  EXPECT_CHECK_PASSES(shot, tray);
}

TEST(ShotCheckDeathTest, CloserSpheresOrOneOutsideEndTheRun) {
  ScopedTempDir dir;
  const ShotDef def = shotOf(3, 0.3, 1.0, 0.0, 0.125);
  Shot shot(def);
  Tray tray(4.0, 100.0);
  place(shot, "0 0 0 0 0 0\n0.5 0.5 0.4999 0 0 0\n9 9 9 0 0 0\n");
  EXPECT_EXIT({ stdoutToStderr(); shot.test(tray); }, testing::ExitedWithCode(1), "OVERLAP");
  // Sphere 1 is both below the floor and overlapping: outside is reported.
  place(shot, "0 0 0 0 0 0\n0 0 -0.5 0 0 0\n1 1 1 0 0 0\n");
  EXPECT_EXIT({ stdoutToStderr(); shot.test(tray); }, testing::ExitedWithCode(1),
              "NOT IN CHAMBER");
}

// The state file: written by the shot when it is destroyed, read back to
// start a later run. (A state file that cannot be written: SafeFile's test
// and the batch programs' output faults.)
TEST(ShotStateFile, TheFinalStateIsSavedAndStartsTheNextRunAsItWas) {
  ScopedTempDir dir;
  Tray floor(6.0, 1e9);  // a wide floor with no lid
  std::vector<double> r, v;
  {
    Shot first(shotOf(60, 0.3, 1.0, 0.2, 0.001));
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

  Shot next(shotOf(60, 0.3, 1.0, 0.2, 0.001));
  std::ifstream is("state.out");
  testing::internal::CaptureStdout();
  next.readState(is);
  EXPECT_FALSE(is.fail());
  next.test(floor);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Reading state vector from file...\nTesting for overlaps...\n");
  // Every number comes back as the same double: touching spheres far from
  // the axis stay touching, not overlapping, after a restart.
  for (int k = 0; k < 180; ++k) {
    EXPECT_EQ(next.r_chunk()[k], r[k]) << k;
    EXPECT_EQ(next.v_chunk()[k], v[k]) << k;
  }
}
