// The drawable cylinder: its drawing file and the height of the drawn wall.

#include <gtest/gtest.h>

#include <string>

#include "cylinderFGL.h"
#include "testSupport.h"

using testing_support::ScopedTempDir;
using testing_support::writeFile;

namespace {

std::string cylinderFile(const char* radius_height) {
  return std::string(radius_height) +
         "\n1 1\n3.924\n0.9 1\n0.9 1\n0.9 1\n0.05\n0.001\n0 1\n0\n10\n";
}

std::string drawingFile(const char* detail, const char* slices) {
  return std::string(detail) + "\n" + slices + "\n0.2 0.2 0.25 1\n0.6 0.75 0.95 0.15\n";
}

TEST(CylinderWindow, AClosedCylinderIsDrawnToItsInnerHeightWhateverTheBands) {
  ScopedTempDir dir;
  writeFile("ini/cyl.ini", cylinderFile("5.5 20"));
  for (const char* slices : {"1", "3", "7", "20"}) {
    writeFile("ini/cylGL.ini", drawingFile("48", slices));
    CylinderFGL cylinder("ini/cyl.ini", "ini/cylGL.ini");
    EXPECT_NEAR(cylinder.wallHeight(), 20.0, 1e-12) << slices << " bands";
    EXPECT_EQ(cylinder.detail(), 48);
  }
}

TEST(CylinderWindow, AnOpenCylinderHasBandsOfAFifthOfTheRadius) {
  ScopedTempDir dir;
  writeFile("ini/cyl.ini", cylinderFile("5 0"));
  writeFile("ini/cylGL.ini", drawingFile("16", "3"));
  CylinderFGL cylinder("ini/cyl.ini", "ini/cylGL.ini");
  EXPECT_NEAR(cylinder.wallHeight(), 3.0, 1e-12);
}

TEST(CylinderWindowDeathTest, ABadDrawingFileEndsStartUp) {
  ScopedTempDir dir;
  writeFile("ini/cyl.ini", cylinderFile("5.5 20"));
  EXPECT_EXIT(CylinderFGL("ini/cyl.ini", "ini/cylGL.ini"), testing::ExitedWithCode(1),
              "Error reading ini/cylGL.ini");
  // No bands: the band height of a closed cylinder would be infinite.
  writeFile("ini/cylGL.ini", drawingFile("48", "0"));
  EXPECT_EXIT(CylinderFGL("ini/cyl.ini", "ini/cylGL.ini"), testing::ExitedWithCode(1),
              "Error reading ini/cylGL.ini");
  // Two facets enclose nothing.
  writeFile("ini/cylGL.ini", drawingFile("2", "20"));
  EXPECT_EXIT(CylinderFGL("ini/cyl.ini", "ini/cylGL.ini"), testing::ExitedWithCode(1),
              "Error reading ini/cylGL.ini");
  // The wall colour line is missing.
  writeFile("ini/cylGL.ini", "48\n20\n0.2 0.2 0.25 1\n");
  EXPECT_EXIT(CylinderFGL("ini/cyl.ini", "ini/cylGL.ini"), testing::ExitedWithCode(1),
              "Error reading ini/cylGL.ini");
}

TEST(CylinderWindowDeathTest, TheCylinderFileIsReadFirst) {
  ScopedTempDir dir;
  writeFile("ini/cyl.ini", "5.5 20\n");
  EXPECT_EXIT(CylinderFGL("ini/cyl.ini", "ini/cylGL.ini"), testing::ExitedWithCode(1),
              "Error reading ini/cyl\\.ini");
}

}  // namespace
