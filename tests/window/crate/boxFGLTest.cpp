// The drawable box: its drawing file.

#include <gtest/gtest.h>

#include "boxFGL.h"
#include "testSupport.h"

using testing_support::ScopedTempDir;
using testing_support::writeFile;

namespace {

const char* const kBox = "5 4 20\n1 1\n3.924\n0.9 1\n0.9 1\n0.9 1\n0.001\n0 1\n0\n10 10\n";

TEST(BoxWindow, ReadsThreeLinesAndKeepsTheBox) {
  ScopedTempDir dir;
  writeFile("ini/box.ini", kBox);
  writeFile("ini/boxGL.ini", "20 height\n0.2 0.2 0.25 1 base\n0.6 0.75 0.95 0.15 walls\n");
  BoxFGL box("ini/box.ini", "ini/boxGL.ini");
  EXPECT_EQ(box.xsize0(), 5.0);
  EXPECT_EQ(box.ysize0(), 4.0);
  EXPECT_EQ(box.height0(), 20.0);
}

TEST(BoxWindowDeathTest, ABadDrawingFileEndsStartUp) {
  ScopedTempDir dir;
  writeFile("ini/box.ini", kBox);
  EXPECT_EXIT(BoxFGL("ini/box.ini", "ini/boxGL.ini"), testing::ExitedWithCode(1),
              "Error reading ini/boxGL.ini");
  // The wall colour has no alpha.
  writeFile("ini/boxGL.ini", "20\n0.2 0.2 0.25 1\n0.6 0.75 0.95\n");
  EXPECT_EXIT(BoxFGL("ini/box.ini", "ini/boxGL.ini"), testing::ExitedWithCode(1),
              "Error reading ini/boxGL.ini");
  writeFile("ini/boxGL.ini", "20\nred 0.2 0.25 1\n0.6 0.75 0.95 0.15\n");
  EXPECT_EXIT(BoxFGL("ini/box.ini", "ini/boxGL.ini"), testing::ExitedWithCode(1),
              "Error reading ini/boxGL.ini");
}

TEST(BoxWindowDeathTest, TheBoxFileIsReadFirst) {
  ScopedTempDir dir;
  writeFile("ini/box.ini", "5 4 20\n");
  EXPECT_EXIT(BoxFGL("ini/box.ini", "ini/boxGL.ini"), testing::ExitedWithCode(1),
              "Error reading ini/box.ini");
}

}  // namespace
