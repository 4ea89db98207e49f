#include "profiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// A few spheres sampled at a few moments, and what a bin of their profile
// must then hold.
struct Moment {
  std::vector<double> r, v;  // x y z per sphere, z the lowest point
  double phase;
};

struct ProfileCase {
  const char* scenario;
  ProfileGrid grid;
  std::vector<Moment> moments;
  int phase, ring, height;  // the bin looked at
  int empty;                // a height bin of the same phase and ring that no sphere visits
  double share, density;
  double mean[3], temperature[3];
};

const double kPi = std::acos(-1.0);

ProfileGrid boxGrid(int heights, int phases = 1) {
  ProfileGrid grid;  // floor 4 x 4, bins one diameter high from -1
  grid.z0 = -1.0;
  grid.heights = heights;
  grid.phases = phases;
  grid.area = 16.0;
  return grid;
}

ProfileGrid cylinderGrid() {
  ProfileGrid grid;  // wall radius 3.5, rings of 1 (the last from 3 to the wall)
  grid.z0 = -1.0;
  grid.heights = 2;
  grid.radius = 3.5;
  grid.rings = 4;
  return grid;
}

TEST(Profiles, BinsHoldTheSharesDensitiesMeanFlowAndTemperatureOfTheirSpheres) {
  const ProfileCase cases[] = {
      {"two spheres in one layer flying up and down at 2: no mean flow, temperature 4 along z",
       boxGrid(3), {{{0, 0, 0.2, 1, 1, 0.7}, {0, 0, 2, 0, 0, -2}, 0.0}}, 0, 0, 1, 0,
       1.0, 2.0 / 16.0, {0, 0, 0}, {0, 0, 4}},
      {"a sphere resting on the lowest base and one far above the top count in the end bins",
       boxGrid(4), {{{0, 0, -1.0000001, 0, 0, 1e9}, {0, 0, 0, 0, 0, 0}, 0.0}}, 0, 0, 0, 1,
       0.5, 1.0 / 16.0, {0, 0, 0}, {0, 0, 0}},
      {"a layer full at one moment and empty at the next: half the spheres on average",
       boxGrid(3), {{{0, 0, 0.5}, {0, 0, 1}, 0.0},
                    {{0, 0, 1.5}, {0, 0, 3}, 0.0}}, 0, 0, 1, 0,
       0.5, 1.0 / 32.0, {0, 0, 1}, {0, 0, 0}},
      {"the rising and the falling base sort the samples into their parts of the cycle",
       boxGrid(3, 2), {{{0, 0, 0.5}, {0, 0, 1}, 0.1},
                       {{0, 0, 0.5}, {0, 0, -1}, 0.6}, {{0, 0, 0.5}, {0, 0, -3}, 0.9}}, 1, 0, 1, 0,
       1.0, 1.0 / 16.0, {0, 0, -2}, {0, 0, 1}},
      {"a sphere going round the axis: its flow is azimuthal, not temperature",
       cylinderGrid(), {{{2.5, 0, 0.5}, {0, 1, 0}, 0.0}, {{0, 2.5, 0.5}, {-1, 0, 0}, 0.0},
                        {{-2.5, 0, 0.5}, {0, -1, 0}, 0.0}}, 0, 2, 1, 0,
       1.0, 1.0 / (kPi * (9.0 - 4.0)), {0, 1, 0}, {0, 0, 0}},
      {"a sphere by the wall counts in the last ring, which reaches the wall",
       cylinderGrid(), {{{0, -3.4, 0.5, 0, 0, 0}, {0.5, 0, 0, 0, 0, 0}, 0.0}}, 0, 3, 1, 0,
       0.5, 1.0 / (kPi * (3.5 * 3.5 - 9.0)), {0, 0.5, 0}, {0, 0, 0}},
  };
  for (const ProfileCase& c : cases) {
    ProfileAccumulator profiles(c.grid);
    for (const Moment& m : c.moments) {
      profiles.sample(static_cast<int>(m.r.size() / 3), m.r.data(), m.v.data(), m.phase);
    }
    EXPECT_DOUBLE_EQ(profiles.share(c.phase, c.ring, c.height), c.share) << c.scenario;
    EXPECT_DOUBLE_EQ(profiles.density(c.phase, c.ring, c.height), c.density) << c.scenario;
    for (int a = 0; a < 3; ++a) {
      EXPECT_NEAR(profiles.meanVelocity(c.phase, c.ring, c.height, a), c.mean[a], 1e-12)
          << c.scenario << ", component " << a;
      EXPECT_NEAR(profiles.temperature(c.phase, c.ring, c.height, a), c.temperature[a], 1e-12)
          << c.scenario << ", component " << a;
    }
    // A bin no sphere visited has a share of none and no velocity.
    EXPECT_EQ(profiles.share(c.phase, c.ring, c.empty), 0.0) << c.scenario;
    EXPECT_TRUE(std::isnan(profiles.temperature(c.phase, c.ring, c.empty))) << c.scenario;
  }
}

TEST(Profiles, PhaseOfTheBaseFollowsItsTriangleWave) {
  struct {
    double height;
    int direction;
    double amplitude, phase;
  } const cases[] = {
      {0.0, 1, 1.0, 0.0},  {0.5, 1, 1.0, 0.125},   {1.0, 1, 1.0, 0.25},  {1.0, -1, 1.0, 0.25},
      {0.5, -1, 1.0, 0.375}, {0.0, -1, 1.0, 0.5},  {-1.0, -1, 1.0, 0.75}, {-1.0, 1, 1.0, 0.75},
      {-0.5, 1, 2.0, 0.9375}, {0.3, 1, 0.0, 0.0},  // a base at rest
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(basePhase(c.height, c.direction, c.amplitude), c.phase)
        << "height " << c.height << ", direction " << c.direction;
  }
}

}  // namespace
