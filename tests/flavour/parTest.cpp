// "ini/par.ini" in both program flavours.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "par.h"
#include "testSupport.h"

using testing_support::ScopedTempDir;
using testing_support::writeFile;

namespace {

TEST(Par, NoRestartIgnoresTheRestOfTheFirstLine) {
  ScopedTempDir dir;
  writeFile("ini/par.ini", "0 old.state is not read\n0.02 step\n1000 events\n50.5 cycles\n");
  Par par("ini/par.ini");
  EXPECT_EQ(par.tStep(), 0.02);
  EXPECT_EQ(par.ncolmax(), 1000);
  EXPECT_EQ(par.tMax(), 50.5);
  EXPECT_EQ(par.restart(), 0);
  EXPECT_EQ(par.restartFile(), nullptr);
}

TEST(Par, ARestartFlagWithANameStartsFromThatFile) {
  ScopedTempDir dir;
  writeFile("ini/par.ini", "1 saved.state and a comment\n0.01\n10\n2\n");
  Par par("ini/par.ini");
  EXPECT_STREQ(par.restartFile(), "saved.state");
  EXPECT_EQ(par.tStep(), 0.01);
  EXPECT_EQ(par.ncolmax(), 10);
  EXPECT_EQ(par.tMax(), 2.0);
}

TEST(Par, ARestartNameLongerThanTwentyNineCharactersIsKeptWhole) {
  ScopedTempDir dir;
  const std::string name = "runs/2026-12-07/a-rather-long-state-file-name.out";
  writeFile("ini/par.ini", "1 " + name + "\n0.01\n10\n2\n");
  Par par("ini/par.ini");
  EXPECT_EQ(std::string(par.restartFile()), name);
}

TEST(Par, AMissingNameIsTakenFromTheNextLineAndShiftsTheRest) {
  ScopedTempDir dir;
  writeFile("ini/par.ini", "1\nnext.state\n0.5\n7\n3\n");
  Par par("ini/par.ini");
  EXPECT_STREQ(par.restartFile(), "next.state");
  EXPECT_EQ(par.tStep(), 0.5);
  EXPECT_EQ(par.ncolmax(), 7);
  EXPECT_EQ(par.tMax(), 3.0);
}

TEST(Par, AFractionalEventLimitReadsItsWholePart) {
  ScopedTempDir dir;
  writeFile("ini/par.ini", "0\n0.02\n99.9 events\n1\n");
  Par par("ini/par.ini");
  EXPECT_EQ(par.ncolmax(), 99);
}

TEST(ParDeathTest, BadFilesEndWithTheReadErrorAndStatusOne) {
  ScopedTempDir dir;
  const char* message = "^Error reading ini/par.ini\n$";
  EXPECT_EXIT(Par("ini/par.ini"), ::testing::ExitedWithCode(1), message);  // missing
  // A restart flag without a name on a four-line file runs out of values.
  writeFile("ini/par.ini", "1\n0.02\n100\n10\n");
  EXPECT_EXIT(Par("ini/par.ini"), ::testing::ExitedWithCode(1), message);
  // A step that is not positive would never finish a batch run.
  writeFile("ini/par.ini", "0\n0\n100\n10\n");
  EXPECT_EXIT(Par("ini/par.ini"), ::testing::ExitedWithCode(1), message);
  writeFile("ini/par.ini", "0\n0.02\n-1\n10\n");
  EXPECT_EXIT(Par("ini/par.ini"), ::testing::ExitedWithCode(1), message);
}

}  // namespace
