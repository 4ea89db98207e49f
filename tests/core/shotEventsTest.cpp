// Event prediction, free flight and collisions of the shot.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "chamber.h"
#include "shot.h"
#include "testSupport.h"

namespace {

// A chamber without walls whose every sphere would hit a surface at
// impact_time (never, by default); an impact reverses vz.
class ScriptedChamber : public Chamber {
 public:
  double impact_time = std::numeric_limits<double>::infinity();
  int impacts = 0;
  const double* hit = nullptr;

  double radius() const override { return 10.0; }
  double gravity() const override { return 9.81; }
  void useSphereDiameter(double) override {}
  double level(double volume) const override { return volume / 400.0; }
  int isInside(const double*) const override { return 1; }
  int isOutside(const double*) const override { return 0; }
  void advance(double) override {}
  double detect(const double*, const double*, double best) override {
    return impact_time < best ? impact_time : best;
  }
  void collide(const double* r, double* v) override {
    ++impacts;
    hit = r;
    v[2] = -v[2];
  }
  void reset() override {}
  double baseHeight() const override { return 0.0; }
};

// Exposes the prediction bookkeeping.
class ShotProbe : public Shot {
 public:
  using Shot::coef;
  using Shot::Shot;
  int chosen() const { return chosen_; }
  int chamberImpact() const { return chamber_impact_; }
  double tnext(int i) const { return tnext_[i]; }
  int partner(int i) const { return partner_[i]; }
  std::vector<int> stale() const { return std::vector<int>(update_, update_ + n_); }
  const double* r(int i) const { return r_[i]; }
  const double* v(int i) const { return v_[i]; }
};

class ShotEvents : public ::testing::Test {
 protected:
  // A shot of unit spheres placed from "x y z vx vy vz" lines.
  std::unique_ptr<ShotProbe> shot(const std::string& state, double coef0 = 0.8,
                                  double v_threshold = 10.0) {
    std::istringstream lines(state);
    std::string line;
    int n = 0;
    while (std::getline(lines, line)) ++n;
    ShotDef def;
    def.count = n;
    def.restitution = {coef0, v_threshold};
    def.tolerance = 0.0;
    auto s = std::make_unique<ShotProbe>(def);
    std::istringstream is(state);
    testing::internal::CaptureStdout();
    s->readState(is);
    testing::internal::GetCapturedStdout();
    return s;
  }

  testing_support::ScopedTempDir dir_;
  ScriptedChamber chamber_;
};

const std::string kHeadOn = "0 0 0 1 0 0\n3 0 0 -1 0 0\n";

double kinetic(const ShotProbe& s) {
  double e = 0.0;
  for (int k = 0; k < 3 * s.n(); ++k) e += 0.5 * s.v_chunk()[k] * s.v_chunk()[k];
  return e;
}

}  // namespace

TEST_F(ShotEvents, HeadOnPairCollidesAtOneAndReboundsWithPointEightOfItsSpeed) {
  auto s = shot(kHeadOn);
  s->detect();
  s->detect(chamber_);
  EXPECT_EQ(s->tnext(0), 1.0);
  EXPECT_EQ(s->tnext(1), 1.0);
  EXPECT_EQ(s->partner(0), 1);
  EXPECT_EQ(s->partner(1), 0);
  EXPECT_EQ(s->chosen(), 0);
  EXPECT_EQ(s->chamberImpact(), 0);
  EXPECT_EQ(s->tNext(), 1.0);

  s->advance(9.81, s->tNext());
  s->collide(chamber_);
  EXPECT_DOUBLE_EQ(s->v(0)[0], -0.8);
  EXPECT_DOUBLE_EQ(s->v(1)[0], 0.8);
  EXPECT_EQ(s->v(0)[2], -9.81);  // gravity acts alike on both
  EXPECT_EQ(s->v(1)[2], -9.81);
  EXPECT_EQ(s->collision(), 1);
  EXPECT_EQ(s->stale(), (std::vector<int>{1, 1}));
  EXPECT_EQ(chamber_.impacts, 0);

  // A new placement starts the count afresh.
  std::istringstream again(kHeadOn);
  testing::internal::CaptureStdout();
  s->readState(again);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(s->collision(), 0);
}

TEST_F(ShotEvents, SpheresMovingApartPassingOrGrazingPredictNothing) {
  for (const char* state : {"0 0 0 -1 0 0\n3 0 0 1 0 0\n",       // apart
                            "0 0 0 1 0 0\n3 1.5 0 -1 0 0\n",     // passing
                            "0 0 0 1 0 0\n3 1 0 -1 0 0\n"}) {    // grazing
    auto s = shot(state);
    s->detect();
    EXPECT_EQ(s->partner(0), -1) << state;
    EXPECT_EQ(s->partner(1), -1) << state;
    EXPECT_GE(s->tNext(), 1e8) << state;
  }
}

TEST_F(ShotEvents, EqualTimesGoToTheLowerIndexAndTheSpherePairBeatsTheChamber) {
  // Two head-on pairs, far apart, both meeting at t = 1.
  auto s = shot(kHeadOn + "0 20 0 1 0 0\n3 20 0 -1 0 0\n");
  chamber_.impact_time = 1.0;
  s->detect();
  s->detect(chamber_);
  EXPECT_EQ(s->chosen(), 0);
  EXPECT_EQ(s->chamberImpact(), 0);
  EXPECT_EQ(s->tNext(), 1.0);

  chamber_.impact_time = 0.5;  // every sphere hits the chamber at 0.5
  s->detect();
  s->detect(chamber_);
  EXPECT_EQ(s->chosen(), 0);
  EXPECT_EQ(s->chamberImpact(), 1);
  EXPECT_EQ(s->tNext(), 0.5);
}

TEST_F(ShotEvents, OverlappingApproachingPairIsReportedAndCollidesAtOnce) {
  auto s = shot("0 0 0 1 0 0\n0.5 0 0 -1 0 0\n");
  testing::internal::CaptureStdout();
  s->detect();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "NEGATIVE INTRASHOT IMPACT TIME : -0.25\n");
  s->detect(chamber_);
  EXPECT_EQ(s->chosen(), 0);
  EXPECT_EQ(s->tNext(), -0.25);
  s->advance(0.0, s->tNext());  // back to the moment of contact
  EXPECT_DOUBLE_EQ(s->r(1)[0] - s->r(0)[0], 1.0);
  s->collide(chamber_);
  EXPECT_DOUBLE_EQ(s->v(0)[0], -0.8);
  EXPECT_DOUBLE_EQ(s->v(1)[0], 0.8);
}

TEST_F(ShotEvents, RestitutionFallsWithTheFourthRootOfSpeedAboveTheThreshold) {
  auto s = shot(kHeadOn, 0.8, 2.0);
  EXPECT_EQ(s->coef(1.0 * 1.0), 0.8);
  EXPECT_EQ(s->coef(2.0 * 2.0), 0.8);
  EXPECT_DOUBLE_EQ(s->coef(8.0 * 8.0), 0.8 / std::sqrt(2.0));
  EXPECT_DOUBLE_EQ(s->coef(32.0 * 32.0), 0.4);
}

TEST_F(ShotEvents, ACollisionMakesStaleOnlyTheMovedSpheresAndThoseExpectingThem) {
  // 0 and 1 meet head-on at t = 1; sphere 2 would meet 0 at t = 2;
  // sphere 3, dropping onto 2's path from above, meets 2 at t = 3.
  auto s = shot(kHeadOn + "2 -4 0 0 1.5 0\n2 -4 4 0 1.5 -1\n");
  s->detect();
  s->detect(chamber_);
  EXPECT_EQ(s->partner(2), 0);
  EXPECT_DOUBLE_EQ(s->tnext(2), 2.0);
  EXPECT_EQ(s->partner(3), 2);
  EXPECT_DOUBLE_EQ(s->tnext(3), 3.0);

  s->advance(0.0, s->tNext());
  s->collide(chamber_);
  EXPECT_EQ(s->stale(), (std::vector<int>{1, 1, 1, 0}));
  EXPECT_EQ(s->partner(3), 2);
  EXPECT_DOUBLE_EQ(s->tnext(3), 2.0);

  // Sphere 0 now flies back: sphere 2 finds sphere 3 instead.
  s->detect();
  EXPECT_EQ(s->partner(2), 3);
  EXPECT_DOUBLE_EQ(s->tnext(2), 2.0);
  EXPECT_EQ(s->partner(0), -1);
  EXPECT_EQ(s->partner(1), -1);
}

TEST_F(ShotEvents, AChamberImpactMakesStaleTheSphereAndItsPartnerWithoutCounting) {
  // Pairs (0, 1) and (2, 3) meet at t = 1 and t = 2; every sphere would
  // hit the chamber at t = 0.5, sphere 0 first by its index.
  auto s = shot(kHeadOn + "0 20 0 1 0 0\n5 20 0 -1 0 0\n");
  chamber_.impact_time = 0.5;
  s->detect();
  s->detect(chamber_);
  s->advance(9.81, s->tNext());
  s->collide(chamber_);
  EXPECT_EQ(chamber_.impacts, 1);
  EXPECT_EQ(chamber_.hit, s->r(0));
  EXPECT_EQ(s->collision(), 0);
  EXPECT_EQ(s->stale(), (std::vector<int>{1, 1, 0, 0}));
  EXPECT_DOUBLE_EQ(s->tnext(2), 1.5);
}

TEST_F(ShotEvents, ObliqueCollisionConservesMomentumAndLosesOnlyNormalEnergy) {
  for (double e : {1.0, 0.5}) {
    auto s = shot("0 0 0 1 0.3 -0.2\n2 0.3 0 -0.5 0.1 0.3\n", e);
    s->detect();
    s->detect(chamber_);
    ASSERT_EQ(s->partner(0), 1);
    s->advance(9.81, s->tNext());
    double d[3], w[3], dn = 0.0, wn = 0.0;
    for (int k = 0; k < 3; ++k) {
      d[k] = s->r(0)[k] - s->r(1)[k];
      w[k] = s->v(0)[k] - s->v(1)[k];
      dn += d[k] * d[k];
      wn += d[k] * w[k];
    }
    ASSERT_NEAR(dn, 1.0, 1e-12);
    const double before = kinetic(*s);
    const double px = s->v(0)[0] + s->v(1)[0], py = s->v(0)[1] + s->v(1)[1],
                 pz = s->v(0)[2] + s->v(1)[2];
    s->collide(chamber_);
    EXPECT_NEAR(s->v(0)[0] + s->v(1)[0], px, 1e-12);
    EXPECT_NEAR(s->v(0)[1] + s->v(1)[1], py, 1e-12);
    EXPECT_NEAR(s->v(0)[2] + s->v(1)[2], pz, 1e-12);
    // Energy of the normal relative motion, per unit mass: wn^2 / 4.
    EXPECT_NEAR(before - kinetic(*s), (1.0 - e * e) * wn * wn / 4.0, 1e-12) << e;
  }
}

TEST_F(ShotEvents, FlightForwardThenBackReturnsToTheStartAndShortensPredictions) {
  auto s = shot(kHeadOn + "1 5 2 0.3 -0.2 4\n");
  s->detect();
  s->detect(chamber_);
  const std::vector<double> r0(s->r_chunk(), s->r_chunk() + 9), v0(s->v_chunk(), s->v_chunk() + 9);
  s->advance(9.81, 0.0);
  EXPECT_EQ(std::vector<double>(s->r_chunk(), s->r_chunk() + 9), r0);
  EXPECT_EQ(std::vector<double>(s->v_chunk(), s->v_chunk() + 9), v0);

  s->advance(9.81, 0.37);
  EXPECT_DOUBLE_EQ(s->tNext(), 0.63);
  EXPECT_DOUBLE_EQ(s->tnext(1), 0.63);
  EXPECT_DOUBLE_EQ(s->r(2)[2], 2 + 4 * 0.37 - 0.5 * 9.81 * 0.37 * 0.37);
  s->advance(9.81, -0.37);
  for (int k = 0; k < 9; ++k) {
    EXPECT_NEAR(s->r_chunk()[k], r0[k], 1e-12);
    EXPECT_NEAR(s->v_chunk()[k], v0[k], 1e-12);
  }
}
