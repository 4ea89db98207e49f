// The fast event engine against the reference loop: from the same start,
// event by event on small scenes. (In distribution on whole beds:
// tests/statistics.)

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "eventTrace.h"
#include "experiment.h"
#include "scene.h"
#include "testSupport.h"

namespace {

using Engine = Experiment::Engine;
using testing_support::restingAt;
using testing_support::Scene;
using testing_support::ScopedTempDir;
using testing_support::stateText;
using testing_support::World;

// Keeps the first `limit` events an engine reports.
class Recorder : public EventTrace {
 public:
  explicit Recorder(std::size_t limit) : limit_(limit) {}
  void onEvent(const EventRecord& event) override {
    if (events.size() < limit_) events.push_back(event);
  }
  bool full() const { return events.size() >= limit_; }
  std::vector<EventRecord> events;

 private:
  std::size_t limit_;
};

// The first `count` events of a run of the scene.
std::vector<EventRecord> eventsOf(const Scene& scene, Engine engine, std::size_t count) {
  World world(scene, 1, engine);
  Recorder recorder(count);
  world.experiment.setTrace(&recorder);
  for (int step = 0; step < 100000 && !recorder.full(); ++step) {
    world.experiment.makeStep(world.experiment.tStep());
  }
  return recorder.events;
}

// An event without the order of a pair's spheres: (kind, lower, higher).
std::tuple<int, int, int> identity(const EventRecord& e) {
  if (e.partner < 0) return std::make_tuple(e.kind, e.sphere, -1);
  return std::make_tuple(e.kind, std::min(e.sphere, e.partner), std::max(e.sphere, e.partner));
}

// Index of the first event where the two sequences part: a different event,
// or a time more than tolerance away. Events within tolerance of each other
// in time (both spheres of a symmetric scene reaching the walls together)
// may come in either order. Returns the common length when none parts.
std::size_t firstDifference(const std::vector<EventRecord>& a,
                            const std::vector<EventRecord>& b, double tolerance) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t k = 0;
  while (k < n) {
    std::size_t end = k + 1;
    while (end < n && a[end].time - a[k].time <= tolerance) ++end;
    std::vector<std::tuple<int, int, int>> ia, ib;
    for (std::size_t m = k; m < end; ++m) {
      if (std::fabs(a[m].time - b[m].time) > tolerance) return m;
      ia.push_back(identity(a[m]));
      ib.push_back(identity(b[m]));
    }
    std::sort(ia.begin(), ia.end());
    std::sort(ib.begin(), ib.end());
    if (ia != ib) return k;
    k = end;
  }
  return n;
}

std::string describe(const std::vector<EventRecord>& events, std::size_t k) {
  std::ostringstream os;
  if (k >= events.size()) return "(none)";
  const EventRecord& e = events[k];
  os.precision(15);
  os << "t " << e.time << " kind " << e.kind << " spheres " << e.sphere << " " << e.partner;
  return os.str();
}

class EngineEquivalence : public ::testing::TestWithParam<const Program*> {
 protected:
  // Both engines carry out the same first `count` events of the scene.
  void expectSameEvents(const Scene& scene, std::size_t count) {
    const std::vector<EventRecord> reference = eventsOf(scene, Engine::kReference, count);
    const std::vector<EventRecord> fast = eventsOf(scene, Engine::kFast, count);
    ASSERT_EQ(reference.size(), count);
    ASSERT_EQ(fast.size(), count);
    const std::size_t k = firstDifference(reference, fast, 1e-9);
    EXPECT_EQ(k, count) << "reference: " << describe(reference, k)
                        << "\nfast:      " << describe(fast, k);
  }

  // The same for a chaotic scene (spheres scattering off each other in 3D,
  // bounces on a moving base), where rounding-sized differences grow
  // exponentially and no two computations stay within 1e-9 for long. The
  // reference is run again six times from the start state with one
  // coordinate of sphere 0's position or velocity nudged by 1e-13; these
  // twins part from it after a spread of event counts. The fast engine must
  // keep to the reference for 3/4 of the events the shortest twin keeps to
  // it (its own rounding differs at every event, not once at the start).
  void expectSameChaoticEvents(Scene scene, std::size_t count) {
    const std::vector<EventRecord> reference = eventsOf(scene, Engine::kReference, count);
    const std::vector<EventRecord> fast = eventsOf(scene, Engine::kFast, count);
    ASSERT_EQ(fast.size(), count);
    std::vector<double> r, v;
    {
      World world(scene);
      r = world.positions();
      v = world.velocities();
    }
    std::size_t k_twin = count;
    for (int c = 0; c < 6; ++c) {
      std::vector<double> r_twin = r, v_twin = v;
      (c < 3 ? r_twin[c] : v_twin[c - 3]) += 1e-13;
      scene.state = stateText(r_twin, v_twin);
      const std::vector<EventRecord> twin = eventsOf(scene, Engine::kReference, count);
      ASSERT_EQ(twin.size(), count);
      k_twin = std::min(k_twin, firstDifference(reference, twin, 1e-9));
    }
    const std::size_t k = firstDifference(reference, fast, 1e-9);
    EXPECT_GE(4 * k, 3 * k_twin) << "the shortest twin parts at event " << k_twin
                                 << "\nreference: " << describe(reference, k)
                                 << "\nfast:      " << describe(fast, k);
  }

  ScopedTempDir dir_;
};

// A vibrated base that drives the spheres; surfaces and spheres slightly
// inelastic, with the speed-dependent law above a speed of 1.
Scene shaken(const Program& program) {
  Scene scene(program);
  scene.setRestitution(0.9, 1.0);
  scene.chamber().amplitude = 0.3;
  scene.run.step = 0.05;
  return scene;
}

// A base at rest, elastic below a speed of 1 and inelastic above.
Scene still(const Program& program) {
  Scene scene = shaken(program);
  scene.setRestitution(1.0, 1.0);
  scene.chamber().amplitude = 0.0;
  return scene;
}

// Columns of spheres on the axis and around it, one above the other with
// gaps, moving only vertically: every contact is head-on.
std::string columns(int count, int per_column) {
  std::ostringstream os;
  for (int i = 0; i < count; ++i) {
    const int column = i / per_column;
    const int level = i % per_column;
    os << 1.5 * (column % 3 - 1) << " " << 1.5 * (column / 3 - 1) << " "
       << 0.3 + 1.7 * level + 0.1 * column << " 0 0 " << 0.5 * ((i * 7) % 5 - 2) << "\n";
  }
  return os.str();
}

TEST_P(EngineEquivalence, HeadOnPair) {
  Scene column = still(*GetParam());
  column.shot.count = 2;
  column.state = columns(2, 2);
  expectSameEvents(column, 1000);

  Scene pair = shaken(*GetParam());
  pair.shot.count = 2;
  pair.state = "-2 0 3 1.1 0 0.4\n2 0 3 -0.8 0 0.4\n";
  expectSameChaoticEvents(pair, 1000);
}

TEST_P(EngineEquivalence, SphereBouncingInACorner) {
  // Box: the corner of two walls; cylinder: where the wall meets the base.
  // Fast enough upward to reach the top.
  for (Scene scene : {still(*GetParam()), shaken(*GetParam())}) {
    scene.state = "3.5 3.3 0.5 1.3 0.9 9.5\n";
    if (scene.chamber().amplitude == 0.0) {
      expectSameEvents(scene, 1000);
    } else {
      expectSameChaoticEvents(scene, 1000);
    }
  }
}

TEST_P(EngineEquivalence, ShortRunOfThirtySpheres) {
  Scene stacked = still(*GetParam());
  stacked.shot.count = 30;
  stacked.state = columns(30, 5);
  expectSameEvents(stacked, 1000);

  Scene bed = shaken(*GetParam());
  bed.shot.count = 30;
  bed.shot.packing = 0.1;
  expectSameChaoticEvents(bed, 1000);
}

// Spheres that settle, where rebounds below the least rebound speed are
// raised to it: one on the shaken base, hopping on it once its bounces have
// piled up; a column of five on the base at rest, settling on each other.
TEST_P(EngineEquivalence, SettlingSpheresWhoseReboundsAreRaised) {
  Scene hopping = shaken(*GetParam());
  hopping.setRestitution(0.5, 1e9);
  hopping.state = restingAt(0.3);
  expectSameChaoticEvents(hopping, 1000);

  Scene column = still(*GetParam());
  column.shot.count = 5;
  column.setRestitution(0.3, 1e9);
  column.state = columns(5, 5);
  expectSameChaoticEvents(column, 2000);
}

// A sparse cloud of spheres, three diameters apart, falls onto the base at
// rest and settles there: the fast engine lays wide cells for the cloud and
// lays them anew, narrower, once the spheres crowd on the base.
TEST_P(EngineEquivalence, ACloudOfSpheresSettlingOnTheBase) {
  Scene cloud = still(*GetParam());
  cloud.setRestitution(0.5, 1e9);
  std::ostringstream os;
  for (int z = 0; z < 5; ++z)
    for (int y = -1; y <= 1; ++y)
      for (int x = -1; x <= 1; ++x) os << 3 * x << " " << 3 * y << " " << 0.5 + 3 * z << " 0 0 0\n";
  cloud.shot.count = 45;
  cloud.state = os.str();
  expectSameChaoticEvents(cloud, 3000);
}

INSTANTIATE_TEST_SUITE_P(Programs, EngineEquivalence, testing_support::everyProgram(),
                         testing_support::programName);

}  // namespace
