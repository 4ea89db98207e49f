// The state file: written by the shot when it is destroyed, read back to
// start a later run.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "chamber.h"
#include "shot.h"
#include "testSupport.h"

using testing_support::readFile;
using testing_support::ScopedTempDir;
using testing_support::writeFile;

namespace {

// A wide floor with no walls and no lid.
class Floor : public Chamber {
 public:
  double radius() const override { return 6.0; }
  double gravity() const override { return 1.0; }
  void useSphereDiameter(double) override {}
  double level(double volume) const override { return volume / 144.0; }
  int isInside(const double* r) const override {
    return std::fabs(r[0]) <= 6.0 && std::fabs(r[1]) <= 6.0 && r[2] >= 0.0;
  }
  int isOutside(const double* r) const override { return !isInside(r); }
  void advance(double) override {}
  double detect(const double*, const double*, double best) override { return best; }
  void collide(const double*, double*) override {}
  void reset() override {}
  double baseHeight() const override { return 0.0; }
};

void writeShotIni(int n) {
  writeFile("ini/shot.ini", std::to_string(n) + " 1\n0.3 1 0.2\n0.8 1\n0.001\n");
}

// Reads a state from text without the progress line; true if it read cleanly.
bool readsCleanly(Shot& shot, const std::string& state) {
  std::istringstream is(state);
  testing::internal::CaptureStdout();
  shot.readState(is);
  testing::internal::GetCapturedStdout();
  return !is.fail();
}

}  // namespace

TEST(ShotStateFile, TheFinalStateIsSavedAndStartsTheNextRunAsItWas) {
  ScopedTempDir dir;
  writeShotIni(60);
  Floor floor;
  std::vector<double> r, v;
  {
    Shot first("ini/shot.ini");
    testing::internal::CaptureStdout();
    first.distribute(floor);
    testing::internal::GetCapturedStdout();
    r.assign(first.r_chunk(), first.r_chunk() + 180);
    v.assign(first.v_chunk(), first.v_chunk() + 180);
    testing::internal::CaptureStdout();
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Dumping state vector to file... DONE\n");

  std::istringstream text(readFile("state.out"));
  std::string line;
  int lines = 0;
  while (std::getline(text, line)) {
    std::istringstream fields(line);
    double x;
    int count = 0;
    while (fields >> x) ++count;
    EXPECT_EQ(count, 6) << line;
    ++lines;
  }
  EXPECT_EQ(lines, 60);

  Shot next("ini/shot.ini");
  std::ifstream is("state.out");
  testing::internal::CaptureStdout();
  next.readState(is);
  EXPECT_FALSE(is.fail());
  next.test(floor);  // the tolerance covers the rounding to 6 digits
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Reading state vector from file...\nTesting for overlaps...\n");
  for (int k = 0; k < 180; ++k) {
    EXPECT_NEAR(next.r_chunk()[k], r[k], 5e-6 * std::fabs(r[k]));
    EXPECT_NEAR(next.v_chunk()[k], v[k], 5e-6 * std::fabs(v[k]));
  }
}

TEST(ShotStateFileDeathTest, AStateFileThatCannotBeWrittenIsReported) {
  ScopedTempDir dir;
  writeShotIni(2);
  std::filesystem::create_directory("state.out");
  EXPECT_EXIT(
      {
        Shot shot("ini/shot.ini");
        readsCleanly(shot, "0 0 0 0 0 0\n2 0 0 0 0 0\n");
      },
      testing::ExitedWithCode(1), "Error writing state.out");
}

TEST(ShotStateFileDeathTest, AWriteThatFailsMidwayKeepsTheEarlierFile) {
  ScopedTempDir dir;
  writeShotIni(40);
  writeFile("state.out", "earlier run\n");
  EXPECT_EXIT(
      {
        // Files may grow to 200 bytes only: the state (40 lines) breaks off.
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit;
        limit.rlim_cur = limit.rlim_max = 200;
        setrlimit(RLIMIT_FSIZE, &limit);
        Shot shot("ini/shot.ini");
        std::string state;
        for (int i = 0; i < 40; ++i) state += "1.25 2.5 " + std::to_string(i) + " 0.5 -0.25 0.125\n";
        readsCleanly(shot, state);
      },
      testing::ExitedWithCode(1), "Error writing state.out");
  EXPECT_EQ(readFile("state.out"), "earlier run\n");
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 2);  // ini/ and state.out: no temporary left behind
}
