// The parameter files: the reading convention they share, each file's
// layout table and definition, the values each file is refused for, and the
// shipped files as the definitions' defaults.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "parameterFiles.h"
#include "testSupport.h"

using testing_support::readFile;
using testing_support::ScopedTempDir;
using testing_support::writeFile;

namespace {

// ------------------------------------------------------------ convention

// A layout of three lines, "flag [word] / real / int", read through a table.
struct ThreeLines {
  int flag = -1;
  std::string word;
  double real = -1.0;
  int count = -1;
};

ParamTable threeLines(ThreeLines& v) {
  ParamTable t(4);
  t[0] = {"p.flag", 1};
  t[0].integer = &v.flag;
  t[1] = {"p.word", 1};
  t[1].word = &v.word;
  t[1].when = &v.flag;
  t[2] = {"p.real", 2};
  t[2].real = &v.real;
  t[3] = {"p.count", 3};
  t[3].integer = &v.count;
  return t;
}

ThreeLines readThreeLines(const char* name) {
  ThreeLines v;
  ParamFile file(name);
  file.read(threeLines(v));
  file.close();
  return v;
}

TEST(ParamFile, WhatTheConventionAllows) {
  struct Case {
    const char* scenario;
    std::string text;
    int flag;
    std::string word;
    double real;
    int count;
  };
  const Case cases[] = {
      {"the rest of each line is comment",
       "1 state.out and 99 more words\n0.5e-1 time step 7\n12 spheres\n", 1, "state.out", 0.05,
       12},
      {"no word without the flag", "0 old.state is not read\n2.5\n3\n", 0, "", 2.5, 3},
      {"a comment after a tab", "0\t1 2 3\n-3\t4\n2\tmore comment\n", 0, "", -3.0, 2},
      {"blank lines are skipped, a missing value comes from the next line",
       "\n\n  1\n\nnext.state\n1.5\n\n7", 1, "next.state", 1.5, 7},
      {"Windows line ends, no newline at the end", "1 a.state\r\n2\r\n3", 1, "a.state", 2.0, 3},
      {"a word of any length", "1 runs/2026-12-07/a-rather-long-state-file-name.out\n2\n3\n", 1,
       "runs/2026-12-07/a-rather-long-state-file-name.out", 2.0, 3},
      {"a comment of 1 MB", "0 " + std::string(1 << 20, 'x') + "\n2.5\n3\n", 0, "", 2.5, 3},
  };
  ScopedTempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    writeFile("p.ini", c.text);
    const ThreeLines v = readThreeLines("p.ini");
    EXPECT_EQ(v.flag, c.flag);
    EXPECT_EQ(v.word, c.word);
    EXPECT_EQ(v.real, c.real);
    EXPECT_EQ(v.count, c.count);
  }
}

TEST(ParamFileDeathTest, EveryFailureIsReportedWithTheFileNameAndStatusOne) {
  ScopedTempDir dir;
  const char* message = "^Error reading p.ini\n$";
  EXPECT_EXIT(readThreeLines("p.ini"), ::testing::ExitedWithCode(1), message);  // missing
  const std::vector<std::string> bad{
      "",                                    // empty
      "0\n2.5\n",                            // cut short
      "1\n2.5\n3\n",                         // a flag without its word runs out of values
      "zero\n2.5\n3\n",                      // a word where a number belongs
      "0\nnan\n3\n", "0\ninf\n3\n", "0\n-inf\n3\n", "0\n1e400\n3\n",
      "0\n2.5\n99999999999\n",               // does not fit an int
      // A number run into what follows is not the number its first
      // characters make: a fraction or an exponent where an integer
      // belongs, a decimal comma, a hexadecimal prefix, an exponent without
      // digits, a flag written as a real.
      "0\n2.5\n2.75\n", "0\n2.5\n1e6 events\n", "0\n3,924\n3\n", "0\n1,5 comment\n3\n",
      "0\n0x10\n3\n", "0\n2.5e\n3\n", "1e308\n2.5\n3\n",
      std::string("\x01\xff\xfe\x00garbage", 11)};
  for (const std::string& text : bad) {
    writeFile("p.ini", text);
    EXPECT_EXIT(readThreeLines("p.ini"), ::testing::ExitedWithCode(1), message) << text;
  }
  // A value outside its range.
  writeFile("p.ini", "0\n2.5\n-4\n");
  EXPECT_EXIT(
      {
        ParamFile file("p.ini");
        ThreeLines v;
        file.read(threeLines(v));
        file.require(v.count > 0);
        file.close();
      },
      ::testing::ExitedWithCode(1), message);
}

// -------------------------------------------------------- every file

// A file's reader and layout, for definitions of one kind.
struct FileKind {
  const char* name;
  // Reads the file into a fresh definition and formats it again.
  std::function<std::string(const char*)> readAndFormat;
  // The default definition with values set by key ("key=value ..."), formatted.
  std::function<std::string(const std::string& settings)> defaultWith;
};

template <class Def>
FileKind kind(const char* name, Def (*read)(const char*), ParamTable (*table)(Def&)) {
  return {name,
          [read, table](const char* file) {
            Def def = read(file);
            return formatParamFile(table(def));
          },
          [table](const std::string& settings) {
            Def def;
            const ParamTable t = table(def);
            std::istringstream is(settings);
            for (std::string setting; is >> setting;) {
              const std::size_t eq = setting.find('=');
              EXPECT_TRUE(setParam(t, setting.substr(0, eq), setting.substr(eq + 1))) << setting;
            }
            return formatParamFile(t);
          }};
}

ParamTable viewWithAngles(ViewDef& def) { return viewTable(def, true); }
ParamTable viewWithoutAngles(ViewDef& def) { return viewTable(def, false); }
ViewDef readViewWithAngles(const char* file) { return readViewDef(file, true); }
ViewDef readViewWithoutAngles(const char* file) { return readViewDef(file, false); }

const std::vector<FileKind>& fileKinds() {
  static const std::vector<FileKind> kinds{
      kind("par.ini", readRunDef, runTable),
      kind("shot.ini", readShotDef, shotTable),
      kind("box.ini", readBoxDef, boxTable),
      kind("cyl.ini", readCylinderDef, cylinderTable),
      kind("shotGL.ini", readShotDrawDef, shotDrawTable),
      kind("boxGL.ini", readBoxDrawDef, boxDrawTable),
      kind("cylGL.ini", readCylinderDrawDef, cylinderDrawTable),
      kind("parGL.ini", readViewWithAngles, viewWithAngles),
      kind("parGL.ini (two lines)", readViewWithoutAngles, viewWithoutAngles)};
  return kinds;
}

const FileKind& fileKind(const std::string& name) {
  for (const FileKind& k : fileKinds()) {
    if (name == k.name) return k;
  }
  std::abort();
}

// The shipped files hold exactly the definitions' defaults, and a
// definition written out reads back to the same values.
TEST(ParameterFiles, TheShippedFilesAreTheDefaultDefinitions) {
  const char* source = std::getenv("SHOTSIM_SOURCE_DIR");
  ASSERT_NE(source, nullptr) << "SHOTSIM_SOURCE_DIR is not set";
  ScopedTempDir dir;
  for (const FileKind& k : fileKinds()) {
    if (std::string(k.name) == "parGL.ini (two lines)") continue;
    const std::string shipped = std::string(source) + "/ini/" + k.name;
    EXPECT_EQ(k.readAndFormat(shipped.c_str()), k.defaultWith("")) << k.name;
    writeFile("again.ini", k.defaultWith(""));
    EXPECT_EQ(k.readAndFormat("again.ini"), readFile("again.ini")) << k.name;
  }
}

// The least rebound speed is an optional last line: taken where the file
// holds a number after its required lines, the default (not given)
// otherwise; a bad number is refused as any value is.
TEST(ParameterFiles, AnOptionalLastLineIsReadOnlyWhereTheFileHoldsANumber) {
  struct Case {
    const char* after;  // what follows the shipped shot.ini
    double rebound;     // NaN: not given
    bool good;
  };
  const double kNone = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {"", kNone, true},
      {"\n\n  0.25 least rebound speed\n", 0.25, true},
      {"0", 0.0, true},
      {"notes written after the last line\n", kNone, true},
      {"1e400\n", kNone, false},
      {"-inf\n", kNone, false},
  };
  ScopedTempDir dir;
  const std::string shipped = fileKind("shot.ini").defaultWith("");
  for (const Case& c : cases) {
    writeFile("shot.ini", shipped + c.after);
    ParamFile::Trial trial;
    const ShotDef def = readShotDef("shot.ini");
    EXPECT_EQ(trial.failed(), !c.good) << c.after;
    if (!c.good) continue;
    if (std::isnan(c.rebound)) {
      EXPECT_TRUE(std::isnan(def.rebound)) << c.after;
    } else {
      EXPECT_EQ(def.rebound, c.rebound) << c.after;
    }
  }
}

TEST(ParameterFiles, AValueIsSetByItsKeyOnlyFromAWholeValueOfItsKind) {
  BoxDef box;
  const ParamTable t = boxTable(box);
  EXPECT_TRUE(setParam(t, "box.amplitude", " 0.25 "));
  EXPECT_EQ(box.chamber.amplitude, 0.25);
  EXPECT_TRUE(setParam(t, "box.cells_y", "7"));
  EXPECT_EQ(box.cells_y, 7);
  for (const char* bad : {"", "x", "0.25 0.5", "nan", "1e400"}) {
    EXPECT_FALSE(setParam(t, "box.amplitude", bad)) << bad;
  }
  EXPECT_FALSE(setParam(t, "box.cells_y", "7.5"));
  EXPECT_FALSE(setParam(t, "box.radius", "3"));  // the cylinder's
  EXPECT_EQ(box.chamber.amplitude, 0.25);
  EXPECT_EQ(box.cells_y, 7);
  RunDef run;
  EXPECT_TRUE(setParam(runTable(run), "par.state_file", "saved.state"));
  EXPECT_EQ(run.state_file, "saved.state");
}

// Every file is refused for a value outside its range: one value of the
// shipped file changed (by its key), or the file's text spoiled.
TEST(ParameterFiles, ValuesOutsideTheirRangesAreRefused) {
  struct Case {
    const char* file;
    const char* settings;  // "key=value ..." on the shipped file
    const char* text;      // or the whole file
    const char* why;
  };
  const Case cases[] = {
      {"par.ini", "par.step=0", nullptr, "a batch run would never end"},
      {"par.ini", "par.step=-0.02", nullptr, nullptr},
      {"par.ini", "par.step=1e-20", nullptr, "lost in the rounding of the time limit"},
      {"par.ini", "par.event_limit=-1", nullptr, nullptr},
      {"par.ini", "par.time_limit=-0.1", nullptr, nullptr},
      {"par.ini", nullptr, "1\n0.02\n0\n10\n", "a restart flag without a name"},
      {"par.ini", nullptr, "2 saved.state\n0.02\n0\n10\n", "a restart flag other than 0 or 1"},
      {"par.ini", nullptr, "-1 restart: no\n0.02\n0\n10\n", "the comment's word no file name"},
      {"par.ini", "par.step=1e101", nullptr, "beyond the magnitudes doubles carry"},
      {"par.ini", "par.time_limit=1e101", nullptr, nullptr},
      {"shot.ini", "shot.count=0", nullptr, nullptr},
      {"shot.ini", "shot.count=-12", nullptr, nullptr},
      {"shot.ini", "shot.count=1000000000", nullptr, "refused before anything is allocated"},
      {"shot.ini", "shot.diameter=0", nullptr, nullptr},
      {"shot.ini", "shot.packing=0", nullptr, "an empty bed"},
      {"shot.ini", "shot.packing=1", nullptr, "a solid bed"},
      {"shot.ini", "shot.temperature=-1", nullptr, nullptr},
      {"shot.ini", "shot.restitution=1.2", nullptr, "collisions gaining energy"},
      {"shot.ini", "shot.restitution=-0.1", nullptr, nullptr},
      {"shot.ini", "shot.threshold=0", nullptr, nullptr},
      {"shot.ini", "shot.tolerance=-0.001", nullptr, nullptr},
      {"shot.ini", "shot.diameter=1e-101", nullptr, "its inverse beyond the magnitudes"},
      {"shot.ini", "shot.temperature=1e308", nullptr, "speeds whose squares are no double"},
      {"shot.ini", "shot.spin=-1e101", nullptr, nullptr},
      {"shot.ini", "shot.rebound=-0.01", nullptr, "spheres that part at a negative speed"},
      {"box.ini", "box.half_x=0", nullptr, nullptr},
      {"box.ini", "box.half_y=-1", nullptr, nullptr},
      {"box.ini", "box.amplitude=-0.5", nullptr, nullptr},
      {"box.ini", "box.period=0", nullptr, nullptr},
      {"box.ini", "box.period=1e-320", nullptr, "its inverse is no double"},
      {"box.ini", "box.amplitude=1e300 box.period=1e-10", nullptr, "a base speed that is no double"},
      {"box.ini", "box.gravity=0", nullptr, nullptr},
      {"box.ini", "box.gravity=-9.8", nullptr, nullptr},
      {"box.ini", "box.gravity=1e-320", nullptr, nullptr},
      {"box.ini", "box.base.restitution=1.1", nullptr, nullptr},
      {"box.ini", "box.wall.restitution=-0.1", nullptr, nullptr},
      {"box.ini", "box.top.restitution=2", nullptr, nullptr},
      {"box.ini", "box.base.threshold=0", nullptr, nullptr},
      {"box.ini", "box.wall.threshold=-1", nullptr, nullptr},
      {"box.ini", "box.top.threshold=1e-320", nullptr, nullptr},
      {"box.ini", "box.tolerance=-0.001", nullptr, nullptr},
      {"box.ini", "box.base_start=1.5", nullptr, "outside the stroke of 1"},
      {"box.ini", "box.base_start=-1.5", nullptr, nullptr},
      {"box.ini", "box.base_direction=0", nullptr, nullptr},
      {"box.ini", "box.base_direction=2", nullptr, nullptr},
      {"box.ini", "box.cells_x=0", nullptr, nullptr},
      {"box.ini", "box.cells_y=-1", nullptr, nullptr},
      {"box.ini", "box.cells_x=10000 box.cells_y=10000", nullptr, "10^8 cells"},
      {"box.ini", "box.gravity=1e308", nullptr, "a fall's energy no double"},
      {"box.ini", "box.gravity=1e-308", nullptr, "a fall time no double"},
      {"box.ini", "box.period=1e-300", nullptr, "no base impact could be resolved"},
      {"box.ini", "box.period=9223372036854775808", nullptr, "turning times far beyond the flights"},
      {"box.ini", "box.period=1e-12", nullptr, "a stroke far shorter than any flight"},
      {"box.ini", "box.amplitude=25", nullptr, "the base reaching above the top"},
      {"box.ini", "box.height=-20", nullptr, nullptr},
      {"box.ini", "box.height=0.5", nullptr, "a top below the base's reach"},
      {"box.ini", "box.base_rebound=-0.01", nullptr, nullptr},
      {"cyl.ini", "cyl.base_rebound=-0.01", nullptr, nullptr},
      {"cyl.ini", "cyl.radius=0", nullptr, nullptr},
      {"cyl.ini", "cyl.radius=-5.5", nullptr, nullptr},
      {"cyl.ini", "cyl.period=0", nullptr, nullptr},
      {"cyl.ini", "cyl.gravity=0", nullptr, nullptr},
      {"cyl.ini", "cyl.wall.threshold=0", nullptr, nullptr},
      {"cyl.ini", "cyl.wall_rebound=-0.05", nullptr, nullptr},
      {"cyl.ini", "cyl.base_start=2", nullptr, nullptr},
      {"cyl.ini", "cyl.rings=0", nullptr, nullptr},
      {"cyl.ini", "cyl.rings=100000000", nullptr, nullptr},
      {"cyl.ini", "cyl.height=0.5", nullptr, "a top below the base's reach"},
      {"cyl.ini", "cyl.wall_rebound=1e308", nullptr, "beyond the chamber's speed limit"},
      {"cyl.ini", "cyl.wall_rebound=9223372036854775808", nullptr, nullptr},
      {"shotGL.ini", "shotGL.detail=0", nullptr, "spheres of no detail"},
      {"shotGL.ini", "shotGL.detail=1", nullptr, "a sphere of one stack shows nothing"},
      {"shotGL.ini", "shotGL.detail=182", nullptr, "more vertices than the toolkit numbers in 16 bits"},
      {"shotGL.ini", "shotGL.colour_height=0", nullptr, "no colour scale"},
      {"shotGL.ini", nullptr, "8\n4\n0 0.2 1\n1 0.6 0\n", "the marker colour line missing"},
      {"boxGL.ini", nullptr, "20\n0.2 0.2 0.25 1\n0.6 0.75 0.95\n", "a colour without alpha"},
      {"boxGL.ini", nullptr, "20\nred 0.2 0.25 1\n0.6 0.75 0.95 0.15\n", "a word for a colour"},
      {"cylGL.ini", "cylGL.facets=2", nullptr, "two facets enclose nothing"},
      {"cylGL.ini", "cylGL.facets=16384", nullptr, "more vertices than the toolkit numbers in 16 bits"},
      {"cylGL.ini", "cylGL.facets=2000000000", nullptr, nullptr},
      {"cylGL.ini", "cylGL.bands=0", nullptr, "the band of a closed cylinder would be infinite"},
      {"cylGL.ini", "cylGL.bands=10001", nullptr, "an open wall drawn far out of sight"},
      {"cylGL.ini", nullptr, "48\n20\n0.2 0.2 0.25 1\n", "the wall colour line missing"},
      {"parGL.ini", "parGL.nearest=0", nullptr, "the eye on the axis it looks along"},
      {"parGL.ini", "parGL.nearest=40", nullptr, "beyond the farthest"},
      {"parGL.ini", nullptr, "15 45\n8\n", "drumsim's file needs its angles line"},
      {"parGL.ini (two lines)", nullptr, "15 45\n", "cut short"},
  };
  ScopedTempDir dir;
  for (const Case& c : cases) {
    const FileKind& k = fileKind(c.file);
    writeFile("input.ini", c.text != nullptr ? c.text : k.defaultWith(c.settings));
    ParamFile::Trial trial;
    k.readAndFormat("input.ini");
    EXPECT_TRUE(trial.failed()) << c.file << ": " << (c.settings ? c.settings : c.text)
                                << (c.why ? std::string(" (") + c.why + ")" : "");
  }
  // The window files at the bounds of their counts are read, and so are
  // chambers without a top (height 0).
  for (const auto& [file, settings] : {std::pair{"box.ini", "box.height=0"},
                                        std::pair{"cyl.ini", "cyl.height=0"},
                                        std::pair{"shotGL.ini", "shotGL.detail=181"},
                                        std::pair{"shotGL.ini", "shotGL.detail=2"},
                                        std::pair{"cylGL.ini", "cylGL.facets=16383 cylGL.bands=10000"}}) {
    const FileKind& k = fileKind(file);
    writeFile("input.ini", k.defaultWith(settings));
    ParamFile::Trial trial;
    EXPECT_EQ(k.readAndFormat("input.ini"), k.defaultWith(settings)) << settings;
    EXPECT_FALSE(trial.failed()) << settings;
  }
}

// The drawing and window files that hold more than they need, or less where
// the program does not read it.
TEST(ParameterFiles, TheWindowFileOfCratesimHasTwoLinesAndIgnoresAThird) {
  ScopedTempDir dir;
  writeFile("parGL.ini", "15 45\n8\n");
  ViewDef view = readViewDef("parGL.ini", false);
  EXPECT_EQ(view.nearest, 15.0);
  EXPECT_EQ(view.farthest, 45.0);
  EXPECT_EQ(view.target_height, 8.0);
  EXPECT_EQ(view.turn, 0);
  EXPECT_EQ(view.tilt, 20);
  writeFile("parGL.ini", "15 45\n8\n400 -30\n");
  EXPECT_EQ(readViewDef("parGL.ini", false).turn, 0);
  view = readViewDef("parGL.ini", true);
  EXPECT_EQ(view.turn, 400);  // kept as read: the window brings it into range
  EXPECT_EQ(view.tilt, -30);
}

// Each key names the value at its file, line and place on the line (as
// --keys lists them and tools/sweep edits them): a marker written at that
// place reads into the same field as the marker set by the key, in both
// chambers' sets of files.
TEST(ParameterKeys, EveryKeySetsTheValueItsFilePositionSets) {
  ScopedTempDir dir;
  for (const ChamberKind chamber : {ChamberKind::kBox, ChamberKind::kCylinder}) {
    SimulationDefs layout;
    const ParamTable table = simulationTable(layout, chamber);
    const auto fileOf = [](const std::string& key) { return key.substr(0, key.find('.')) + ".ini"; };
    // Reads the three files through their own tables.
    const auto readFiles = [chamber](SimulationDefs& defs) {
      const auto readOne = [](const char* name, const ParamTable& t) {
        ParamFile file(name);
        file.read(t);
        EXPECT_TRUE(file.close()) << name;
      };
      readOne("par.ini", runTable(defs.run));
      readOne("shot.ini", shotTable(defs.shot));
      if (chamber == ChamberKind::kBox) {
        readOne("box.ini", boxTable(defs.box));
      } else {
        readOne("cyl.ini", cylinderTable(defs.cylinder));
      }
    };
    for (std::size_t k = 0; k < table.size(); ++k) {
      const ParamField& field = table[k];
      const std::string marker = field.integer ? "7" : field.real ? "0.125" : "marked.state";
      // Every value 1 (the restart flag on, so that the state file's name
      // is read), a word "w", the marker at the key's place.
      std::map<std::string, std::map<int, std::vector<std::string>>> lines;
      for (std::size_t j = 0; j < table.size(); ++j) {
        std::vector<std::string>& line = lines[fileOf(table[j].key)][table[j].line];
        line.resize(std::max<std::size_t>(line.size(), placeOnLine(table, j)));
        line[placeOnLine(table, j) - 1] = table[j].word != nullptr ? "w" : "1";
      }
      const auto writeFiles = [&lines]() {
        for (const auto& [file, numbered] : lines) {
          std::string content;
          for (const auto& [number, values] : numbered) {
            for (std::size_t p = 0; p < values.size(); ++p) content += values[p] + " ";
            content += "\n";
          }
          writeFile(file.c_str(), content);
        }
      };
      writeFiles();
      SimulationDefs by_key;
      readFiles(by_key);
      const ParamTable key_table = simulationTable(by_key, chamber);
      ASSERT_TRUE(setField(*findField(key_table, field.key), marker)) << field.key;

      lines[fileOf(field.key)][field.line][placeOnLine(table, k) - 1] = marker;
      writeFiles();
      SimulationDefs by_place;
      readFiles(by_place);
      EXPECT_EQ(tableValues(simulationTable(by_place, chamber)), tableValues(key_table))
          << field.key << " at " << fileOf(field.key) << ":" << field.line << ":"
          << placeOnLine(table, k);
    }
  }
}

}  // namespace
