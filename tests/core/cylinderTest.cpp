// The cylinder chamber's own behaviour: the circular side wall (prediction,
// the report of a sphere found outside it, the response with its minimum
// rebound speed), containment and geometry, the refusal of unusable
// parameter files, and the impact maps and ring histograms over start-up,
// reset and shut-down.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cylinder.h"
#include "testSupport.h"

using testing_support::fileExists;
using testing_support::readFile;
using testing_support::ScopedTempDir;
using testing_support::writeFile;

namespace {

const double kBig = 1e9;
const double kPi = 3.141592653589793;

// By default a cylinder of radius 5.5 (centres of spheres of diameter 1 up to
// 5 from the axis), without top, on a base at rest at height 0, under g = 10.
// Every surface has e = 0.9 up to the threshold speed 1; spheres leave the
// wall at 0.05 at least.
struct CylSetup {
  double radius0 = 5.5, height0 = 0.0;
  double amplitude = 0.0, period = 1.0;
  double gravity = 10.0;
  double v_base = 1.0, v_wall = 1.0, v_top = 1.0;
  double vr_min = 0.05;
  double base_z = 0.0;
  int maps = 0;
  int cells = 2;
};

std::string cylFile(const CylSetup& s) {
  std::ostringstream os;
  os.precision(17);
  os << s.radius0 << " " << s.height0 << "\n"
     << s.amplitude << " " << s.period << "\n"
     << s.gravity << "\n"
     << "0.9 " << s.v_base << "\n"
     << "0.9 " << s.v_wall << "\n"
     << "0.9 " << s.v_top << "\n"
     << s.vr_min << "\n"
     << "0.001\n"
     << s.base_z << " 1\n"
     << s.maps << "\n"
     << s.cells << "\n";
  return os.str();
}

std::vector<std::string> directoryEntries() {
  std::vector<std::string> out;
  for (const auto& entry : std::filesystem::directory_iterator("."))
    out.push_back(entry.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

class CylinderTest : public ::testing::Test {
 protected:
  Cylinder& make(const CylSetup& s, double diam = 1.0) {
    build(s);
    cyl_->useSphereDiameter(diam);
    return *cyl_;
  }
  void build(const CylSetup& s) {
    writeFile("ini/cyl.ini", cylFile(s));
    cyl_.reset(new Cylinder("ini/cyl.ini"));
  }
  // The shut-down line is checked where it matters, kept off the log here.
  void TearDown() override {
    ::testing::internal::CaptureStdout();
    cyl_.reset();
    ::testing::internal::GetCapturedStdout();
  }
  ScopedTempDir dir_;
  std::unique_ptr<Cylinder> cyl_;  // destroyed first: its files land in dir_
};

// -------------------------------------------------------------- side wall

// Spheres high above the floor (the base is 14 time units away), so that the
// wall is met first.
TEST_F(CylinderTest, FromTheAxisTheWallIsReachedAfterRadiusOverSpeed) {
  Cylinder& cyl = make(CylSetup{});
  const double axis[3] = {0, 0, 1000};
  double v1[3] = {3, 4, 0};
  // An event already due at that very time keeps its place.
  EXPECT_EQ(cyl.detect(axis, v1, 1.0), 1.0);
  cyl.collide(axis, v1);
  EXPECT_EQ(cyl.wallImpacts(), 0);
  EXPECT_DOUBLE_EQ(cyl.detect(axis, v1, kBig), 1.0);
  const double v2[3] = {-1, 2, 7};
  EXPECT_DOUBLE_EQ(cyl.detect(axis, v2, kBig), std::sqrt(5.0));

  Cylinder& bigger = make(CylSetup{}, 2.0);  // centres up to 4.5 out
  EXPECT_DOUBLE_EQ(bigger.detect(axis, v1, kBig), 0.9);
}

TEST_F(CylinderTest, FromAnywhereInsideTheWallTimeLandsOnTheCircleGoingOut) {
  Cylinder& cyl = make(CylSetup{});
  std::mt19937 gen(2024);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int i = 0; i < 2000; ++i) {
    const double rho = 5.0 * std::sqrt(0.5 * (u(gen) + 1.0));
    const double phi = kPi * u(gen);
    const double r[3] = {rho * std::cos(phi), rho * std::sin(phi), 1000};
    const double v[3] = {5 * u(gen), 5 * u(gen), 0};
    if (std::hypot(v[0], v[1]) < 1.0) continue;  // keeps the wall before the floor
    const double t = cyl.detect(r, v, kBig);
    ASSERT_GE(t, 0.0);
    const double x = r[0] + v[0] * t;
    const double y = r[1] + v[1] * t;
    ASSERT_NEAR(std::hypot(x, y), 5.0, 1e-9) << "from " << r[0] << "," << r[1];
    ASSERT_GE(x * v[0] + y * v[1], 0.0);  // the outward crossing
  }
}

TEST_F(CylinderTest, OnTheWallMovingOutIsNowAndMovingInCrossesToTheFarSide) {
  Cylinder& cyl = make(CylSetup{});
  const double on_wall[3] = {3, 4, 1000};
  const double out[3] = {1, 0.5, 0};
  EXPECT_EQ(cyl.detect(on_wall, out, kBig), 0.0);
  const double grazing[3] = {-4, 3, 0};
  EXPECT_EQ(cyl.detect(on_wall, grazing, kBig), 0.0);
  // b = -5 and |v|^2 = 1.25: across to (-5, 0) after 2|b|/|v|^2 = 8; along
  // -x at speed 2, across to (-3, 4) after 3.
  const double in[3] = {-1, -0.5, 0};
  EXPECT_DOUBLE_EQ(cyl.detect(on_wall, in, kBig), 8.0);
  const double chord[3] = {-2, 0, 0};
  EXPECT_DOUBLE_EQ(cyl.detect(on_wall, chord, kBig), 3.0);
}

TEST_F(CylinderTest, PurelyVerticalMotionMeetsOnlyTheFloor) {
  Cylinder& cyl = make(CylSetup{});
  // Dropped from 5 under g = 10: 1 to the floor, off the axis and on it.
  for (double x : {0.0, 1.0}) {
    const double r[3] = {x, 2 * x, 5};
    double v[3] = {0, 0, 0};
    EXPECT_EQ(cyl.detect(r, v, 0.5), 0.5);
    EXPECT_EQ(cyl.detect(r, v, kBig), 1.0);
    v[2] = -10;
    const double landed[3] = {x, 2 * x, 0};
    cyl.collide(landed, v);
    EXPECT_GT(v[2], 0.0);
  }
  EXPECT_EQ(cyl.wallImpacts(), 0);
  EXPECT_EQ(cyl.baseImpacts(), 2);
}

TEST_F(CylinderTest, ASphereFoundOutsideTheWallIsReportedEachTimeAndTakenAsOnIt) {
  Cylinder& cyl = make(CylSetup{});
  // Within about r_tol beyond the wall (x^2 + y^2 = 25.009 < 25 + 2 * 0.001 * 5):
  // nothing said, and moving out it is at the wall now.
  const double just_beyond[3] = {5.0009, 0, 1000};
  const double out[3] = {1, 0, 0};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(cyl.detect(just_beyond, out, kBig), 0.0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

  const double beyond[3] = {-4, 3.01, 1000};
  const double in[3] = {0.5, -2, 0};
  const std::string report =
      "particle at (x,y)=(-4,3.01) with velocity (vx,vy)=(0.5,-2)\n"
      "has (x^2+y^2=25.0601)>(R^2=25) i.e. is outside the cylinder wall\n";
  ::testing::internal::CaptureStdout();
  const double t = cyl.detect(beyond, in, kBig);
  cyl.detect(beyond, in, kBig);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), report + report);
  // Moving in, as from the wall: b = -8.02, |v|^2 = 4.25.
  EXPECT_NEAR(t, 2 * 8.02 / 4.25, 1e-12);
}

TEST_F(CylinderTest, TheWallReversesTheRadialVelocityButNeverBelowTheMinimumSpeed) {
  Cylinder& cyl = make(CylSetup{});
  // Barely moving out: 0.9 * 0.01 < 0.05, so back in at exactly 0.05.
  const double at_x[3] = {5, 0, 1000};
  double v[3] = {0.01, 0.3, 0.7};
  EXPECT_EQ(cyl.detect(at_x, v, kBig), 0.0);
  cyl.collide(at_x, v);
  EXPECT_NEAR(v[0], -0.05, 1e-15);
  EXPECT_EQ(v[1], 0.3);
  EXPECT_EQ(v[2], 0.7);
  EXPECT_EQ(cyl.wallImpacts(), 1);

  // Grazing the wall at (3, 4) along it: pushed in at 0.05, still gliding at 5.
  const double at_34[3] = {3, 4, 1000};
  double w[3] = {-4, 3, 0};
  EXPECT_EQ(cyl.detect(at_34, w, kBig), 0.0);
  cyl.collide(at_34, w);
  EXPECT_NEAR((3 * w[0] + 4 * w[1]) / 5, -0.05, 1e-15);
  EXPECT_NEAR((-4 * w[0] + 3 * w[1]) / 5, 5.0, 1e-14);
}

TEST_F(CylinderTest, AWallImpactKeepsAngularMomentumAboutTheAxisAndTheVerticalVelocity) {
  Cylinder& cyl = make(CylSetup{});
  std::mt19937 gen(99);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (double vr : {0.01, 0.05, 0.5, 1.0, 3.0, 40.0}) {
    for (int i = 0; i < 50; ++i) {
      const double phi = kPi * u(gen);
      const double c = std::cos(phi), s = std::sin(phi);
      const double r[3] = {5 * c, 5 * s, 1000};
      const double vt = 5 * u(gen);
      double v[3] = {vr * c - vt * s, vr * s + vt * c, 5 * u(gen)};
      const double vz = v[2];
      const double angular = r[0] * v[1] - r[1] * v[0];
      cyl.detect(r, v, kBig);
      cyl.collide(r, v);
      // Restitution 0.9 up to speed 1, 0.9 (vr)^(-1/4) above; at least 0.05.
      const double e = vr < 1.0 ? 0.9 : 0.9 * std::pow(vr, -0.25);
      const double expected = -std::max(e * vr, 0.05);
      ASSERT_NEAR(c * v[0] + s * v[1], expected, 1e-12 * (1 + vr)) << "vr " << vr;
      ASSERT_NEAR(r[0] * v[1] - r[1] * v[0], angular, 1e-12 * (1 + std::fabs(angular)));
      ASSERT_EQ(v[2], vz);
    }
  }
  EXPECT_EQ(cyl.wallImpacts(), 300);
  EXPECT_EQ(cyl.baseImpacts() + cyl.topImpacts(), 0);
}

// ------------------------------------------------------ containment, size

TEST_F(CylinderTest, ContainmentAllowsRTolBeyondTheWallAndNoMore) {
  CylSetup s;
  s.height0 = 10;  // lowest points up to 9
  s.amplitude = 0.5;
  s.base_z = 0.2;
  Cylinder& cyl = make(s);
  const double edge = 5.0 + 0.001;
  const double beyond = std::nextafter(edge, 6.0);
  const double inside[][3] = {{edge, 0, 1}, {0, -edge, 1}, {3, 4, 1},
                              {0, 0, 0.2 - 0.001}, {0, 0, 9.0 + 0.001}};
  const double outside[][3] = {{beyond, 0, 1},
                               {0, -beyond, 1},
                               {3.6, 3.6, 1},
                               {0, 0, std::nextafter(0.2 - 0.001, -1.0)},
                               {0, 0, std::nextafter(9.0 + 0.001, 10.0)}};
  for (const auto& r : inside) {
    EXPECT_EQ(cyl.isInside(r), 1) << r[0] << " " << r[1] << " " << r[2];
    EXPECT_EQ(cyl.isOutside(r), 0);
  }
  for (const auto& r : outside) {
    EXPECT_EQ(cyl.isInside(r), 0) << r[0] << " " << r[1] << " " << r[2];
    EXPECT_EQ(cyl.isOutside(r), 1);
  }
}

TEST_F(CylinderTest, LevelSpreadsOverTheWholeFloor) {
  Cylinder& cyl = make(CylSetup{});
  EXPECT_DOUBLE_EQ(cyl.radius(), 5.0);
  EXPECT_DOUBLE_EQ(cyl.level(kPi * 5.5 * 5.5 * 2.5), 2.5);
}

using CylinderDeathTest = CylinderTest;

TEST_F(CylinderDeathTest, ACylinderNoWiderThanOneSphereIsRefusedOnceTheDiameterIsKnown) {
  for (double radius0 : {0.5, 0.3}) {
    CylSetup s;
    s.radius0 = radius0;
    writeFile("ini/cyl.ini", cylFile(s));
    EXPECT_EXIT(
        {
          Cylinder cyl("ini/cyl.ini");
          cyl.useSphereDiameter(1.0);
        },
        ::testing::ExitedWithCode(1), "^Error reading ini/cyl.ini\n$");
  }
  CylSetup s;
  s.radius0 = 0.6;  // a tenth of a diameter of play
  Cylinder& narrow = make(s);
  const double r[3] = {0, -0.1, 1};
  EXPECT_EQ(narrow.isInside(r), 1);
}

TEST_F(CylinderDeathTest, UnusableValuesAreReadErrors) {
  auto refused = [](const CylSetup& s) {
    writeFile("ini/cyl.ini", cylFile(s));
    EXPECT_EXIT(Cylinder cyl("ini/cyl.ini"), ::testing::ExitedWithCode(1),
                "^Error reading ini/cyl.ini\n$");
  };
  CylSetup s;
  s.gravity = 0.0;
  refused(s);
  s = CylSetup{};
  s.period = 0.0;
  refused(s);
  s = CylSetup{};
  s.v_base = 0.0;
  refused(s);
  s = CylSetup{};
  s.v_wall = 0.0;
  refused(s);
  s = CylSetup{};
  s.v_top = 0.0;
  refused(s);
  s = CylSetup{};
  s.vr_min = -0.01;
  refused(s);
  s = CylSetup{};
  s.cells = 0;
  refused(s);
}

// ---------------------------------------------------------------- records

// Lid at 9 for spheres of diameter 1, two rings of width 2.5 around the axis.
class CylinderRecords : public CylinderTest {
 protected:
  static CylSetup setup(int maps) {
    CylSetup s;
    s.height0 = 10;
    s.maps = maps;
    return s;
  }
  // A sphere rising at speed 1 just below the lid.
  void hitTop(double x, double y) {
    const double r[3] = {x, y, 8.99};
    double v[3] = {0, 0, 1};
    cyl_->detect(r, v, kBig);
    const double at_top[3] = {x, y, 9};
    cyl_->collide(at_top, v);
  }
  // A sphere falling at speed 1 just above the floor.
  void hitBase(double x, double y) {
    const double r[3] = {x, y, 0.01};
    double v[3] = {0, 0, -1};
    cyl_->detect(r, v, kBig);
    const double at_base[3] = {x, y, 0};
    cyl_->collide(at_base, v);
  }
  // A sphere flying up and out against the wall at (5, 0).
  void hitWall() {
    const double r[3] = {4.99, 0, 4};
    double v[3] = {1, 0, 3};
    cyl_->detect(r, v, kBig);
    const double at_wall[3] = {5, 0, 4};
    cyl_->collide(at_wall, v);
  }
};

// A ring file with every value -0 written as 0: an empty ring of the base
// is scaled by the negative sum of the base's pressure and comes out as -0.
std::string ringFile(const std::string& name) {
  std::istringstream is(readFile(name));
  std::string out;
  for (std::string line; std::getline(is, line);) {
    std::istringstream words(line);
    std::string sep;
    for (std::string word; words >> word; sep = " ") out += sep + (word == "-0" ? "0" : word);
    out += "\n";
  }
  return out;
}

const char* const kHeader1 = "# 1 hits\n# 1 2 0 block, lines, blanks\n"
                             "# 3 columns (density, pressure, energy)\n";
// One impact in the inner or the outer ring: that ring holds the whole count
// over an area a third of the outer ring's (per unit area 2 against 0).
std::string innerImpact() { return std::string(kHeader1) + "1.25 2 2 2\n3.75 0 0 0\n"; }
std::string outerImpact() { return std::string(kHeader1) + "1.25 0 0 0\n3.75 2 2 2\n"; }

TEST_F(CylinderRecords, HistogramFilesFollowStartUpRunsAndShutDown) {
  build(setup(1));
  EXPECT_EQ(readFile("top.map"), "");
  EXPECT_TRUE(fileExists("bot.map"));
  // drumsim's start-up resets the chamber before the sphere diameter is
  // known: histograms without rings, files holding the header alone.
  cyl_->reset();
  const std::string no_rings =
      "# 0 hits\n# 1 0 0 block, lines, blanks\n# 3 columns (density, pressure, energy)\n";
  EXPECT_EQ(readFile("top.hist"), no_rings);
  EXPECT_EQ(readFile("bot.hist"), no_rings);
  cyl_->useSphereDiameter(1.0);

  hitTop(0.5, -0.25);
  EXPECT_EQ(readFile("top.map"), "0.5 -0.25\n");
  hitBase(3, -2);
  hitWall();
  EXPECT_EQ(cyl_->topImpacts(), 1);
  EXPECT_EQ(cyl_->baseImpacts(), 1);
  EXPECT_EQ(cyl_->wallImpacts(), 1);
  EXPECT_EQ(readFile("top.map"), "0.5 -0.25\n");
  EXPECT_EQ(readFile("bot.map"), "3 -2\n");

  // A reader still holding the start-up file keeps it whole: the new file
  // replaces it rather than overwriting it.
  std::filesystem::create_hard_link("top.hist", "start-up.hist");
  cyl_->reset();
  EXPECT_EQ(cyl_->topImpacts() + cyl_->baseImpacts() + cyl_->wallImpacts(), 0);
  EXPECT_EQ(readFile("start-up.hist"), no_rings);
  EXPECT_EQ(ringFile("top.hist"), innerImpact());  // the wall impact is not in it
  EXPECT_EQ(ringFile("bot.hist"), outerImpact());
  EXPECT_EQ(readFile("top.map"), "");
  EXPECT_EQ(readFile("bot.map"), "");

  // The next run, ended by the end of the program.
  cyl_->useSphereDiameter(1.0);
  hitBase(0.3, 0.4);
  ::testing::internal::CaptureStdout();
  cyl_.reset();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Dumping stats... DONE\n");
  EXPECT_EQ(ringFile("bot.hist"), innerImpact());
  EXPECT_EQ(readFile("top.hist").rfind("# 0 hits\n# 1 2 0 block", 0), 0u);
  EXPECT_EQ(directoryEntries(),
            (std::vector<std::string>{"bot.hist", "bot.map", "ini", "start-up.hist",
                                      "top.hist", "top.map"}));
}

TEST_F(CylinderRecords, WithMapsOffNoMapFileIsCreatedOrEmptied) {
  writeFile("top.map", "an earlier run\n");
  build(setup(0));
  cyl_->reset();
  cyl_->useSphereDiameter(1.0);
  hitTop(0.5, -0.25);
  hitBase(3, -2);
  cyl_->reset();
  EXPECT_EQ(ringFile("top.hist"), innerImpact());
  EXPECT_EQ(readFile("top.map"), "an earlier run\n");
  EXPECT_FALSE(fileExists("bot.map"));
}

TEST_F(CylinderRecords, AHistogramThatCannotBeWrittenDoesNotStopTheShutDown) {
  build(setup(0));
  cyl_->useSphereDiameter(1.0);
  hitBase(0.3, 0.4);
  std::filesystem::create_directory("top.hist");
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  cyl_.reset();
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Dumping stats... DONE\n");
  EXPECT_TRUE(std::filesystem::is_directory("top.hist"));
  EXPECT_EQ(ringFile("bot.hist"), innerImpact());
}

}  // namespace
