// The fast engine keeps the shot's positions and velocities in its own
// records and writes them to the shot only when someone reads them. These
// scenes check that readers always see the present, that reading changes no
// result, and that a state given to the shot is the one that counts.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "experiment.h"
#include "scene.h"
#include "testSupport.h"

namespace {

using Engine = Experiment::Engine;
using testing_support::Scene;
using testing_support::ScopedTempDir;
using testing_support::World;

// Thirty spheres on a shaken base: every step holds events of every kind.
Scene shakenBed(const Program& program) {
  Scene scene(program);
  scene.shot.count = 30;
  scene.shot.packing = 0.1;
  scene.setRestitution(0.9, 1.0);
  scene.chamber().amplitude = 0.3;
  scene.run.step = 0.05;
  return scene;
}

std::vector<double> numbersOf(const std::string& text) {
  std::istringstream is(text);
  std::vector<double> values;
  double x;
  while (is >> x) values.push_back(x);
  return values;
}

// The shot's state as a state file lists it: x y z vx vy vz per sphere.
std::vector<double> stateNumbers(const World& world) {
  const std::vector<double> r = world.positions();
  const std::vector<double> v = world.velocities();
  std::vector<double> numbers;
  for (std::size_t i = 0; i < r.size(); i += 3) {
    numbers.insert(numbers.end(), {r[i], r[i + 1], r[i + 2], v[i], v[i + 1], v[i + 2]});
  }
  return numbers;
}

class FastEngineKeepsTheShot : public ::testing::TestWithParam<const Program*> {
 protected:
  ScopedTempDir dir_;
};

// A run read after every step (positions, velocities and a dump of the
// state) and a run never read end in the same state to the last bit, with
// the same events: reading only copies the present out of the engine.
TEST_P(FastEngineKeepsTheShot, ReadingTheShotDuringARunChangesNoResult) {
  const Scene scene = shakenBed(*GetParam());
  constexpr int kSteps = 400;  // 20 cycles: the origin moves many times
  std::vector<double> read_r, read_v, unread_r, unread_v;
  int read_events = 0, unread_events = 0;
  {
    World world(scene, 7, Engine::kFast);
    for (int step = 0; step < kSteps; ++step) {
      world.experiment.makeStep(world.experiment.tStep());
      ASSERT_EQ(world.positions().size(), 90u);
      std::ostringstream dump;
      world.shot.dumpState(dump);
    }
    read_r = world.positions();
    read_v = world.velocities();
    read_events = world.experiment.eventCount();
  }
  {
    World world(scene, 7, Engine::kFast);
    for (int step = 0; step < kSteps; ++step) world.experiment.makeStep(world.experiment.tStep());
    unread_r = world.positions();
    unread_v = world.velocities();
    unread_events = world.experiment.eventCount();
  }
  EXPECT_GT(read_events, 400);
  EXPECT_EQ(read_events, unread_events);
  EXPECT_EQ(read_r, unread_r);
  EXPECT_EQ(read_v, unread_v);
}

// A lone sphere thrown up in a tall chamber touches nothing for a while:
// read after each step, it stands where free flight puts it, although the
// engine has not moved its record since the throw.
TEST_P(FastEngineKeepsTheShot, ALoneSphereIsReadWhereFreeFlightPutsIt) {
  Scene scene(*GetParam());
  scene.chamber().height = 200.0;
  scene.state = "0.2 -0.4 1 0.3 -0.1 12\n";
  scene.run.step = 0.1;
  World world(scene, 1, Engine::kFast);
  const double g = 2.0;  // the scene's gravity
  for (int step = 1; step <= 40; ++step) {
    world.experiment.makeStep(0.1);
    const double t = world.experiment.tFull();
    const std::vector<double> r = world.positions();
    const std::vector<double> v = world.velocities();
    ASSERT_NEAR(r[0], 0.2 + 0.3 * t, 1e-12) << "at t " << t;
    ASSERT_NEAR(r[1], -0.4 - 0.1 * t, 1e-12);
    ASSERT_NEAR(r[2], 1.0 + 12.0 * t - 0.5 * g * t * t, 1e-11);
    ASSERT_NEAR(v[2], 12.0 - g * t, 1e-12);
  }
  EXPECT_EQ(world.experiment.eventCount(), 0);
}

// A state read into the shot after a run is what the shot holds from then
// on; the engine's records of the earlier run do not come back over it.
TEST_P(FastEngineKeepsTheShot, AStateGivenToTheShotIsNotOverwrittenByTheEngine) {
  World world(shakenBed(*GetParam()), 7, Engine::kFast);
  for (int step = 0; step < 40; ++step) world.experiment.makeStep(world.experiment.tStep());
  std::ostringstream os;
  os.precision(17);
  for (int i = 0; i < 30; ++i) {
    os << 0.1 * i - 1.5 << " " << 0.05 * i << " " << 1.0 + 0.1 * i << " 0.5 -0.5 " << 0.01 * i
       << "\n";
  }
  std::istringstream is(os.str());
  world.shot.readState(is);
  ASSERT_FALSE(is.fail());
  EXPECT_EQ(stateNumbers(world), numbersOf(os.str()));
}

// The experiment goes before the shot, as in the programs: the state file
// the shot writes as it goes holds the spheres at the end of the last step,
// though nobody read them after it.
TEST_P(FastEngineKeepsTheShot, TheStateFileHoldsTheSpheresAtTheEndOfTheRun) {
  const Scene scene = shakenBed(*GetParam());
  std::vector<double> expected;
  {
    World world(scene, 7, Engine::kFast);
    for (int step = 0; step < 100; ++step) world.experiment.makeStep(world.experiment.tStep());
    expected = stateNumbers(world);
  }
  {
    World world(scene, 7, Engine::kFast);
    for (int step = 0; step < 100; ++step) world.experiment.makeStep(world.experiment.tStep());
  }
  // The file holds six significant digits.
  const std::vector<double> written = numbersOf(testing_support::readFile("state.out"));
  ASSERT_EQ(written.size(), expected.size());
  for (std::size_t k = 0; k < written.size(); ++k) {
    EXPECT_NEAR(written[k], expected[k], 1e-5 * (1.0 + std::fabs(expected[k]))) << "value " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, FastEngineKeepsTheShot, testing_support::everyProgram(),
                         testing_support::programName);

}  // namespace
