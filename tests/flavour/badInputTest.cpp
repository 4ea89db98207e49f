// Every input file of the flavour's two programs, the batch program and the
// window program, fed wrong. Each case must end within seconds with its
// message and status and nothing else on standard error (so no sanitizer
// report either), and leave the earlier result files of its directory as
// the moment of the failure allows. The window program is run without a
// display: its start-up must fail before it needs one. The inputs that the
// reading convention accepts must still run.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "childProcess.h"
#include "flavourFiles.h"
#include "testSupport.h"

namespace {

using testing_support::builtProgram;
using testing_support::ChildOptions;
using testing_support::ChildResult;
using testing_support::runChild;
using testing_support::ScopedTempDir;
using testing_support::Snapshot;
using testing_support::snapshot;
using testing_support::writeFile;


constexpr const char* kState = "start.state";
const std::string kMissing = "<missing>";

// Lines of the chamber file by name, in the order of the flavour's layout.
std::vector<std::pair<std::string, std::string>> chamberLines() {
  if (kDrum) {
    return {{"size", "5.5 20"}, {"motion", "0.5 1"}, {"gravity", "3.924"},
            {"base", "0.9 1"},  {"wall", "0.9 1"},   {"top", "0.9 1"},
            {"rebound", "0.05"}, {"tolerance", "0.001"}, {"start", "0 1"},
            {"maps", "1"},      {"cells", "4"}};
  }
  return {{"size", "5 5 20"}, {"motion", "0.5 1"}, {"gravity", "3.924"},
          {"base", "0.9 1"},  {"wall", "0.9 1"},   {"top", "0.9 1"},
          {"tolerance", "0.001"}, {"start", "0 1"}, {"maps", "1"},
          {"cells", "4 4"}};
}

std::string chamberWith(const std::string& key, const std::string& value) {
  std::string text;
  for (const auto& [name, line] : chamberLines()) text += (name == key ? value : line) + "\n";
  return text;
}

// Twelve spheres at rest, two layers of a 3 x 2 grid, inside both chambers.
std::string goodState() {
  std::string text;
  for (int z : {0, 2})
    for (int y : {-3, 3})
      for (int x : {-3, 0, 3})
        text += std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + " 0.1 0 0\n";
  return text;
}

// A short run (a tenth of a cycle) of 12 spheres with impact maps on; the
// drawing files of both programs.
std::map<std::string, std::string> goodFiles() {
  return {{"ini/par.ini", "0\n0.02\n0\n0.1\n"},
          {"ini/shot.ini", "12 1\n0.3 1 0\n0.9 1\n0.001\n"},
          {kChamberFile, chamberWith("", "")},
          {"ini/parGL.ini", "10 36\n10\n0 20\n"},
          {"ini/shotGL.ini", "8\n8\n0.1 0.25 0.9\n0.95 0.2 0.1\n1 0.9 0\n"},
          {kChamberGLFile, kDrum ? "48\n20\n0.2 0.2 0.25 1\n0.6 0.75 0.95 0.15\n"
                             : "20\n0.2 0.2 0.25 1\n0.6 0.75 0.95 0.15\n"},
          {kState, goodState()}};
}

// The text with the token at (line, field), both counted from 0, replaced.
std::string replaceToken(const std::string& text, int line, int field, const std::string& token) {
  std::istringstream is(text);
  std::string result, row;
  for (int i = 0; std::getline(is, row); ++i) {
    if (i == line) {
      std::istringstream words(row);
      std::string word, rebuilt;
      for (int j = 0; words >> word; ++j) rebuilt += (rebuilt.empty() ? "" : " ") + (j == field ? token : word);
      row = rebuilt;
    }
    result += row + "\n";
  }
  return result;
}

// When a start-up failure comes, and so what it leaves of the earlier
// result files: nothing touched while the files are read; once the chamber
// is built, its impact maps are open and emptied; once the first run is
// prepared, drumsim has also written its (empty) histograms.
enum class Stage { Reading, ChamberBuilt, RunPrepared };

struct Case {
  std::string what;
  std::string file;  // the input replaced
  std::string text;  // its content, or kMissing
  std::string stdout_last = "";  // "": "Error reading <file>" on stderr
  Stage stage = Stage::Reading;
  bool restart = false;  // par.ini names the state file
};

// The generic faults of any file: gone, empty, cut short, a word, nan and
// inf for the real at (line, field), a 1 MB number and binary garbage.
std::vector<Case> genericFaults(const std::string& file, int line, int field, Stage stage,
                                bool restart = false) {
  const std::string good = goodFiles()[file];
  const std::string garbage("\x7f" "ELF\x02\x01\x01\x00\xff\xfe\x00\x01\x80\x90\xa0", 16);
  std::vector<Case> cases{
      {"missing", file, kMissing},
      {"empty", file, ""},
      {"cut after its first value", file, good.substr(0, good.find_first_of(" \n"))},
      {"not a number", file, replaceToken(good, 0, 0, "many")},
      {"nan", file, replaceToken(good, line, field, "nan")},
      {"inf", file, replaceToken(good, line, field, "inf")},
      {"-inf", file, replaceToken(good, line, field, "-inf")},
      {"a 1 MB number", file, replaceToken(good, 0, 0, std::string(1 << 20, '9'))},
      {"binary garbage", file, std::string(garbage) + garbage + garbage},
  };
  for (Case& c : cases) {
    c.stage = stage;
    c.restart = restart;
  }
  return cases;
}

class BadInput : public ::testing::Test {
 protected:
  // Runs the case in both programs: a fresh directory with the good files,
  // the case's file replaced, and the result files of an earlier run.
  void expectRefused(const Case& c) { run(c, false); }
  void expectAccepted(const Case& c) { run(c, true); }

 private:
  void run(const Case& c, bool accepted) {
    const bool window_file = c.file.find("GL.ini") != std::string::npos;
    if (!window_file) runProgram(builtProgram(kBatch), c, accepted, true);
    const std::string window = builtProgram(kWindow);
    if (!window.empty()) runProgram(window, c, accepted, false);
  }

  std::string layOut(const Case& c) {
    const std::string dir = "run" + std::to_string(++runs_);
    for (auto [name, text] : goodFiles()) {
      if (name == "ini/par.ini" && c.restart) text = "1 start.state\n0.02\n0\n0.1\n";
      if (name == c.file) {
        if (c.text == kMissing) continue;
        text = c.text;
      }
      writeFile(dir + "/" + name, text);
    }
    for (const char* earlier : {"state.out", "top.map", "bot.map", "top.hist", "bot.hist", "top.zone"}) {
      writeFile(dir + "/" + earlier, std::string("earlier ") + earlier + "\n");
    }
    return dir;
  }

  void runProgram(const std::string& program, const Case& c, bool accepted, bool batch) {
    ASSERT_FALSE(program.empty()) << kBatch << " is not built";
    const std::string label = std::string(batch ? kBatch : kWindow) + ", " + c.file + ": " + c.what;
    const std::string dir = layOut(c);
    const Snapshot before = snapshot(dir);
    ChildOptions options;
    options.unset = {"DISPLAY", "WAYLAND_DISPLAY"};
    options.limit = std::chrono::seconds(10);
    // Without a display the window program ends in the window toolkit;
    // that exit path is no start-up failure, and the toolkit's own blocks
    // are no concern here.
    if (accepted && !batch) options.set = {"ASAN_OPTIONS=detect_leaks=0"};
    const ChildResult r = runChild(program, batch ? std::vector<std::string>{"--seed", "1"}
                                                  : std::vector<std::string>{},
                                   dir, options);
    ASSERT_FALSE(r.timed_out) << label << ": still running after 10 s";
    const std::string seed = batch ? "seed: 1\n" : "";
    if (accepted) {
      if (batch) {
        EXPECT_EQ(r.status, 0) << label << "\n" << r.err;
        EXPECT_EQ(r.err, seed) << label;
        EXPECT_NE(snapshot(dir)["state.out"], before.at("state.out")) << label;
      } else {
        EXPECT_NE(r.out.find("Testing for overlaps...\n"), std::string::npos) << label << "\n" << r.out;
        EXPECT_EQ(r.err.find("Error reading"), std::string::npos) << label << "\n" << r.err;
        EXPECT_NE(r.err.find("failed to open display"), std::string::npos) << label << "\n" << r.err;
      }
      return;
    }
    EXPECT_EQ(r.status, 1) << label;
    if (c.stdout_last.empty()) {
      EXPECT_EQ(r.err, seed + "Error reading " + c.file + "\n") << label;
    } else {
      EXPECT_EQ(r.err, seed) << label;
      const std::string last = c.stdout_last + "\n";
      EXPECT_TRUE(r.out.size() >= last.size() &&
                  r.out.compare(r.out.size() - last.size(), last.size(), last) == 0)
          << label << "\n" << r.out;
    }
    Snapshot expected = before;
    if (c.stage != Stage::Reading) expected["top.map"] = expected["bot.map"] = "";
    if (c.stage == Stage::RunPrepared && kDrum) {
      expected["top.hist"] = expected["bot.hist"] =
          "# 0 hits\n# 1 0 0 block, lines, blanks\n# 3 columns (density, pressure, energy)\n";
    }
    EXPECT_EQ(snapshot(dir), expected) << label;
  }

  ScopedTempDir dir_{testing_support::scratchParent()};
  int runs_ = 0;
};

TEST_F(BadInput, RunParametersAreRefusedWithTheReadError) {
  std::vector<Case> cases = genericFaults("ini/par.ini", 1, 0, Stage::Reading);
  const std::vector<std::pair<std::string, std::string>> bad{
      {"zero step", "0\n0\n0\n0.1\n"},
      {"negative step", "0\n-0.02\n0\n0.1\n"},
      {"step lost in the rounding of the time limit", "0\n1e-20\n0\n0.1\n"},
      {"negative event limit", "0\n0.02\n-1\n0.1\n"},
      {"negative time limit", "0\n0.02\n0\n-0.1\n"},
      {"event limit beyond an int", "0\n0.02\n99999999999\n0.1\n"},
      {"restart flag without a name", "1\n0.02\n0\n0.1\n"},
  };
  for (const auto& [what, text] : bad) cases.push_back({what, "ini/par.ini", text});
  for (const Case& c : cases) expectRefused(c);
}

TEST_F(BadInput, ShotParametersAreRefusedWithTheReadError) {
  std::vector<Case> cases = genericFaults("ini/shot.ini", 0, 1, Stage::Reading);
  const std::vector<std::pair<std::string, std::string>> bad{
      {"no sphere", "0 1\n0.3 1 0\n0.9 1\n0.001\n"},
      {"negative count", "-12 1\n0.3 1 0\n0.9 1\n0.001\n"},
      {"a billion spheres", "1000000000 1\n0.3 1 0\n0.9 1\n0.001\n"},
      {"count beyond an int", "99999999999 1\n0.3 1 0\n0.9 1\n0.001\n"},
      {"zero diameter", "12 0\n0.3 1 0\n0.9 1\n0.001\n"},
      {"negative diameter", "12 -1\n0.3 1 0\n0.9 1\n0.001\n"},
      {"empty bed", "12 1\n0 1 0\n0.9 1\n0.001\n"},
      {"solid bed", "12 1\n1 1 0\n0.9 1\n0.001\n"},
      {"negative temperature", "12 1\n0.3 -1 0\n0.9 1\n0.001\n"},
      {"restitution above 1", "12 1\n0.3 1 0\n1.5 1\n0.001\n"},
      {"negative restitution", "12 1\n0.3 1 0\n-0.1 1\n0.001\n"},
      {"zero threshold speed", "12 1\n0.3 1 0\n0.9 0\n0.001\n"},
      {"negative threshold speed", "12 1\n0.3 1 0\n0.9 -1\n0.001\n"},
      {"negative tolerance", "12 1\n0.3 1 0\n0.9 1\n-0.001\n"},
  };
  for (const auto& [what, text] : bad) cases.push_back({what, "ini/shot.ini", text});
  for (const Case& c : cases) expectRefused(c);
}

TEST_F(BadInput, ChamberParametersAreRefusedWithTheReadError) {
  std::vector<Case> cases = genericFaults(kChamberFile, 2, 0, Stage::Reading);
  std::vector<std::pair<std::string, std::string>> bad{
      {"motion", "-0.5 1"},   {"motion", "0.5 0"},    {"motion", "0.5 -1"},
      {"motion", "0.5 1e-320"},  // a period whose inverse is no double
      {"motion", "1e300 1e-10"},  // a base speed that is no double
      {"gravity", "0"},       {"gravity", "-3.924"},  {"gravity", "1e-320"},
      {"base", "1.1 1"},      {"base", "-0.1 1"},     {"base", "0.9 0"},
      {"base", "0.9 1e-320"}, {"wall", "0.9 -1"},     {"top", "2 1"},
      {"tolerance", "-0.001"}, {"start", "0.6 1"},    {"start", "-0.6 1"},
      {"start", "0 0"},       {"start", "0 2"},       {"start", "0 -2"},
  };
  const std::vector<std::pair<std::string, std::string>> own =
      kDrum ? std::vector<std::pair<std::string, std::string>>{
                  {"size", "0 20"}, {"size", "-5.5 20"}, {"rebound", "-0.05"},
                  {"cells", "0"},   {"cells", "-4"},     {"cells", "100000000"}}
            : std::vector<std::pair<std::string, std::string>>{
                  {"size", "0 5 20"}, {"size", "5 -1 20"}, {"size", "-5 5 20"},
                  {"cells", "0 4"},   {"cells", "4 -1"},   {"cells", "10000 10000"}};
  bad.insert(bad.end(), own.begin(), own.end());
  for (const auto& [key, value] : bad) cases.push_back({key + " " + value, kChamberFile, chamberWith(key, value)});
  // Too narrow for one sphere: known only once the shot gives its diameter.
  Case narrow{"narrower than a sphere", kChamberFile, chamberWith("size", kDrum ? "0.5 20" : "0.4 5 20")};
  narrow.stage = Stage::RunPrepared;
  cases.push_back(narrow);
  for (const Case& c : cases) expectRefused(c);
}

TEST_F(BadInput, StateFilesAreRefusedWithTheReadErrorOrThePlacementCheck) {
  std::vector<Case> cases = genericFaults(kState, 3, 2, Stage::RunPrepared, true);
  const std::string good = goodState();
  std::vector<Case> own{
      {"too few numbers", kState, good.substr(0, good.rfind(" 0.1 0 0\n"))},
      {"a number that overflows a double", kState, replaceToken(good, 5, 0, "1e400")},
      {"outside the wall", kState, replaceToken(good, 4, 0, "10"), "NOT IN CHAMBER"},
      {"below the base", kState, replaceToken(good, 4, 2, "-1"), "NOT IN CHAMBER"},
      {"two spheres in one place", kState, replaceToken(good, 7, 0, "-2.5"), "OVERLAP"},
  };
  for (Case& c : own) {
    c.stage = Stage::RunPrepared;
    c.restart = true;
    cases.push_back(c);
  }
  for (const Case& c : cases) expectRefused(c);
}

TEST_F(BadInput, WindowParametersAreRefusedWithTheReadError) {
  if (builtProgram(kWindow).empty()) GTEST_SKIP() << kWindow << " is not built";
  std::vector<Case> cases = genericFaults("ini/shotGL.ini", 1, 0, Stage::Reading);
  for (Case& c : genericFaults(kChamberGLFile, 2, 1, Stage::ChamberBuilt)) cases.push_back(c);
  for (Case& c : genericFaults("ini/parGL.ini", 0, 1, Stage::RunPrepared)) cases.push_back(c);
  const std::vector<std::tuple<std::string, std::string, Stage>> bad{
      {"ini/shotGL.ini", "0\n8\n0.1 0.25 0.9\n0.95 0.2 0.1\n1 0.9 0\n", Stage::Reading},
      // A sphere of one stack shows nothing; one of 182 has more vertices
      // than the window toolkit numbers in 16 bits.
      {"ini/shotGL.ini", "1\n8\n0.1 0.25 0.9\n0.95 0.2 0.1\n1 0.9 0\n", Stage::Reading},
      {"ini/shotGL.ini", "182\n8\n0.1 0.25 0.9\n0.95 0.2 0.1\n1 0.9 0\n", Stage::Reading},
      {"ini/shotGL.ini", "8\n0\n0.1 0.25 0.9\n0.95 0.2 0.1\n1 0.9 0\n", Stage::Reading},
      {"ini/parGL.ini", "0 36\n10\n0 20\n", Stage::RunPrepared},
      {"ini/parGL.ini", "40 36\n10\n0 20\n", Stage::RunPrepared},
  };
  for (const auto& [file, text, stage] : bad) {
    Case c{"out of range", file, text};
    c.stage = stage;
    cases.push_back(c);
  }
  if (kDrum) {
    // Too few facets or bands; a cylinder of more facets than the window
    // toolkit can number the vertices of in 16 bits; bands beyond sight.
    for (const char* text : {"2\n20\n0.2 0.2 0.25 1\n0.6 0.75 0.95 0.15\n",
                             "48\n0\n0.2 0.2 0.25 1\n0.6 0.75 0.95 0.15\n",
                             "16384\n20\n0.2 0.2 0.25 1\n0.6 0.75 0.95 0.15\n",
                             "2000000000\n20\n0.2 0.2 0.25 1\n0.6 0.75 0.95 0.15\n",
                             "48\n10001\n0.2 0.2 0.25 1\n0.6 0.75 0.95 0.15\n"}) {
      Case c{"out of range", kChamberGLFile, text};
      c.stage = Stage::ChamberBuilt;
      cases.push_back(c);
    }
  }
  for (const Case& c : cases) expectRefused(c);
}

// What the convention allows: comments and blank lines, a value taken from
// the next line, a fraction where an integer is read, Windows line ends, a
// 1 MB comment, no newline at the end, and a state file with its numbers laid
// out freely and more of them than the shot needs; the window files at the
// bounds of their counts.
TEST_F(BadInput, InputsTheConventionAllowsStillRun) {
  const std::string state = goodState();
  std::string one_line = state;
  for (char& ch : one_line) ch = ch == '\n' ? ' ' : ch;
  std::string crlf;
  for (char ch : state) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  std::vector<Case> cases{
      {"comments and blank lines", "ini/par.ini",
       "\n0 no restart, 1 2 3\n\n\n  0.02 step 5\n0 events\n\n0.1 cycles\n"},
      {"a comment of 1 MB", "ini/par.ini", "0 " + std::string(1 << 20, 'x') + "\n0.02\n0\n0.1\n"},
      {"a fractional event limit", "ini/par.ini", "0\n0.02\n0.9\n0.1\n"},
      {"Windows line ends, no newline at the end", "ini/shot.ini",
       "12 1\r\n0.3 1 0\r\n0.9 1\r\n0.001"},
      {"the diameter on the next line", "ini/shot.ini", "12\n1\n0.3 1 0\n0.9 1\n0.001\n"},
      {"fractional counts", kChamberFile,
       chamberWith("cells", kDrum ? "4.9 rings" : "4 4.9 cells") },
      {"a fractional map switch", kChamberFile, chamberWith("maps", "1.5 maps on")},
      {"all numbers on one line", kState, one_line, "", Stage::Reading, true},
      {"Windows line ends", kState, crlf, "", Stage::Reading, true},
      {"numbers after the last sphere", kState, state + "1 2 3 4 5 6\n7 8\n", "", Stage::Reading, true},
      {"the finest sphere detail", "ini/shotGL.ini", "181\n8\n0.1 0.25 0.9\n0.95 0.2 0.1\n1 0.9 0\n"},
  };
  if (kDrum) {
    cases.push_back({"the most facets and bands", kChamberGLFile,
                     "16383\n10000\n0.2 0.2 0.25 1\n0.6 0.75 0.95 0.15\n"});
  }
  for (const Case& c : cases) expectAccepted(c);
}

}  // namespace
