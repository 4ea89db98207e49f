// The conservation laws and balances of the shot, checked on the
// observables of long runs in both chambers with either engine. Any
// error in free flight, in a collision rule or in the bookkeeping of what
// the surfaces exchange shows up here as a law that does not hold.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "observables.h"
#include "scene.h"
#include "testSupport.h"

namespace {

using testing_support::restingAt;
using testing_support::Scene;
using testing_support::ScopedTempDir;
using testing_support::World;

constexpr double kGravity = 2.0;  // of every scene

Observables observeNow(const World& world) {
  return observe(world.experiment.tFull(), world.experiment.eventCount(), world.shot,
                 *world.chamber);
}

// Kinetic plus potential energy of the whole shot.
double totalEnergy(const Observables& o, int n) { return n * (o.ke + o.pe); }

// Every law holds in both chambers with either event engine.
class Physics
    : public ::testing::TestWithParam<std::tuple<const Program*, Experiment::Engine>> {
 protected:
  const Program& program() const { return *std::get<0>(GetParam()); }
  Experiment::Engine engine() const { return std::get<1>(GetParam()); }
  ScopedTempDir dir_;
};

TEST_P(Physics, ElasticShotOverBaseAtRestKeepsItsEnergyOverAMillionEvents) {
  Scene scene(program());
  scene.shot.count = 30;
  scene.shot.packing = 0.3;
  scene.shot.temperature = 4.0;
  scene.chamber().height = 5.0;     // low enough for the shot to hit the top
  // Least rebound speeds would add speed at the cylinder wall, at the base
  // and to grazing pairs.
  scene.cylinder.wall_rebound = 0.0;
  scene.chamber().base_rebound = 0.0;
  scene.shot.rebound = 0.0;
  // A sphere placed within the tolerance beyond the curved wall would
  // gain or lose energy at its first bounce there.
  scene.chamber().tolerance = 0.0;
  World world(scene, 11, engine());
  const Observables start = observeNow(world);
  const double e0 = totalEnergy(start, scene.shot.count);
  double worst = 0.0;
  Observables now = start;
  while (now.events < 1000000) {
    world.experiment.makeStep(0.5);
    now = observeNow(world);
    worst = std::max(worst, std::fabs(totalEnergy(now, scene.shot.count) - e0));
  }
  EXPECT_LE(worst, 1e-9 * e0);
  // Every kind of event took part, and elastic surfaces exchanged nothing.
  EXPECT_GT(now.collisions, 100000);
  EXPECT_GT(now.base_impacts, 10000);
  EXPECT_GT(now.wall_impacts, 10000);
  EXPECT_GT(now.top_impacts, 10000);
  EXPECT_EQ(now.energy_base, 0.0);
  EXPECT_NEAR(now.energy_wall, 0.0, 1e-9 * e0);  // the curved wall: to rounding
  EXPECT_EQ(now.energy_top, 0.0);
  EXPECT_EQ(now.energy_lost, 0.0);
}

struct Shaking {
  const char* name;
  double restitution;
  double threshold;
  double amplitude;
  double rebound = kNotGiven;  // least rebound speed at the base and between spheres
};

// Between any two rows, for any restitution and vibration:
//   p_z changes by the base and top impulses less the weight n g dt;
//   n (ke + pe) changes by what base, walls and top gave less what the
//     collisions took;
//   in the cylinder, whose surfaces push only along its radii or along its
//     axis, l_z does not change at all.
TEST_P(Physics, MomentumAndEnergyBalancesCloseForAnyRestitutionAndVibration) {
  const Shaking cases[] = {
      {"elastic, strongly shaken", 1.0, 1e9, 1.0},
      {"the shipped restitution law", 0.9, 1.0, 1.0},
      {"more inelastic, softly shaken", 0.75, 0.5, 0.7},
      // Most rebounds at the base and between spheres raised to 0.5: the
      // energy each adds is booked to the base or, negative, to the losses.
      {"rebounds raised to a least rebound speed", 0.75, 0.5, 0.7, 0.5},
  };
  for (const Shaking& shaking : cases) {
    SCOPED_TRACE(shaking.name);
    Scene scene(program());
    scene.shot.count = 80;
    scene.shot.packing = 0.3;
    scene.setRestitution(shaking.restitution, shaking.threshold);
    scene.chamber().amplitude = shaking.amplitude;
    scene.chamber().height = 4.0;
    scene.shot.spin = 0.7;  // a shot turning about the axis: l_z far from zero
    scene.chamber().base_rebound = shaking.rebound;
    scene.shot.rebound = shaking.rebound;
    World world(scene, 5, engine());
    const int n = scene.shot.count;
    Observables before = observeNow(world);
    const double l0 = before.l_z;
    double worst_p = 0.0, worst_e = 0.0, worst_l = 0.0;
    for (int step = 0; step < 600; ++step) {
      world.experiment.makeStep(0.05);
      const Observables after = observeNow(world);
      const double dt = after.t - before.t;
      const double impulse = after.impulse_base - before.impulse_base + after.impulse_top -
                             before.impulse_top;
      worst_p = std::max(worst_p, std::fabs(after.p_z - before.p_z - impulse + n * kGravity * dt));
      const double exchanged = (after.energy_base - before.energy_base) +
                               (after.energy_wall - before.energy_wall) +
                               (after.energy_top - before.energy_top) -
                               (after.energy_lost - before.energy_lost);
      worst_e = std::max(worst_e, std::fabs(totalEnergy(after, n) - totalEnergy(before, n) -
                                            exchanged));
      worst_l = std::max(worst_l, std::fabs(after.l_z - l0));
      before = after;
    }
    // Rounding is measured against the sizes the running totals grew to
    // (before now holds the last row).
    const double scale_p =
        std::fabs(before.impulse_base) + std::fabs(before.impulse_top) + n * kGravity * before.t;
    const double scale_e = std::fabs(before.energy_base) + std::fabs(before.energy_wall) +
                           std::fabs(before.energy_top) + before.energy_lost +
                           totalEnergy(before, n);
    EXPECT_LE(worst_p, 1e-13 * scale_p);
    EXPECT_LE(worst_e, 1e-13 * scale_e);
    if (program().chamber == ChamberKind::kCylinder) {
      EXPECT_LE(worst_l, 1e-12 * std::fabs(l0));
      EXPECT_GT(std::fabs(l0), 10.0);
    }
    // The run was lively: every surface and the collisions took part.
    EXPECT_GT(before.collisions, 1000);
    EXPECT_GT(before.top_impacts, 100);
    EXPECT_GT(before.wall_impacts, 100);
  }
}

TEST_P(Physics, SphereBouncingOnBaseAtRestLosesTheFactorEOfItsSpeedAtEachBounce) {
  for (double e : {0.5, 0.8, 0.95}) {
    SCOPED_TRACE(e);
    Scene scene(program());
    scene.setRestitution(e, 1e9);  // the same e at every speed
    scene.chamber().base_rebound = 0.0;  // the law alone, down to the last bounce
    scene.state = restingAt(1.0);
    World world(scene, 1, engine());
    std::vector<double> speeds;
    double sum = 0.0;
    for (int bounce = 0; bounce < 10; ++bounce) {
      // Up to the impact, which the next step carries out.
      world.experiment.makeStep(world.experiment.tNext());
      ASSERT_NEAR(world.z(), 0.0, 1e-12);
      speeds.push_back(-world.vz());
      sum += speeds.back();
      world.experiment.makeStep(1e-9);
    }
    EXPECT_NEAR(speeds[0], 2.0, 1e-12);  // dropped from height 1 under g = 2
    for (std::size_t k = 1; k < speeds.size(); ++k) {
      EXPECT_NEAR(speeds[k] / speeds[k - 1], e, 1e-9) << "bounce " << k;
    }
    // Each bounce turned the speed v into e v upwards.
    const Observables o = observeNow(world);
    EXPECT_EQ(o.base_impacts, 10);
    EXPECT_NEAR(o.impulse_base, (1.0 + e) * sum, 1e-12);
  }
}

// A sphere dropped onto the rising base (A = 2, P = 8: speed 1, top turn at
// t = 2; g = 2) with restitution 0.5: it first meets the base at
// t0 = (sqrt 2 - 1)/2 with closing speed sqrt 2, and its bounces, each half
// as fast and as long as the last, would pile up by t0 + sqrt 2 = 1.62 (an
// inelastic collapse). It hops instead at the least rebound speed s =
// sqrt(g / 40000), riding the base to its turn within s^2/2g, and flies off
// when the base falls away.
TEST_P(Physics, SphereSettlingOnTheRisingBaseHopsOnItUntilTheBaseTurns) {
  Scene scene(program());
  scene.setRestitution(0.5, 1e9);  // the same e at every speed
  scene.chamber().amplitude = 2.0;
  scene.chamber().period = 8.0;
  scene.state = restingAt(0.25);
  World world(scene, 1, engine());
  const double s = std::sqrt(kGravity / 40000.0);
  while (world.experiment.tFull() < 1.7 - 1e-9) world.experiment.makeStep(0.01);
  const int settled = world.experiment.eventCount();
  double highest = 0.0;
  while (world.experiment.tFull() < 1.99 - 1e-9) {
    world.experiment.makeStep(0.01);
    highest = std::max(highest, world.z() - world.chamber->baseHeight());
    EXPECT_NEAR(world.vz(), 1.0, s + 1e-12) << "t " << world.experiment.tFull();
  }
  EXPECT_LE(highest, s * s / (2.0 * kGravity) + 1e-12);
  // One hop each 2s/g: about 41 in the 0.29 time units.
  const int hops = world.experiment.eventCount() - settled;
  EXPECT_NEAR(hops, 0.29 * kGravity / (2.0 * s), 2.0);
  // From the turn on the base falls away: no more impacts. Half a time unit
  // later the sphere, which left at a speed within s of 1, is at its top,
  // a quarter above the turn, while the base fell to 1.5.
  while (world.experiment.tFull() < 2.0 - 1e-9) world.experiment.makeStep(0.01);
  const int at_turn = world.experiment.eventCount();
  while (world.experiment.tFull() < 2.5 - 1e-9) world.experiment.makeStep(0.01);
  EXPECT_EQ(world.experiment.eventCount(), at_turn);
  EXPECT_NEAR(world.z(), 2.25 + s / 2.0, s);
  EXPECT_NEAR(world.chamber->baseHeight(), 1.5, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    ProgramsAndEngines, Physics,
    ::testing::Combine(testing_support::everyProgram(),
                       ::testing::Values(Experiment::Engine::kReference,
                                         Experiment::Engine::kFast)),
    [](const ::testing::TestParamInfo<Physics::ParamType>& info) {
      return std::string(std::get<0>(info.param)->name) +
             (std::get<1>(info.param) == Experiment::Engine::kFast ? "_fast" : "_reference");
    });

}  // namespace
