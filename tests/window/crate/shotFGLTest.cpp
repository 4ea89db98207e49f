// The drawable shot: its drawing file and the colour of each sphere.

#include <gtest/gtest.h>

#include <sstream>

#include "shotFGL.h"
#include "testSupport.h"

using testing_support::ScopedTempDir;
using testing_support::writeFile;

namespace {

void writeShotFiles(const char* shotGL) {
  writeFile("ini/shot.ini", "5 1\n0.3 1 0\n0.9 1\n0.001\n");
  writeFile("ini/shotGL.ini", shotGL);
}

// Detail 8, colour height 4, blue-green at the floor, orange at the top,
// grey marker.
const char* const kShotGL =
    "8 detail\n4 height\n0 0.2 1 bottom\n1 0.6 0 top\n0.5 0.5 0.5 marker\n";

void expectColour(const ShotFGL& shot, int i, float r, float g, float b) {
  float rgb[3];
  shot.sphereColour(i, rgb);
  EXPECT_NEAR(rgb[0], r, 1e-6) << "sphere " << i;
  EXPECT_NEAR(rgb[1], g, 1e-6) << "sphere " << i;
  EXPECT_NEAR(rgb[2], b, 1e-6) << "sphere " << i;
}

TEST(ShotWindow, ColourFollowsTheHeightAndSphereZeroIsMarked) {
  ScopedTempDir dir;
  writeShotFiles(kShotGL);
  ShotFGL shot("ini/shot.ini", "ini/shotGL.ini");
  EXPECT_EQ(shot.detail(), 8);
  EXPECT_EQ(shot.slices(), 16);
  // Heights: 9 (the marked sphere, above the scale), half the colour
  // height, exactly the colour height, above it, and below the floor.
  std::istringstream state(
      "0 0 9 0 0 0\n"
      "1 0 2 0 0 0\n"
      "2 0 4 0 0 0\n"
      "3 0 10 0 0 0\n"
      "-1 0 -2 0 0 0\n");
  shot.readState(state);
  ASSERT_TRUE(state);
  expectColour(shot, 0, 0.5f, 0.5f, 0.5f);
  expectColour(shot, 1, 0.5f, 0.4f, 0.5f);
  expectColour(shot, 2, 1.0f, 0.6f, 0.0f);
  expectColour(shot, 3, 1.0f, 0.6f, 0.0f);
  // No clamp below the floor: the line goes on past the bottom colour.
  expectColour(shot, 4, -0.5f, 0.0f, 1.5f);

  // The marker goes with sphere 0 wherever it is.
  std::istringstream low("0 0 0 0 0 0\n1 0 0 0 0 0\n2 0 0 0 0 0\n3 0 0 0 0 0\n4 0 0 0 0 0\n");
  shot.readState(low);
  expectColour(shot, 0, 0.5f, 0.5f, 0.5f);
  expectColour(shot, 1, 0.0f, 0.2f, 1.0f);
}

TEST(ShotWindowDeathTest, ABadDrawingFileEndsStartUp) {
  ScopedTempDir dir;
  // The marker colour line is missing.
  writeShotFiles("8\n4\n0 0.2 1\n1 0.6 0\n");
  EXPECT_EXIT(ShotFGL("ini/shot.ini", "ini/shotGL.ini"), testing::ExitedWithCode(1),
              "Error reading ini/shotGL.ini");
  // A colour height of 0 gives no colour scale.
  writeShotFiles("8\n0\n0 0.2 1\n1 0.6 0\n0.5 0.5 0.5\n");
  EXPECT_EXIT(ShotFGL("ini/shot.ini", "ini/shotGL.ini"), testing::ExitedWithCode(1),
              "Error reading ini/shotGL.ini");
  // Spheres of no detail.
  writeShotFiles("0\n4\n0 0.2 1\n1 0.6 0\n0.5 0.5 0.5\n");
  EXPECT_EXIT(ShotFGL("ini/shot.ini", "ini/shotGL.ini"), testing::ExitedWithCode(1),
              "Error reading ini/shotGL.ini");
}

TEST(ShotWindowDeathTest, TheShotFileIsReadFirst) {
  ScopedTempDir dir;
  writeFile("ini/shot.ini", "5\n");
  EXPECT_EXIT(ShotFGL("ini/shot.ini", "ini/missing.ini"), testing::ExitedWithCode(1),
              "Error reading ini/shot.ini");
}

}  // namespace
