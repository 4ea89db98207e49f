// drumsim's way of starting runs: every run, the first included, begins with
// a chamber reset, and a run from a state file reloads it each time.

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "../flavour/experimentScene.h"
#include "testSupport.h"

namespace {

using testing_support::fileExists;
using testing_support::ScopedTempDir;

class ExperimentDrum : public ::testing::Test {
 protected:
  ScopedTempDir dir_;
};

TEST_F(ExperimentDrum, FirstRunStartsWithAChamberReset) {
  Scene scene;
  scene.spheres = 10;
  scene.write();
  World world;
  // The reset wrote the (still empty) histograms of the run before.
  EXPECT_TRUE(fileExists("top.hist"));
  EXPECT_TRUE(fileExists("bot.hist"));
}

TEST_F(ExperimentDrum, EveryRunRestartsFromTheSameStateFile) {
  Scene scene;
  scene.state = "1.5 -2 3 0.25 0 0\n";
  scene.write();
  World world;
  const std::vector<double> r0{1.5, -2.0, 3.0};
  const std::vector<double> v0{0.25, 0.0, 0.0};
  EXPECT_EQ(world.positions(), r0);

  for (int run = 0; run < 2; ++run) {
    world.experiment.makeStep(2.5);
    ASSERT_NE(world.positions(), r0);
    world.experiment.reset();
    EXPECT_EQ(world.positions(), r0) << "reset " << run;
    EXPECT_EQ(world.velocities(), v0) << "reset " << run;
    EXPECT_EQ(world.experiment.eventCount(), 0);
    EXPECT_EQ(world.experiment.tFull(), 0.0);
  }
}

TEST_F(ExperimentDrum, ResetWithoutItsStateFileIsFatal) {
  Scene scene;
  scene.state = restingAt(1.0);
  scene.write();
  World world;
  std::remove("start.state");
  EXPECT_EXIT(world.experiment.reset(), ::testing::ExitedWithCode(1),
              "Error reading start.state\n");
}

}  // namespace
