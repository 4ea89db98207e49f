// The shared chamber conventions, exercised through the box: the base's
// triangle wave, the restitution law, base and top impact prediction and the
// response at base and top.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <string>

#include "box.h"
#include "testSupport.h"

using testing_support::ScopedTempDir;
using testing_support::writeFile;

namespace {

const double kBig = 1e9;

struct BoxSetup {
  double half_width = 50.0;
  double height0 = 0.0;  // 0: no top
  double amplitude = 0.1;
  double period = 0.4;
  double gravity = 10.0;
  double coef_base = 0.9, v_base = 1.0;
  double coef_wall = 0.9, v_wall = 1.0;
  double coef_top = 0.9, v_top = 1.0;
  double base_z = 0.0;
  int base_dir = 1;
  int maps = 0;
};

std::string boxFile(const BoxSetup& s) {
  std::ostringstream os;
  os.precision(17);
  os << s.half_width << " " << s.half_width << " " << s.height0 << "\n"
     << s.amplitude << " " << s.period << "\n"
     << s.gravity << "\n"
     << s.coef_base << " " << s.v_base << "\n"
     << s.coef_wall << " " << s.v_wall << "\n"
     << s.coef_top << " " << s.v_top << "\n"
     << "0.001\n"
     << s.base_z << " " << s.base_dir << "\n"
     << s.maps << "\n"
     << "4 4\n";
  return os.str();
}

// Height of a triangle wave between -A and +A with period P, given its height
// and direction at t = 0; written independently of the chamber's advance.
double waveHeight(double a, double p, double z0, int dir0, double t) {
  const double v = 4.0 * a / p;
  // Phase measured from the bottom turning point.
  double phase = dir0 > 0 ? (z0 + a) / v : 0.5 * p + (a - z0) / v;
  phase = std::fmod(phase + t, p);
  if (phase < 0) phase += p;
  return phase < 0.5 * p ? -a + v * phase : a - v * (phase - 0.5 * p);
}

// First time the free-flight height meets the wave from above, by stepping
// and bisection; -1 when none before tmax. Between two turning points of the
// base the gap (sphere height minus base height) is a concave parabola, whose
// minimum over an interval lies at an end; so stepping on a fine grid that
// also holds every turning point brackets the first crossing, however
// briefly the base pokes above the sphere near its top turning point.
double firstCrossing(double a, double p, double z0, int dir0, double g, double z,
                     double vz, double tmax) {
  auto gap = [&](double t) {
    return z + vz * t - 0.5 * g * t * t - waveHeight(a, p, z0, dir0, t);
  };
  const double v = 4.0 * a / p;
  const double phase0 = dir0 > 0 ? (z0 + a) / v : 0.5 * p + (a - z0) / v;
  const double half = 0.5 * p;
  double next_turn = half * std::floor(phase0 / half + 1.0) - phase0;
  const double dt = p / 500.0;
  double t0 = 0.0;
  while (t0 < tmax) {
    double t1 = t0 + dt;
    if (t1 >= next_turn) {
      t1 = next_turn;
      next_turn += half;
    }
    if (gap(t1) < 0.0) {
      double lo = t0, hi = t1;
      for (int i = 0; i < 200 && hi - lo > 1e-15; ++i) {
        const double mid = 0.5 * (lo + hi);
        (gap(mid) < 0.0 ? hi : lo) = mid;
      }
      return 0.5 * (lo + hi);
    }
    t0 = t1;
  }
  return -1.0;
}

class BaseAndTop : public ::testing::Test {
 protected:
  ScopedTempDir dir_;
  Box* make(const BoxSetup& s, double diam = 1.0) {
    writeFile("ini/box.ini", boxFile(s));
    box_.reset(new Box("ini/box.ini"));
    box_->useSphereDiameter(diam);
    return box_.get();
  }
  std::unique_ptr<Box> box_;
};

TEST_F(BaseAndTop, WorkedBaseCase_SphereAtRestMeetsTheBaseOnItsSecondRise) {
  Box* box = make(BoxSetup{});
  const double r[3] = {0, 0, 1};
  double v[3] = {0, 0, 0};
  const double t = box->detect(r, v, kBig);
  EXPECT_NEAR(t, (std::sqrt(29.0) - 1.0) / 10.0, 1e-12);
  box->advance(t);
  EXPECT_NEAR(box->baseHeight(), 1.0 - 5.0 * t * t, 1e-12);
  EXPECT_NEAR(box->baseHeight(), 0.0385, 1e-4);
  EXPECT_EQ(box->baseDirection(), 1);
}

TEST_F(BaseAndTop, BasePredictionAgreesWithADirectSearchForTheFirstCrossing) {
  std::mt19937 gen(12345);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int chamber = 0; chamber < 100; ++chamber) {
    BoxSetup s;
    s.amplitude = 0.05 + 1.5 * unit(gen);
    s.period = 0.2 + 2.0 * unit(gen);
    s.gravity = 1.0 + 15.0 * unit(gen);
    Box* box = make(s);
    for (int trial = 0; trial < 30; ++trial) {
      // A random phase and direction of the base.
      box->advance(s.period * unit(gen));
      const double base_z = box->baseHeight();
      const int base_dir = box->baseDirection();
      // Half the spheres start inside the band swept by the base, half above it.
      const bool above = trial % 2 == 0;
      const double z = above ? s.amplitude + 3.0 * unit(gen) + 1e-3
                             : base_z + 1e-3 + (s.amplitude - base_z) * unit(gen);
      const double vz = 8.0 * (2.0 * unit(gen) - 1.0);
      const double r[3] = {0, 0, z};
      const double v[3] = {0, 0, vz};
      const double predicted = box->detect(r, v, kBig);
      ASSERT_LT(predicted, kBig);
      // The search runs one period past the prediction: a prediction that is
      // too late finds an earlier crossing, one that is too early finds none.
      const double expected = firstCrossing(s.amplitude, s.period, base_z, base_dir,
                                            s.gravity, z, vz, predicted + s.period);
      ASSERT_NEAR(predicted, expected, 1e-8 * (1.0 + expected))
          << "A=" << s.amplitude << " P=" << s.period << " g=" << s.gravity
          << " base " << base_z << " dir " << base_dir << " z=" << z << " vz=" << vz;
    }
  }
}

TEST_F(BaseAndTop, ASphereAtRestOnTheRisingBaseIsHitAtOnceAndThrownUp) {
  BoxSetup s;
  s.base_z = -s.amplitude;  // bottom turning point, about to rise
  Box* box = make(s);
  const double r[3] = {0, 0, -s.amplitude};
  double v[3] = {0, 0, 0};
  EXPECT_EQ(box->detect(r, v, kBig), 0.0);
  box->collide(r, v);
  // Closing speed V = 1 at the threshold: vz' = 0.9 * 1 + 1.
  EXPECT_DOUBLE_EQ(v[2], 1.9);
  EXPECT_EQ(box->baseImpacts(), 1);
}

TEST_F(BaseAndTop, ABaseAtRestIsStillAFloor) {
  BoxSetup s;
  s.amplitude = 0.0;
  s.base_z = 0.0;
  s.coef_base = 1.0;
  s.v_base = 100.0;
  Box* box = make(s);
  // Dropped from height 2 under g = 10: reaches the floor after sqrt(0.4).
  const double r[3] = {0, 0, 2.0};
  double v[3] = {0, 0, 0};
  const double t = box->detect(r, v, kBig);
  ASSERT_NEAR(t, std::sqrt(0.4), 1e-12);
  box->advance(t);
  EXPECT_EQ(box->baseHeight(), 0.0);
  double landed[3] = {0, 0, 0};
  v[2] = -10.0 * t;
  box->collide(landed, v);
  EXPECT_NEAR(v[2], 10.0 * t, 1e-12);  // elastic bounce, back up at full speed
  // A sphere below the floor and moving down is found at once (negative
  // time), never lost below it.
  const double below[3] = {0, 0, -0.01};
  const double down[3] = {0, 0, -1.0};
  EXPECT_LT(box->detect(below, down, kBig), 0.0);
}

TEST_F(BaseAndTop, BaseMotionTurnsOnlyPastItsTurningPoints) {
  BoxSetup s;  // A = 0.1, P = 0.4, V = 1, base at 0 rising
  Box* box = make(s);
  box->advance(0.1);  // exactly to the top turning point
  EXPECT_DOUBLE_EQ(box->baseHeight(), 0.1);
  EXPECT_EQ(box->baseDirection(), 1);
  box->advance(0.01);  // a little past it
  EXPECT_NEAR(box->baseHeight(), 0.09, 1e-15);
  EXPECT_EQ(box->baseDirection(), -1);
  box->advance(0.0);
  EXPECT_NEAR(box->baseHeight(), 0.09, 1e-15);
  EXPECT_EQ(box->baseDirection(), -1);
  // Backwards along the line of the current motion, without turning.
  box->advance(-0.05);
  EXPECT_NEAR(box->baseHeight(), 0.14, 1e-15);
  EXPECT_EQ(box->baseDirection(), -1);
}

TEST_F(BaseAndTop, BaseMotionFollowsTheTriangleWaveOverManyPeriods) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  BoxSetup s;
  s.amplitude = 0.7;
  s.period = 1.3;
  s.base_z = 0.2;
  s.base_dir = -1;
  Box* box = make(s);
  double t = 0.0;
  for (int i = 0; i < 1000; ++i) {
    const double step = 0.9 * unit(gen);
    box->advance(step);
    t += step;
    ASSERT_NEAR(box->baseHeight(), waveHeight(0.7, 1.3, 0.2, -1, t), 1e-9) << "t=" << t;
  }
}

TEST_F(BaseAndTop, ALongStepOrATinyPeriodIsCrossedWithoutTurningHalfPeriodByHalfPeriod) {
  BoxSetup s;
  s.amplitude = 0.7;
  s.period = 1.3;
  s.base_z = 0.2;
  s.base_dir = -1;
  Box* box = make(s);
  box->advance(1000.37);
  EXPECT_NEAR(box->baseHeight(), waveHeight(0.7, 1.3, 0.2, -1, 1000.37), 1e-9);
  // Half a period is lost in the rounding of any step: the advance must
  // still return, with the base inside its stroke.
  s.period = 1e-300;
  box = make(s);
  box->advance(0.02);
  EXPECT_LE(std::fabs(box->baseHeight()), 0.7);
}

TEST_F(BaseAndTop, WorkedTopCase_ARisingSphereMeetsTheLidOnItsWayUp) {
  BoxSetup s;
  s.height0 = 2.0;  // height_ = 1 for spheres of diameter 1
  s.amplitude = 0.1;
  Box* box = make(s);
  const double r[3] = {0, 0, 0.5};
  const double fast[3] = {0, 0, 5.0};
  // From z = 0.5 (lowest point) with vz = 5 under g = 10: D = 25 - 10 = 15.
  EXPECT_NEAR(box->detect(r, fast, kBig), (5.0 - std::sqrt(15.0)) / 10.0, 1e-12);
  // Too slow to reach the lid: the base is next, not the top.
  const double slow[3] = {0, 0, 3.0};
  box->detect(r, slow, kBig);
  double v[3] = {0, 0, 3.0};
  box->collide(r, v);
  EXPECT_EQ(box->topImpacts(), 0);
  // A lid hit reverses vz with the top's restitution.
  const double top[3] = {0, 0, 1.0};
  const double t = box->detect(r, fast, kBig);
  double vt[3] = {0, 0, 5.0 - 10.0 * t};
  box->collide(top, vt);
  EXPECT_EQ(box->topImpacts(), 1);
  const double speed = 5.0 - 10.0 * t;
  EXPECT_NEAR(vt[2], -0.9 * std::pow(speed, -0.25) * speed, 1e-12);
}

TEST_F(BaseAndTop, NoCandidateLeavesTheBestTimeAndThePendingImpactAlone) {
  BoxSetup s;
  s.height0 = 5.0;
  Box* box = make(s);
  const double r[3] = {0, 0, 3.0};
  const double v[3] = {0, 0, 0};
  const double t = box->detect(r, v, kBig);  // the base
  // With a smaller bound nothing is found and the base stays pending.
  EXPECT_EQ(box->detect(r, v, 0.1 * t), 0.1 * t);
  double vv[3] = {0, 0, 0};
  box->collide(r, vv);
  EXPECT_EQ(box->baseImpacts(), 1);
  // An equal candidate loses: the bound comes back unchanged.
  EXPECT_EQ(box->detect(r, v, t), t);
}

TEST_F(BaseAndTop, RestitutionIsConstantBelowTheThresholdAndFallsWithTheFourthRootAbove) {
  BoxSetup s;
  s.coef_base = 0.8;
  s.v_base = 2.0;
  s.coef_top = 0.6;
  s.v_top = 0.5;
  Box* box = make(s);
  EXPECT_EQ(box->coef_sb(1.999), 0.8);
  EXPECT_EQ(box->coef_sb(2.0), 0.8);
  EXPECT_NEAR(box->coef_sb(32.0), 0.4, 1e-15);
  EXPECT_NEAR(box->coef_sb(8.0), 0.8 / std::sqrt(2.0), 1e-15);
  EXPECT_NEAR(box->coef_st(8.0), 0.3, 1e-15);
  EXPECT_EQ(box->coef_st(0.0), 0.6);
}

TEST_F(BaseAndTop, CollideWithNothingPendingChangesNothing) {
  Box* box = make(BoxSetup{});
  const double r[3] = {1, 1, 1};
  double v[3] = {1, 2, 3};
  box->collide(r, v);
  EXPECT_EQ(v[0], 1);
  EXPECT_EQ(v[1], 2);
  EXPECT_EQ(v[2], 3);
}

using ChamberFileDeathTest = BaseAndTop;

TEST_F(ChamberFileDeathTest, UnphysicalValuesAreReadErrors) {
  auto refused = [](BoxSetup s) {
    writeFile("ini/box.ini", boxFile(s));
    EXPECT_EXIT(Box box("ini/box.ini"), ::testing::ExitedWithCode(1),
                "^Error reading ini/box.ini\n$");
  };
  BoxSetup s;
  s.gravity = 0.0;
  refused(s);
  s = BoxSetup{};
  s.gravity = -9.8;
  refused(s);
  s = BoxSetup{};
  s.period = 0.0;
  refused(s);
  s = BoxSetup{};
  s.v_wall = 0.0;
  refused(s);
  s = BoxSetup{};
  s.coef_top = 1.5;
  refused(s);
  s = BoxSetup{};
  s.base_dir = 0;
  refused(s);
  s = BoxSetup{};
  s.base_z = 0.5;  // outside the stroke of +-0.1
  refused(s);
  writeFile("ini/box.ini", "5 5 20\n1 nan\n");
  EXPECT_EXIT(Box box("ini/box.ini"), ::testing::ExitedWithCode(1), "Error reading ini/box.ini");
}

}  // namespace
