// The event loop in both programs: steps, batch runs, resets, energy
// conservation and the guard against inelastic collapse.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "experiment.h"
#include "experimentScene.h"
#include "lifecycle.h"
#include "par.h"
#include "shot.h"
#include "testSupport.h"

namespace {

using testing_support::fileExists;
using testing_support::ScopedTempDir;

// Collects what the console shows on standard output while it lives.
class CoutCapture {
 public:
  CoutCapture() : previous_(std::cout.rdbuf(text_.rdbuf())) {}
  ~CoutCapture() { std::cout.rdbuf(previous_); }
  std::string text() const { return text_.str(); }

 private:
  std::ostringstream text_;
  std::streambuf* previous_;
};

class ExperimentTest : public ::testing::Test {
 protected:
  ScopedTempDir dir_;
};

// A sphere dropped from height 1 with gravity 2 onto a base at rest lands
// at time 1 with speed 2 and, fully elastic, bounces every 2 time units.
Scene droppedSphere() {
  Scene scene;
  scene.state = restingAt(1.0);
  return scene;
}

using ExperimentStep = ExperimentTest;

TEST_F(ExperimentStep, EventAtTheEndOfAStepWaitsForTheNextStep) {
  droppedSphere().write();
  World world;
  ASSERT_EQ(world.experiment.tNext(), 1.0);

  world.experiment.makeStep(1.0);
  EXPECT_EQ(world.experiment.eventCount(), 0);
  EXPECT_EQ(world.experiment.tNext(), 0.0);
  EXPECT_EQ(world.shot.tNext(), 0.0);
  EXPECT_EQ(world.experiment.tFull(), 1.0);
  EXPECT_EQ(world.z(), 0.0);  // touching the base, still falling
  EXPECT_EQ(world.vz(), -2.0);

  // The landing opens the next step; the sphere then rises for 0.25.
  world.experiment.makeStep(0.25);
  EXPECT_EQ(world.experiment.eventCount(), 1);
  EXPECT_NEAR(world.z(), 2.0 * 0.25 - 0.25 * 0.25, 1e-12);
  EXPECT_NEAR(world.vz(), 1.5, 1e-12);
  EXPECT_NEAR(world.experiment.tNext(), 2.0 - 0.25, 1e-12);  // flight of 2
}

TEST_F(ExperimentStep, StepSpanningSeveralBouncesCarriesThemOutInOrder) {
  droppedSphere().write();
  World world;
  // Landings at 1, 3 and 5; at 6.5 the sphere is 1.5 into its third flight.
  world.experiment.makeStep(6.5);
  EXPECT_EQ(world.experiment.eventCount(), 3);
  EXPECT_NEAR(world.experiment.tFull(), 6.5, 1e-12);
  EXPECT_NEAR(world.z(), 2.0 * 1.5 - 1.5 * 1.5, 1e-12);
  EXPECT_NEAR(world.vz(), -1.0, 1e-12);
  EXPECT_NEAR(world.experiment.tNext(), 0.5, 1e-12);
  EXPECT_EQ(world.experiment.tNext(), world.shot.tNext());
}

TEST_F(ExperimentStep, ZeroStepLeavesShotAndClockAlone) {
  Scene scene;
  scene.spheres = 20;
  scene.write();
  World world(7);
  world.experiment.makeStep(1.3);
  ASSERT_GE(world.experiment.tNext(), 0.0);
  const std::vector<double> r = world.positions();
  const std::vector<double> v = world.velocities();
  const double t = world.experiment.tFull();
  const int events = world.experiment.eventCount();
  const double tnext = world.experiment.tNext();

  world.experiment.makeStep(0.0);
  EXPECT_EQ(world.positions(), r);
  EXPECT_EQ(world.velocities(), v);
  EXPECT_EQ(world.experiment.tFull(), t);
  EXPECT_EQ(world.experiment.eventCount(), events);
  EXPECT_EQ(world.experiment.tNext(), tnext);
}

TEST_F(ExperimentStep, ImpactPredictedInThePastIsCarriedOutAtOnce) {
  // Just below the base (within the tolerance 0.01) and still sinking: the
  // sphere met the base a moment ago, at a negative time.
  Scene scene;
  scene.state = "0 0 -0.001 0 0 -1\n";
  scene.write();
  World world;
  const double t_impact = (-1.0 + std::sqrt(1.0 - 2.0 * 2.0 * 0.001)) / 2.0;
  ASSERT_NEAR(world.experiment.tNext(), t_impact, 1e-15);
  ASSERT_LT(t_impact, 0.0);

  // Even a zero step goes back to the impact, rebounds from there, and
  // flies forward again to where it started: the clock ends where it was.
  const double s_back = -t_impact;
  world.experiment.makeStep(0.0);
  EXPECT_EQ(world.experiment.eventCount(), 1);
  EXPECT_NEAR(world.experiment.tFull(), 0.0, 1e-15);
  EXPECT_NEAR(world.vz(), 1.0 - 4.0 * s_back, 1e-12);
  EXPECT_NEAR(world.z(), s_back - 3.0 * s_back * s_back, 1e-12);

  world.experiment.makeStep(0.5);
  EXPECT_NEAR(world.experiment.tFull(), 0.5, 1e-12);
  EXPECT_EQ(world.experiment.eventCount(), 1);
}

using ExperimentRun = ExperimentTest;

TEST_F(ExperimentRun, TimeLimitAloneRunsUntilThatTime) {
  Scene scene = droppedSphere();
  scene.tstep = 0.35;
  scene.ncolmax = 0;
  scene.tmax = 4.0;
  scene.write();
  World world;
  CoutCapture console;
  world.experiment.fullRun();
  // Twelve steps of 0.35; the landings at 1 and 3 fall inside.
  EXPECT_NEAR(world.experiment.tFull(), 4.2, 1e-9);
  EXPECT_EQ(world.experiment.eventCount(), 2);
  const std::string expected = std::string("Computing 0 ") + kEventWord +
                               " / 4 cycles...\n2 " + kEventWord + " computed in ";
  EXPECT_EQ(console.text().substr(0, expected.size()), expected);
  EXPECT_EQ(console.text().substr(console.text().size() - 9), " seconds\n");
}

TEST_F(ExperimentRun, EventLimitAloneRunsUntilThatManyEvents) {
  Scene scene = droppedSphere();
  scene.tstep = 0.8;
  scene.ncolmax = 5;
  scene.tmax = 0.0;
  scene.write();
  World world;
  CoutCapture console;
  world.experiment.fullRun();
  // The fifth landing, at 9, falls in the twelfth step, ending at 9.6.
  EXPECT_EQ(world.experiment.eventCount(), 5);
  EXPECT_NEAR(world.experiment.tFull(), 9.6, 1e-9);
  const std::string expected = std::string("Computing 5 ") + kEventWord + " / 0 cycles...\n";
  EXPECT_EQ(console.text().substr(0, expected.size()), expected);
}

TEST_F(ExperimentRun, LimitsAlreadyReachedMakeNoStep) {
  Scene scene = droppedSphere();
  scene.ncolmax = 0;
  scene.tmax = 0.0;
  scene.write();
  World world;
  {
    CoutCapture console;
    world.experiment.fullRun();
    const std::string expected = std::string("Computing 0 ") + kEventWord +
                                 " / 0 cycles...\n0 " + kEventWord + " computed in ";
    EXPECT_EQ(console.text().substr(0, expected.size()), expected);
  }
  EXPECT_EQ(world.experiment.tFull(), 0.0);
  EXPECT_EQ(world.z(), 1.0);

  // A run does not reset: once its limits are met, the next run is empty
  // and reports the counter as it stands.
  world.experiment.makeStep(3.5);
  CoutCapture console;
  world.experiment.fullRun();
  EXPECT_EQ(world.experiment.tFull(), 3.5);
  EXPECT_NE(console.text().find(std::string("\n2 ") + kEventWord + " computed in "),
            std::string::npos);
}

// Lets a given number of steps happen, then asks to stop.
class StepCounter : public RunMonitor {
 public:
  explicit StepCounter(int allowed) : allowed_(allowed) {}
  bool continueRun(const Experiment& experiment) override {
    ++steps_;
    seen_time_ = experiment.tFull();
    return steps_ < allowed_;
  }
  void runEnded(const Experiment&) override { ++ended_; }
  int steps_ = 0;
  int ended_ = 0;
  double seen_time_ = -1.0;

 private:
  int allowed_;
};

TEST_F(ExperimentRun, MonitorIsAskedAfterEveryStepAndCanStopTheRun) {
  Scene scene = droppedSphere();
  scene.tstep = 0.25;
  scene.tmax = 100.0;
  scene.write();
  World world;
  StepCounter monitor(3);
  world.experiment.setMonitor(&monitor);
  CoutCapture console;
  world.experiment.fullRun();
  EXPECT_EQ(monitor.steps_, 3);
  EXPECT_EQ(monitor.ended_, 1);
  EXPECT_EQ(world.experiment.tFull(), 0.75);
  EXPECT_EQ(monitor.seen_time_, 0.75);
  // The run still reports what it computed.
  EXPECT_NE(console.text().find(std::string("0 ") + kEventWord + " computed in "),
            std::string::npos);
}

using ExperimentReset = ExperimentTest;

// With either engine, at random or from a state file: drumsim starts every
// run from the file, cratesim only the first, then at random.
TEST_F(ExperimentReset, ResetStartsAgainFromTimeZeroWithNoEvents) {
  const std::string file = "-2 -2 1 1 0 0\n2 -2 1 0 1 0\n-2 2 1 0 0 1\n2 2 1 1 1 1\n";
  for (Experiment::Engine engine : {Experiment::Engine::kReference, Experiment::Engine::kFast}) {
    for (const std::string& state : {std::string(), file}) {
      const std::string label = std::string(engine == Experiment::Engine::kFast ? "fast" : "reference") +
                                (state.empty() ? ", at random" : ", from the state file");
      Scene scene;
      scene.spheres = state.empty() ? 20 : 4;
      scene.state = state;
      scene.write();
      World world(3, engine);
      world.experiment.makeStep(2.0);
      ASSERT_GT(world.experiment.eventCount(), 0) << label;

      world.experiment.reset();
      EXPECT_EQ(world.experiment.eventCount(), 0) << label;
      EXPECT_EQ(world.experiment.tFull(), 0.0) << label;
      if (engine == Experiment::Engine::kReference) {
        EXPECT_EQ(world.experiment.tNext(), world.shot.tNext()) << label;
        EXPECT_EQ(world.shot.collision(), 0) << label;
      }
      // Every sphere stands inside the chamber again; drumsim's where the
      // file puts it.
      for (int i = 0; i < world.shot.n(); ++i) {
        EXPECT_FALSE(world.chamber.isOutside(world.shot.r_chunk() + 3 * i)) << label << ", sphere " << i;
      }
      if (kDrum && !state.empty()) {
        std::istringstream rows(file);
        std::vector<double> r, v;
        for (int i = 0; i < 4; ++i) {
          double x[6];
          for (double& value : x) rows >> value;
          r.insert(r.end(), x, x + 3);
          v.insert(v.end(), x + 3, x + 6);
        }
        EXPECT_EQ(world.positions(), r) << label;
        EXPECT_EQ(world.velocities(), v) << label;
      }
    }
  }
}

TEST_F(ExperimentReset, UnreadableStateFileIsFatal) {
  const char* const contents[] = {
      nullptr,              // missing
      "0 0 1 0 0 0\n",      // one sphere short
      "0 0 1 zero 0 0\n",   // a word among the numbers
      "0 0 1 0 0 0\n3 0 1 0 0\n"};  // ends inside a sphere
  for (const char* content : contents) {
    Scene scene;
    scene.spheres = 2;
    scene.state = "placeholder";
    scene.write();
    if (content == nullptr) {
      std::remove("start.state");
    } else {
      testing_support::writeFile("start.state", content);
    }
    EXPECT_EXIT(World(), ::testing::ExitedWithCode(1), "Error reading start.state\n")
        << (content ? content : "missing");
  }
}

using ExperimentEnergy = ExperimentTest;

TEST_F(ExperimentEnergy, ElasticShotOverBaseAtRestKeepsItsEnergy) {
  Scene scene;
  scene.spheres = 40;
  scene.eta = 0.3;
  scene.kt = 2.0;
  scene.wall_rebound = 0.0;  // would add speed at the cylinder wall
  scene.tstep = 0.05;
  scene.ncolmax = 100000;
  scene.write();
  World world(11);
  const double before = world.energy();
  CoutCapture console;
  world.experiment.fullRun();
  ASSERT_GE(world.experiment.eventCount(), 100000);
  // Spheres met spheres, not only the walls.
  ASSERT_GT(world.shot.collision(), 1000);
  EXPECT_NEAR(world.energy(), before, 1e-9 * before);
}

using ExperimentCollapse = ExperimentTest;

TEST_F(ExperimentCollapse, GuardCountsOnlyUnbrokenRunsOfStalledEvents) {
  CollapseGuard guard(1e-12, 3);
  EXPECT_FALSE(guard.stalled(0.0));
  EXPECT_FALSE(guard.stalled(-1e-13));  // a tiny step back stalls too
  EXPECT_FALSE(guard.stalled(5e-13));
  EXPECT_TRUE(guard.stalled(0.0));  // the fourth in a row
  guard.clear();
  EXPECT_FALSE(guard.stalled(0.0));
  EXPECT_FALSE(guard.stalled(0.0));
  EXPECT_FALSE(guard.stalled(0.0));
  EXPECT_FALSE(guard.stalled(1e-12));  // time moved on: counting starts again
  EXPECT_FALSE(guard.stalled(0.0));
  EXPECT_FALSE(guard.stalled(-2e-12));
  EXPECT_EQ(guard.count(), 0);
}

// Runs a shot as a program does: objects that the normal exit path
// destroys, and the run phase entered once they are built.
void runAsProgram() {
  static Par par("ini/par.ini");
  static Shot shot("ini/shot.ini");
  static TestChamber chamber(kChamberFile);
  shot.useSeed(5);
  static Experiment experiment(testProgram(), shot, chamber, par);
  lifecycle::beginRun();
  std::cout.setstate(std::ios::failbit);  // quiet
  experiment.fullRun();
  std::exit(0);
}

TEST_F(ExperimentCollapse, SphereComingToRestOnTheBaseEndsTheRunWithItsResults) {
  // Each bounce keeps a tenth of the speed: after a few hundred bounces in
  // about a second the sphere lies on the base and every further impact
  // happens at once.
  Scene scene = droppedSphere();
  scene.restitution = 0.1;
  scene.tstep = 0.02;
  scene.tmax = 1e6;
  scene.write();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EXIT(runAsProgram(), ::testing::ExitedWithCode(1),
              "Inelastic collapse at time 1\\.[0-9]*: sphere 0 .*stronger vibration");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_TRUE(fileExists("state.out"));
}

TEST_F(ExperimentCollapse, InelasticShotOnVibratingBaseIsStopped) {
  Scene scene;
  scene.spheres = 30;
  scene.restitution = 0.1;
  scene.threshold = 1.0;
  scene.amplitude = 0.5;
  scene.tstep = 0.02;
  scene.tmax = 1e6;
  scene.write();
  EXPECT_EXIT(runAsProgram(), ::testing::ExitedWithCode(1), "Inelastic collapse at time ");
  EXPECT_TRUE(fileExists("state.out"));
}

}  // namespace
