// The reading convention shared by every parameter file.

#include <gtest/gtest.h>

#include <string>

#include "paramFile.h"
#include "testSupport.h"

using testing_support::ScopedTempDir;
using testing_support::writeFile;

namespace {

struct ThreeLines {
  int count = -1;
  double real = -1.0;
  std::string word;
};

// Reads the layout "int / real / word", one per line.
ThreeLines readThreeLines(const char* name) {
  ThreeLines v;
  ParamFile file(name);
  file >> v.count;
  file.endLine();
  file >> v.real;
  file.endLine();
  file >> v.word;
  file.endLine();
  file.close();
  return v;
}

TEST(ParamFile, TheRestOfEachLineIsComment) {
  ScopedTempDir dir;
  writeFile("p.ini", "12 spheres, and 99 more words\n0.5e-1 time step 7\nstate.out name\n");
  ThreeLines v = readThreeLines("p.ini");
  EXPECT_EQ(v.count, 12);
  EXPECT_EQ(v.real, 0.05);
  EXPECT_EQ(v.word, "state.out");
}

TEST(ParamFile, AFractionReadAsAnIntegerGivesItsWholePart) {
  ScopedTempDir dir;
  writeFile("p.ini", "2.75 the fraction is comment\n-3\nw");
  ThreeLines v = readThreeLines("p.ini");
  EXPECT_EQ(v.count, 2);
  EXPECT_EQ(v.real, -3.0);
  EXPECT_EQ(v.word, "w");  // a last line without newline is accepted
}

TEST(ParamFile, BlankLinesBeforeAValueAreSkippedAndAMissingValueComesFromTheNextLine) {
  ScopedTempDir dir;
  writeFile("p.ini", "\n\n  7\n\n1.5\nword\n");
  ThreeLines v = readThreeLines("p.ini");
  EXPECT_EQ(v.count, 7);
  EXPECT_EQ(v.real, 1.5);
  EXPECT_EQ(v.word, "word");
}

TEST(ParamFile, AOneMegabyteCommentIsSkipped) {
  ScopedTempDir dir;
  writeFile("p.ini", "3 " + std::string(1 << 20, 'x') + "\n2.5\nok\n");
  ThreeLines v = readThreeLines("p.ini");
  EXPECT_EQ(v.count, 3);
  EXPECT_EQ(v.real, 2.5);
}

TEST(ParamFileDeathTest, EveryFailureIsReportedWithTheFileNameAndStatusOne) {
  ScopedTempDir dir;
  const char* message = "^Error reading p.ini\n$";
  EXPECT_EXIT(readThreeLines("p.ini"), ::testing::ExitedWithCode(1), message);  // missing
  writeFile("p.ini", "");
  EXPECT_EXIT(readThreeLines("p.ini"), ::testing::ExitedWithCode(1), message);  // empty
  writeFile("p.ini", "3\n2.5\n");
  EXPECT_EXIT(readThreeLines("p.ini"), ::testing::ExitedWithCode(1), message);  // short
  writeFile("p.ini", "three\n2.5\nw\n");
  EXPECT_EXIT(readThreeLines("p.ini"), ::testing::ExitedWithCode(1), message);  // not a number
  for (const char* bad : {"nan", "inf", "-inf", "1e400"}) {
    writeFile("p.ini", std::string("3\n") + bad + "\nw\n");
    EXPECT_EXIT(readThreeLines("p.ini"), ::testing::ExitedWithCode(1), message) << bad;
  }
  writeFile("p.ini", "99999999999\n2.5\nw\n");  // does not fit an int
  EXPECT_EXIT(readThreeLines("p.ini"), ::testing::ExitedWithCode(1), message);
  writeFile("p.ini", std::string("\x01\xff\xfe\x00garbage", 11));
  EXPECT_EXIT(readThreeLines("p.ini"), ::testing::ExitedWithCode(1), message);
}

TEST(ParamFileDeathTest, AValueOutOfItsRangeIsAReadError) {
  ScopedTempDir dir;
  writeFile("p.ini", "-4\n");
  auto read = [] {
    ParamFile file("p.ini");
    int n = 0;
    file >> n;
    file.endLine();
    file.require(n > 0);
    file.close();
  };
  EXPECT_EXIT(read(), ::testing::ExitedWithCode(1), "^Error reading p.ini\n$");
}

}  // namespace
