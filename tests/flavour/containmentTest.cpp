// The containment check: a sphere beyond a surface of the chamber or two
// spheres overlapping, beyond the tolerances, and the end of a run that
// finds one.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "containment.h"
#include "experimentScene.h"
#include "testSupport.h"

namespace {

using testing_support::ScopedTempDir;

// The scene's chamber for spheres of diameter 1: base at rest at 0, top at
// 19, centres up to 4.5 (box) or 5 (cylinder) from the axis along x;
// position tolerance 0.01, overlap tolerance 0.001.
const double kWall = kDrum ? 5.0 : 4.5;
const char* const kWallName = kDrum ? "side wall" : "wall at +x";

std::string sphereAt(double x, double y, double z) {
  std::ostringstream os;
  os.precision(17);
  os << x << " " << y << " " << z << " 0 0 0\n";
  return os.str();
}

TEST(Containment, FindsTheFirstSphereBeyondASurfaceOrElseTheFirstOverlappingPair) {
  struct Case {
    const char* what;
    std::string state;  // four spheres
    int sphere;         // -1: nothing found
    int other;
    const char* surface;  // null for a pair
    double depth;
  };
  const std::string touching = sphereAt(0, 0, 0) + sphereAt(1, 0, 0) + sphereAt(0, 0, 19) +
                               sphereAt(kWall, 0, 5);
  const Case cases[] = {
      {"spheres touching each other, the base, the top and the wall", touching, -1, -1, nullptr, 0},
      {"just within the tolerances: under the base, beyond the wall, a pair",
       sphereAt(0, 0, -0.009) + sphereAt(0.9995, 0, 0) + sphereAt(0, 0, 5) +
           sphereAt(kWall + 0.009, 0, 5),
       -1, -1, nullptr, 0},
      {"under the base", sphereAt(0, 0, 0) + sphereAt(2, 0, -0.02) + sphereAt(0, 0, 5) +
                             sphereAt(0, 2, 5), 1, -1, "base", 0.02},
      {"above the top", sphereAt(0, 0, 0) + sphereAt(2, 0, 0) +
                            sphereAt(0, 0, 19.5) + sphereAt(0, 2, 5), 2, -1, "top", 0.5},
      {"beyond the wall", sphereAt(0, 0, 0) + sphereAt(2, 0, 0) + sphereAt(0, 0, 5) +
                              sphereAt(kWall + 0.3, 0, 5), 3, -1, kWallName, 0.3},
      {"two pairs overlapping: the lower numbers", sphereAt(0, 0, 3) + sphereAt(-2, 0, 0) +
                                                       sphereAt(0, 0, 3.9) + sphereAt(-2, 0, 0.5),
       0, 2, nullptr, 0.1},
      {"outside before overlapping", sphereAt(0, 0, 3) + sphereAt(0, 0, 3.5) +
                                         sphereAt(0, 0, 5) + sphereAt(0, 0, -1),
       3, -1, "base", 1.0},
  };
  ScopedTempDir dir;
  Scene scene;
  scene.spheres = 4;
  scene.write();
  Shot shot("ini/shot.ini");
  TestChamber chamber(kChamberFile);
  shot.set(chamber);
  ContainmentCheck check;
  for (const Case& c : cases) {
    std::istringstream is(c.state);
    shot.readState(is);
    const ContainmentCheck::Breach breach = check.find(shot, chamber);
    EXPECT_EQ(breach.sphere, c.sphere) << c.what;
    EXPECT_EQ(breach.other, c.other) << c.what;
    EXPECT_EQ(breach.surface == nullptr ? std::string("-") : std::string(breach.surface),
              c.surface == nullptr ? std::string("-") : std::string(c.surface))
        << c.what;
    if (c.sphere >= 0) {
      EXPECT_NEAR(breach.depth, c.depth, 1e-12) << c.what;
    }
  }
}

TEST(Containment, ARunThatHasLostASphereEndsNamingItTheTimeAndTheSurface) {
  for (Experiment::Engine engine : {Experiment::Engine::kReference, Experiment::Engine::kFast}) {
    ScopedTempDir dir;
    Scene scene;
    scene.state = restingAt(1.0);
    scene.write();
    World world(1, engine);
    // The sphere put under the base behind the engine's back.
    std::istringstream under("0 0 -0.5 0 0 0\n");
    EXPECT_EXIT(
        {
          world.shot.readState(under);
          world.experiment.makeStep(0.1);
        },
        ::testing::ExitedWithCode(1), "Containment lost at time 0.1: sphere 0 lies 0.5[0-9]* beyond the base");
  }
}

}  // namespace
