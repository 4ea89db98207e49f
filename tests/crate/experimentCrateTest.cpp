// cratesim's way of starting runs: the first run without a chamber reset,
// the state file read once, every later run placed at random.

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "../flavour/experimentScene.h"
#include "testSupport.h"

namespace {

using testing_support::fileExists;
using testing_support::ScopedTempDir;

class ExperimentCrate : public ::testing::Test {
 protected:
  ScopedTempDir dir_;
};

TEST_F(ExperimentCrate, FirstRunStartsWithoutWritingHistograms) {
  Scene scene;
  scene.spheres = 10;
  scene.write();
  World world;
  EXPECT_FALSE(fileExists("top.hist"));
  EXPECT_FALSE(fileExists("bot.hist"));

  // A later reset ends a run, whose histograms it writes.
  world.experiment.reset();
  EXPECT_TRUE(fileExists("top.hist"));
  EXPECT_TRUE(fileExists("bot.hist"));
}

TEST_F(ExperimentCrate, StateFileIsReadOnlyForTheFirstRun) {
  Scene scene;
  scene.state = "1.5 -2 3 0.25 0 0\n";
  scene.write();
  World world;
  EXPECT_EQ(world.positions(), (std::vector<double>{1.5, -2.0, 3.0}));
  EXPECT_EQ(world.velocities(), (std::vector<double>{0.25, 0.0, 0.0}));

  // Later runs need the file no more: the sphere lands at random in the
  // thin starting layer near the base.
  std::remove("start.state");
  world.experiment.makeStep(1.0);
  world.experiment.reset();
  EXPECT_EQ(world.experiment.eventCount(), 0);
  EXPECT_EQ(world.experiment.tFull(), 0.0);
  EXPECT_LT(world.z(), 1.0);
  EXPECT_FALSE(world.chamber.isOutside(world.shot.r_chunk()));
}

}  // namespace
