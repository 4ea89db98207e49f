// Every input file of every program, batch and window alike, fed wrong: the
// program ends within seconds with the file's message and status 1 and
// nothing else on standard error (so no sanitizer report either), and
// leaves the earlier result files of its directory as the moment of the
// failure allows. The window program is run without a display: its start-up
// must fail before it needs one, and with good files it must get as far as
// the window. Which values each file is refused for, and what the reading
// convention accepts, are tested on the readers (parameterFilesTest,
// experimentTest); here the programs.

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "childProcess.h"
#include "scene.h"
#include "testSupport.h"

namespace {

using testing_support::builtProgram;
using testing_support::ChildOptions;
using testing_support::ChildResult;
using testing_support::runChild;
using testing_support::Scene;
using testing_support::ScopedTempDir;
using testing_support::Snapshot;
using testing_support::snapshot;
using testing_support::writeFile;

// The address space a bed of 200 000 spheres is allowed: room for the shot
// and the programs, not for all their records.
constexpr long kBigBedMemory = 40L << 20;

const std::string kGarbage = std::string("\x7f" "ELF\x02\x01\x01\x00\xff\xfe\x00\x01\x80\x90\xa0", 16) +
                             "\x7f" "ELF";

// When a start-up failure comes, and so what it leaves of the earlier
// result files: nothing touched while the files are read; once the chamber
// is built, its impact maps are open and emptied; once the first run is
// prepared, drumsim has also written its (empty) histograms.
// Exhausted: memory ran out (the message on standard error is then the one
// given as the last line).
enum class Stage { Reading, ChamberBuilt, RunPrepared, Exhausted };

class BadInput : public ::testing::TestWithParam<const Program*> {
 protected:
  const Program& program() const { return *GetParam(); }

  // A short run (a tenth of a cycle) of 12 spheres with impact maps on,
  // from a state file: two layers of a 3 x 2 grid at rest.
  Scene good() const {
    Scene scene(program());
    scene.shot.count = 12;
    scene.shot.packing = 0.3;
    scene.setRestitution(0.9, 1.0);
    scene.chamber().amplitude = 0.5;
    scene.chamber().gravity = 3.924;
    scene.chamber().tolerance = 0.001;
    scene.chamber().maps = 1;
    scene.run.step = 0.02;
    scene.run.time_limit = 0.1;
    for (int z : {0, 2})
      for (int y : {-3, 3})
        for (int x : {-3, 0, 3})
          scene.state += std::to_string(x) + " " + std::to_string(y) + " " +
                         std::to_string(z) + " 0.1 0 0\n";
    return scene;
  }

  // The files the program reads, in its order: the batch program reads no
  // drawing files.
  std::vector<std::string> filesRead(bool batch) const {
    if (batch) return {"ini/par.ini", "ini/shot.ini", program().chamber_file, "start.state"};
    return {"ini/par.ini",        "ini/shot.ini",     "ini/shotGL.ini", program().chamber_file,
            program().chamber_draw_file, "start.state", "ini/parGL.ini"};
  }

  static Stage stageOf(const std::string& file, const Program& program) {
    if (file == program.chamber_draw_file) return Stage::ChamberBuilt;
    if (file == "start.state" || file == "ini/parGL.ini") return Stage::RunPrepared;
    return Stage::Reading;
  }

  // Runs the program in a fresh directory holding the scene's files,
  // replaced by `files` ("" text: the file is missing), and the result files
  // of an earlier run. Checks the refusal: status 1, "Error reading <file>"
  // on standard error or `last_line` at the end of standard output, the
  // files left as the stage allows.
  void expectRefused(bool batch, const Scene& scene,
                     const std::vector<std::pair<std::string, std::string>>& files,
                     const std::string& failing, Stage stage,
                     const std::string& last_line = "", const std::string& engine = "",
                     const ChildOptions& limits = {}) {
    const std::string name = batch ? program().batch_name : program().name;
    const std::string label = name + " " + engine + ", " + failing +
                              (last_line.empty() ? "" : ": " + last_line);
    const std::string dir = layOut(scene, files);
    const Snapshot before = snapshot(dir);
    const ChildResult r = run(batch, dir, false, engine, limits);
    ASSERT_FALSE(r.timed_out) << label << ": still running after 10 s";
    EXPECT_EQ(r.status, 1) << label;
    const std::string seed = batch ? "seed: 1\n" : "";
    if (stage == Stage::Exhausted) {
      EXPECT_EQ(r.err, seed + last_line + "\n") << label;
    } else if (last_line.empty()) {
      EXPECT_EQ(r.err, seed + "Error reading " + failing + "\n") << label;
    } else {
      // The placement is tested before anything is predicted: its verdict
      // follows its heading at once.
      EXPECT_EQ(r.err, seed) << label;
      const std::string last = "Testing for overlaps...\n" + last_line + "\n";
      EXPECT_TRUE(r.out.size() >= last.size() &&
                  r.out.compare(r.out.size() - last.size(), last.size(), last) == 0)
          << label << "\n" << r.out;
    }
    if (stage == Stage::Exhausted) {  // nothing is written; maps may be emptied
      EXPECT_EQ(snapshot(dir)["state.out"], before.at("state.out")) << label;
      return;
    }
    Snapshot expected = before;
    if (stage != Stage::Reading) expected["top.map"] = expected["bot.map"] = "";
    if (stage == Stage::RunPrepared && program().run_start == RunStart::kStateFileEveryRun) {
      expected["top.hist"] = expected["bot.hist"] =
          "# 0 hits\n# 1 0 0 block, lines, blanks\n# 3 columns (density, pressure, energy)\n";
    }
    EXPECT_EQ(snapshot(dir), expected) << label;
  }

  std::string layOut(const Scene& scene,
                     const std::vector<std::pair<std::string, std::string>>& files) {
    const std::string dir = "run" + std::to_string(++runs_);
    scene.writeFiles(dir);
    for (const auto& [file, text] : files) {
      if (text.empty()) {
        std::remove((dir + "/" + file).c_str());
      } else {
        writeFile(dir + "/" + file, text);
      }
    }
    for (const char* earlier : {"state.out", "top.map", "bot.map", "top.hist", "bot.hist", "top.zone"}) {
      writeFile(dir + "/" + earlier, std::string("earlier ") + earlier + "\n");
    }
    return dir;
  }

  // engine: "" for the program's default, else given with --engine.
  ChildResult run(bool batch, const std::string& dir, bool accepted,
                  const std::string& engine = "", const ChildOptions& limits = {}) {
    const std::string path = builtProgram(batch ? program().batch_name : program().name);
    EXPECT_FALSE(path.empty()) << "not built";
    ChildOptions options = limits;
    options.unset = {"DISPLAY", "WAYLAND_DISPLAY"};
    options.limit = std::chrono::seconds(10);
    // Without a display the window program ends in the window toolkit;
    // that exit path is no start-up failure, and the toolkit's own blocks
    // are no concern here.
    if (accepted && !batch) options.set = {"ASAN_OPTIONS=detect_leaks=0"};
    std::vector<std::string> args;
    if (batch) args = {"--seed", "1"};
    if (!engine.empty()) args.insert(args.end(), {"--engine", engine});
    return runChild(path, args, dir, options);
  }

  bool windowBuilt() const { return !builtProgram(program().name).empty(); }

  ScopedTempDir dir_{testing_support::scratchParent()};
  int runs_ = 0;
};

// With every file spoiled, the program reports the first it reads; with
// that one mended, the next; and so on through its reading order, each
// failure leaving the files its moment allows. A missing first file is
// refused as a spoiled one.
TEST_P(BadInput, FilesAreRefusedOneAtATimeInTheOrderTheyAreRead) {
  for (bool batch : {true, false}) {
    if (!batch && !windowBuilt()) continue;
    const std::vector<std::string> order = filesRead(batch);
    for (std::size_t k = 0; k < order.size(); ++k) {
      std::vector<std::pair<std::string, std::string>> spoiled;
      for (std::size_t j = k; j < order.size(); ++j) spoiled.push_back({order[j], kGarbage});
      expectRefused(batch, good(), spoiled, order[k], stageOf(order[k], program()));
    }
    // The run parameters missing altogether: refused before anything is written.
    expectRefused(batch, good(), {{"ini/par.ini", ""}}, "ini/par.ini", Stage::Reading);
  }
}

// The faults that are no fault of a file's reading: a state file that is
// missing, holds a sphere outside the chamber, two in one place, or one
// faster than the chamber's speed limit (its square no double, or beyond
// the limit); spheres placed at random too fast; a chamber too narrow for
// one sphere, or with its top within a diameter of the base's highest
// reach (known once the diameter is).
// Both engines test the placement before they predict, sphere by sphere in
// index order, each sphere's containment first: the first bad sphere decides.
TEST_P(BadInput, StartsThatCannotBePlacedAreRefused) {
  const std::string state = good().state;
  // The state with one number replaced: sphere `line`, value `field`.
  auto replacedIn = [](const std::string& text_in, int line, int field, const std::string& token) {
    std::string text, row;
    std::istringstream is(text_in);
    for (int i = 0; std::getline(is, row); ++i) {
      if (i == line) {
        std::istringstream words(row);
        std::string word, rebuilt;
        for (int j = 0; words >> word; ++j) rebuilt += (j ? " " : "") + (j == field ? token : word);
        row = rebuilt;
      }
      text += row + "\n";
    }
    return text;
  };
  auto replaced = [&](int line, int field, const std::string& token) {
    return replacedIn(state, line, field, token);
  };
  Scene narrow = good();
  narrow.box.half_x = 0.4;
  narrow.cylinder.radius = 0.5;
  Scene low = good();
  low.chamber().height = 1.2;
  Scene hot = good();
  hot.state.clear();
  hot.shot.temperature = 1e90;
  // Sphere 1 on sphere 0, and sphere 2 below the base: sphere 1 decides.
  const std::string overlap_first = replacedIn(replaced(1, 0, "-3"), 2, 2, "-1");
  for (bool batch : {true, false}) {
    if (!batch && !windowBuilt()) continue;
    expectRefused(batch, good(), {{"start.state", ""}}, "start.state", Stage::RunPrepared);
    expectRefused(batch, good(), {{"start.state", replaced(4, 5, "1e300")}}, "start.state",
                  Stage::RunPrepared);
    expectRefused(batch, good(), {{"start.state", replaced(4, 3, "1e30")}}, "start.state",
                  Stage::RunPrepared);
    expectRefused(batch, hot, {}, "ini/shot.ini", Stage::RunPrepared);
    expectRefused(batch, narrow, {}, program().chamber_file, Stage::RunPrepared);
    expectRefused(batch, low, {}, program().chamber_file, Stage::RunPrepared);
    for (const char* engine : {"reference", "fast"}) {
      expectRefused(batch, good(), {{"start.state", replaced(4, 0, "10")}}, "start.state",
                    Stage::RunPrepared, "NOT IN CHAMBER", engine);
      expectRefused(batch, good(), {{"start.state", replaced(4, 2, "-1")}}, "start.state",
                    Stage::RunPrepared, "NOT IN CHAMBER", engine);
      expectRefused(batch, good(), {{"start.state", replaced(7, 0, "-2.5")}}, "start.state",
                    Stage::RunPrepared, "OVERLAP", engine);
      expectRefused(batch, good(), {{"start.state", overlap_first}}, "start.state",
                    Stage::RunPrepared, "OVERLAP", engine);
    }
  }
}

// A bed too big for the memory the process may take: whichever allocation
// fails, of the shot, of the placement or of either engine, the run ends
// with the report and status 1, never an exception. (Under the sanitizers
// the limit cannot be set: they reserve their own address space.)
TEST_P(BadInput, ABedTooBigForTheMemoryIsReported) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address space is the sanitizer's";
#else
  Scene big = good();
  big.state.clear();
  big.run.restart = 0;  // random placement
  big.shot.count = 200000;
  big.shot.packing = 0.05;
  ChildOptions limits;
  limits.memory_limit = kBigBedMemory;
  for (const char* engine : {"reference", "fast"}) {
    expectRefused(true, big, {}, "", Stage::Exhausted, "Not enough memory for 200000 spheres",
                  engine, limits);
  }
#endif
}

// Two spheres found overlapping by less than the tolerance and approaching:
// their contact lies in the past, and both engines say so, with its time
// (the reference loop as it predicts the first event, the fast engine as it
// carries the collision out, within the first step).
TEST_P(BadInput, AContactInThePastIsReportedByEitherEngine) {
  Scene scene = good();
  scene.shot.tolerance = 0.2;
  // Spheres 0 and 1 at 0.8, approaching at 2: they touched 0.1 ago.
  std::string state;
  std::istringstream is(scene.state);
  std::string row;
  for (int i = 0; std::getline(is, row); ++i) {
    if (i == 0) row = "-3 -3 0 1 0 0";
    if (i == 1) row = "-2.2 -3 0 -1 0 0";
    state += row + "\n";
  }
  scene.state = state;
  for (const char* engine : {"reference", "fast"}) {
    const std::string dir = layOut(scene, {});
    const ChildResult r = run(true, dir, true, engine);
    EXPECT_EQ(r.status, 0) << engine << "\n" << r.err;
    EXPECT_NE(r.out.find("\nNEGATIVE INTRASHOT IMPACT TIME : -0.1\n"), std::string::npos)
        << engine << "\n" << r.out;
  }
}

// cratesim's window file has two lines (a third is comment), drumsim's
// needs its third, the camera's turn and tilt.
TEST_P(BadInput, TheWindowFileHasTheProgramsLines) {
  if (!windowBuilt()) GTEST_SKIP() << program().name << " is not built";
  const std::pair<std::string, std::string> two_lines{"ini/parGL.ini", "15 45\n8\n"};
  if (program().view_angles) {
    expectRefused(false, good(), {two_lines}, "ini/parGL.ini", Stage::RunPrepared);
  } else {
    const ChildResult r = run(false, layOut(good(), {two_lines}), true);
    EXPECT_EQ(r.err.find("Error reading"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("failed to open display"), std::string::npos) << r.err;
  }
}

// Good files: the batch program runs to its limits, the window program gets
// as far as opening its window and is stopped there by the missing display.
TEST_P(BadInput, GoodFilesRun) {
  const std::string dir = layOut(good(), {});
  ChildResult r = run(true, dir, true);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "seed: 1\n");
  EXPECT_NE(snapshot(dir)["state.out"], "earlier state.out\n");
  if (!windowBuilt()) return;
  r = run(false, dir, true);
  EXPECT_NE(r.out.find("Testing for overlaps...\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("Error reading"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("failed to open display"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Programs, BadInput, testing_support::everyProgram(),
                         testing_support::programName);

}  // namespace
