// The box chamber's own behaviour: its four walls (prediction and response),
// its containment test and geometry, a box too small for its spheres, and
// the records of top and base impacts over construction, reset and
// destruction.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "box.h"
#include "testSupport.h"

using testing_support::fileExists;
using testing_support::readFile;
using testing_support::ScopedTempDir;
using testing_support::writeFile;

namespace {

const double kBig = 1e9;

// By default a box 11 x 11 wide (centres of spheres of diameter 1 within
// |x|, |y| <= 5), without top, on a base at rest at height 0, under g = 10.
// Every surface has e = 0.9 up to the threshold speed 1.
struct BoxSetup {
  double xsize0 = 5.5, ysize0 = 5.5, height0 = 0.0;
  double amplitude = 0.0, period = 1.0;
  double gravity = 10.0;
  double v_base = 1.0, v_wall = 1.0, v_top = 1.0;
  double base_z = 0.0;
  int maps = 0;
  int xcells = 2, ycells = 2;
};

std::string boxFile(const BoxSetup& s) {
  std::ostringstream os;
  os.precision(17);
  os << s.xsize0 << " " << s.ysize0 << " " << s.height0 << "\n"
     << s.amplitude << " " << s.period << "\n"
     << s.gravity << "\n"
     << "0.9 " << s.v_base << "\n"
     << "0.9 " << s.v_wall << "\n"
     << "0.9 " << s.v_top << "\n"
     << "0.001\n"
     << s.base_z << " 1\n"
     << s.maps << "\n"
     << s.xcells << " " << s.ycells << "\n";
  return os.str();
}

std::vector<std::string> directoryEntries() {
  std::vector<std::string> out;
  for (const auto& entry : std::filesystem::directory_iterator("."))
    out.push_back(entry.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

class BoxTest : public ::testing::Test {
 protected:
  Box& make(const BoxSetup& s, double diam = 1.0) {
    writeFile("ini/box.ini", boxFile(s));
    box_.reset(new Box("ini/box.ini"));
    box_->useSphereDiameter(diam);
    return *box_;
  }
  ScopedTempDir dir_;
  std::unique_ptr<Box> box_;  // destroyed first: its files land in dir_
};

// ------------------------------------------------------------------ walls

// Spheres high above the floor (the base is 14 time units away), so that the
// walls are met first.
TEST_F(BoxTest, EachWallIsMetAfterItsStraightLineTimeAndReversesOnlyItsOwnComponent) {
  Box& box = make(BoxSetup{});
  struct Case {
    double x, y, vx, vy;
    double time;
    int axis;             // the velocity component the wall reverses
    double after;         // its value after the impact
  };
  const double fast = 1.8 * std::sqrt(2.0);  // e(4) 4 = 0.9 4^(-1/4) 4
  const Case cases[] = {
      {0, 0, 4, 0.3, 1.25, 0, -fast},   // from the centre along +x: xsize/s
      {1, 0, -4, 0.3, 1.5, 0, fast},    // towards -x, fast: e from |vx|
      {0, 4, 0.2, 0.5, 2.0, 1, -0.45},  // slow, towards +y: e = 0.9
      {0, 2, 0.2, -4, 1.75, 1, fast},   // towards -y, fast
  };
  int walls = 0;
  for (const Case& c : cases) {
    const double r[3] = {c.x, c.y, 1000};
    double v[3] = {c.vx, c.vy, -2.0};
    EXPECT_DOUBLE_EQ(box.detect(r, v, kBig), c.time) << "from " << c.x << "," << c.y;
    const double before[3] = {v[0], v[1], v[2]};
    const double at_wall[3] = {c.x + c.vx * c.time, c.y + c.vy * c.time, 990};
    box.collide(at_wall, v);
    EXPECT_EQ(box.wallImpacts(), ++walls);
    for (int k = 0; k < 3; ++k) {
      if (k == c.axis) {
        EXPECT_NEAR(v[k], c.after, 1e-12);
      } else {
        EXPECT_EQ(v[k], before[k]);
      }
    }
  }
  EXPECT_EQ(box.baseImpacts(), 0);
  EXPECT_EQ(box.topImpacts(), 0);

  // A sphere of diameter 2 has its centre stopped half a unit sooner.
  Box& bigger = make(BoxSetup{}, 2.0);
  const double r[3] = {0, 0, 1000};
  const double v[3] = {4, 0, 0};
  EXPECT_DOUBLE_EQ(bigger.detect(r, v, kBig), 4.5 / 4);
}

TEST_F(BoxTest, MotionParallelToBothWallPairsMeetsOnlyTheFloor) {
  Box& box = make(BoxSetup{});
  // Off-centre, so that a division by a zero velocity would give an
  // infinite time of either sign. Dropped from 5 under g = 10: 1 to the floor.
  const double r[3] = {3, -4, 5};
  for (double vx : {0.0, -0.0}) {
    for (double vy : {0.0, -0.0}) {
      double v[3] = {vx, vy, 0};
      EXPECT_EQ(box.detect(r, v, kBig), 1.0);
      v[2] = -10.0;  // the speed it lands with
      const double landed[3] = {3, -4, 0};
      box.collide(landed, v);
      EXPECT_GT(v[2], 0.0);
    }
  }
  EXPECT_EQ(box.wallImpacts(), 0);
  EXPECT_EQ(box.baseImpacts(), 4);
}

TEST_F(BoxTest, AtEqualTimesTheXWallWinsAndAStrictlyEarlierYWallTakesOver) {
  Box& box = make(BoxSetup{});
  const double r[3] = {0, 0, 1000};
  double v[3] = {0.5, -0.5, 0};  // towards the corner (5, -5), both walls after 10
  EXPECT_EQ(box.detect(r, v, kBig), 10.0);
  const double corner[3] = {5, -5, 500};
  box.collide(corner, v);
  EXPECT_DOUBLE_EQ(v[0], -0.45);
  EXPECT_EQ(v[1], -0.5);

  double w[3] = {0.5, -0.501, 0};
  EXPECT_DOUBLE_EQ(box.detect(r, w, kBig), 5.0 / 0.501);
  box.collide(corner, w);
  EXPECT_EQ(w[0], 0.5);
  EXPECT_DOUBLE_EQ(w[1], 0.9 * 0.501);
}

TEST_F(BoxTest, ASphereBeyondAWallStillMovingOutIsCalledBackAtOnce) {
  Box& box = make(BoxSetup{});
  const double beyond_x[3] = {5.01, 0, 1000};
  double v[3] = {0.5, 0, 0};
  EXPECT_NEAR(box.detect(beyond_x, v, kBig), -0.02, 1e-14);
  box.collide(beyond_x, v);
  EXPECT_DOUBLE_EQ(v[0], -0.45);

  // Now moving back in: the far wall, not a negative time.
  const double back[3] = {-2, 0, 0};
  EXPECT_NEAR(box.detect(beyond_x, back, kBig), 5.005, 1e-12);

  const double beyond_y[3] = {0, -5.2, 1000};
  double w[3] = {0, -1, 0};
  EXPECT_NEAR(box.detect(beyond_y, w, kBig), -0.2, 1e-14);
  box.collide(beyond_y, w);
  EXPECT_DOUBLE_EQ(w[1], 0.9);
  EXPECT_EQ(box.wallImpacts(), 2);
}

// ------------------------------------------------------ containment, size

TEST_F(BoxTest, ContainmentHasNoToleranceAtTheWallsButRTolAtBaseAndTop) {
  BoxSetup s;
  s.xsize0 = 5.5;  // centres within |x| <= 5
  s.ysize0 = 3.5;  // |y| <= 3
  s.height0 = 10;  // lowest points up to 9
  s.amplitude = 0.5;
  s.base_z = 0.2;  // rising at speed 2
  Box& box = make(s);
  const double above_base = 0.2 - 0.001;
  const double below_top = 9.0 + 0.001;
  const double inside[][3] = {
      {5, -3, 1}, {-5, 3, 1}, {0, 0, above_base}, {0, 0, below_top}};
  const double outside[][3] = {{std::nextafter(5.0, 6.0), 0, 1},
                               {-5.0005, 0, 1},  // within r_tol, still out
                               {0, std::nextafter(3.0, 4.0), 1},
                               {0, -3.0005, 1},
                               {0, 0, std::nextafter(above_base, -1.0)},
                               {0, 0, std::nextafter(below_top, 10.0)}};
  for (const auto& r : inside) {
    EXPECT_EQ(box.isInside(r), 1) << r[0] << " " << r[1] << " " << r[2];
    EXPECT_EQ(box.isOutside(r), 0);
  }
  for (const auto& r : outside) {
    EXPECT_EQ(box.isInside(r), 0) << r[0] << " " << r[1] << " " << r[2];
    EXPECT_EQ(box.isOutside(r), 1);
  }
  // The lower limit rides with the base: 0.1 later it stands at 0.4.
  box.advance(0.1);
  EXPECT_EQ(box.isInside(inside[2]), 0);
  const double on_base[3] = {0, 0, 0.4};
  EXPECT_EQ(box.isInside(on_base), 1);
}

TEST_F(BoxTest, LevelSpreadsOverTheWholeFloorAndRadiusIsTheReachableHalfDiagonal) {
  BoxSetup s;
  s.xsize0 = 3.5;
  s.ysize0 = 4.5;
  Box& box = make(s);
  EXPECT_DOUBLE_EQ(box.radius(), 5.0);  // 3-4-5
  EXPECT_DOUBLE_EQ(box.level(4 * 3.5 * 4.5 * 2.5), 2.5);
}

using BoxDeathTest = BoxTest;

TEST_F(BoxDeathTest, ABoxNarrowerThanOneSphereIsRefusedOnceTheDiameterIsKnown) {
  auto refused = [](const BoxSetup& s) {
    writeFile("ini/box.ini", boxFile(s));
    EXPECT_EXIT(
        {
          Box box("ini/box.ini");
          box.useSphereDiameter(1.0);
        },
        ::testing::ExitedWithCode(1), "^Error reading ini/box.ini\n$");
  };
  BoxSetup s;
  s.xsize0 = 0.5;  // exactly one sphere wide: no room for a centre
  refused(s);
  s = BoxSetup{};
  s.ysize0 = 0.4;
  refused(s);

  s = BoxSetup{};
  s.xsize0 = 0.75;  // a quarter of a diameter of play
  Box& narrow = make(s);
  const double r[3] = {-0.25, 0, 1};
  EXPECT_EQ(narrow.isInside(r), 1);
}

TEST_F(BoxDeathTest, ZeroThresholdSpeedsAndEmptyGridsAreReadErrors) {
  auto refused = [](const BoxSetup& s) {
    writeFile("ini/box.ini", boxFile(s));
    EXPECT_EXIT(Box box("ini/box.ini"), ::testing::ExitedWithCode(1),
                "^Error reading ini/box.ini\n$");
  };
  BoxSetup s;
  s.v_base = 0.0;
  refused(s);
  s = BoxSetup{};
  s.v_top = 0.0;
  refused(s);
  s = BoxSetup{};
  s.xcells = 0;
  refused(s);
  s = BoxSetup{};
  s.ycells = 0;
  refused(s);
  s = BoxSetup{};
  s.xsize0 = -5.5;
  refused(s);
}

// ---------------------------------------------------------------- records

// A box 3 x 3 wide for spheres of diameter 1 (centres within |x|, |y| <= 1),
// lid at 9, 2 x 2 histogram cells centred at x, y = -0.5 and 0.5.
class BoxRecords : public BoxTest {
 protected:
  static BoxSetup setup(int maps) {
    BoxSetup s;
    s.xsize0 = 1.5;
    s.ysize0 = 1.5;
    s.height0 = 10;
    s.maps = maps;
    return s;
  }
  // A sphere rising at speed 1 just below the lid.
  void hitTop(double x, double y) {
    const double r[3] = {x, y, 8.99};
    double v[3] = {0, 0, 1};
    box_->detect(r, v, kBig);
    const double at_top[3] = {x, y, 9};
    box_->collide(at_top, v);
  }
  // A sphere falling at speed 1 just above the floor.
  void hitBase(double x, double y) {
    const double r[3] = {x, y, 0.01};
    double v[3] = {0, 0, -1};
    box_->detect(r, v, kBig);
    const double at_base[3] = {x, y, 0};
    box_->collide(at_base, v);
  }
  // A sphere flying up and out against the wall x = -1, in the cell
  // (-0.5, -0.5) of both grids had it been recorded.
  void hitWall() {
    const double r[3] = {-0.99, -0.5, 4};
    double v[3] = {-1, 0, 3};
    box_->detect(r, v, kBig);
    const double at_wall[3] = {-1, -0.5, 4};
    box_->collide(at_wall, v);
  }
};

using Rows = std::vector<std::vector<double>>;

// The numbers of a grid file line by line (an empty line gives an empty
// row). Zero cells of the base come out as -0, being scaled by the negative
// sum of the base's pressure; as numbers they equal 0.
Rows gridFile(const std::string& name) {
  Rows out;
  std::istringstream is(readFile(name));
  for (std::string line; std::getline(is, line);) {
    std::istringstream fields(line);
    out.emplace_back();
    for (double value; fields >> value;) out.back().push_back(value);
  }
  return out;
}

// The grid file of a 2 x 2 histogram holding one impact, in the cell centred
// at (x, y): that cell holds four times the mean of each quantity.
Rows singleImpactGrid(double x, double y) {
  Rows out;
  for (double cx : {-0.5, 0.5}) {
    for (double cy : {-0.5, 0.5}) {
      const double q = cx == x && cy == y ? 4.0 : 0.0;
      out.push_back({cx, cy, q, q, q});
    }
    out.emplace_back();
  }
  return out;
}

TEST_F(BoxRecords, MapsAndHistogramsFollowTheRunsAndTheEndOfTheProgram) {
  writeFile("ini/box.ini", boxFile(setup(1)));
  box_.reset(new Box("ini/box.ini"));
  EXPECT_TRUE(fileExists("top.map"));
  EXPECT_TRUE(fileExists("bot.map"));
  EXPECT_EQ(readFile("top.map"), "");
  EXPECT_EQ(readFile("bot.map"), "");
  EXPECT_FALSE(fileExists("top.hist"));  // no reset at cratesim's start-up
  box_->useSphereDiameter(1.0);

  hitTop(0.5, -0.25);
  EXPECT_EQ(readFile("top.map"), "0.5 -0.25\n");
  hitBase(-0.5, 0.75);
  hitWall();
  EXPECT_EQ(box_->topImpacts(), 1);
  EXPECT_EQ(box_->baseImpacts(), 1);
  EXPECT_EQ(box_->wallImpacts(), 1);
  EXPECT_EQ(readFile("top.map"), "0.5 -0.25\n");
  EXPECT_EQ(readFile("bot.map"), "-0.5 0.75\n");

  box_->reset();
  EXPECT_EQ(box_->topImpacts() + box_->baseImpacts() + box_->wallImpacts(), 0);
  EXPECT_EQ(readFile("top.map"), "");
  EXPECT_EQ(readFile("bot.map"), "");
  EXPECT_EQ(gridFile("top.hist"), singleImpactGrid(0.5, -0.5));
  EXPECT_EQ(gridFile("bot.hist"), singleImpactGrid(-0.5, 0.5));

  // The next run, ended by the end of the program.
  box_->useSphereDiameter(1.0);
  hitTop(-0.25, 0.5);
  hitBase(0.75, 0.25);
  EXPECT_EQ(readFile("top.map"), "-0.25 0.5\n");
  box_.reset();
  EXPECT_EQ(gridFile("top.hist"), singleImpactGrid(-0.5, 0.5));
  EXPECT_EQ(gridFile("bot.hist"), singleImpactGrid(0.5, 0.5));
  EXPECT_FALSE(readFile("top.zone").empty());
  // No zone file of the base, and no temporary file left behind.
  EXPECT_EQ(directoryEntries(),
            (std::vector<std::string>{"bot.hist", "bot.map", "ini", "top.hist",
                                      "top.map", "top.zone"}));
}

TEST_F(BoxRecords, WithMapsOffNoMapFileIsCreatedOrEmptied) {
  writeFile("top.map", "an earlier run\n");
  writeFile("ini/box.ini", boxFile(setup(0)));
  box_.reset(new Box("ini/box.ini"));
  box_->useSphereDiameter(1.0);
  hitTop(0.5, -0.25);
  hitBase(-0.5, 0.75);
  box_->reset();
  EXPECT_EQ(gridFile("top.hist"), singleImpactGrid(0.5, -0.5));
  box_.reset();
  EXPECT_EQ(readFile("top.map"), "an earlier run\n");
  EXPECT_FALSE(fileExists("bot.map"));
}

}  // namespace
