// Result files of every batch program that cannot be written: each
// is reported as "Error writing <name>", the process ends with its status,
// and the earlier file of that name is left as it was, with no temporary
// file behind; the files that can be written still are.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
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
using testing_support::snapshot;
using testing_support::writeFile;


const char* const kEarlier = "earlier run\n";

std::string errors(const std::vector<std::string>& names) {
  std::string text = "seed: 5\n";
  for (const std::string& name : names) text += "Error writing " + name + "\n";
  return text;
}

// No temporary file of a failed write is left in the directory.
void expectNoTemporary(const std::string& dir) {
  for (const auto& [name, content] : snapshot(dir)) {
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << dir << ": " << name;
  }
}

class OutputFault : public ::testing::TestWithParam<const Program*> {
 protected:
  bool isBox() const { return GetParam()->chamber == ChamberKind::kBox; }

  // 60 spheres, so that the state file is by far the largest result: one
  // histogram cell, impact maps off, two rows of observables.
  void layOut(const std::string& dir) {
    Scene scene(*GetParam());
    scene.shot.count = 60;
    scene.shot.packing = 0.3;
    scene.setRestitution(0.9, 1.0);
    scene.chamber().amplitude = 0.5;
    scene.chamber().gravity = 3.924;
    scene.chamber().tolerance = 0.001;
    scene.box.cells_x = scene.box.cells_y = scene.cylinder.rings = 1;
    scene.run.step = 0.02;
    scene.run.time_limit = 0.1;
    scene.writeFiles(dir);
    writeFile(dir + "/state.out", kEarlier);
  }

  ChildResult run(const std::string& dir, const ChildOptions& options = {}) {
    const std::string program = builtProgram(GetParam()->batch_name);
    EXPECT_FALSE(program.empty()) << GetParam()->batch_name << " is not built";
    const ChildResult r = runChild(program, {"--seed", "5", "--observe-every", "1"}, dir, options);
    EXPECT_FALSE(r.timed_out) << dir;
    return r;
  }

  ScopedTempDir dir_{testing_support::scratchParent()};
};

// A directory in the way of a result file: the rename onto it fails.
TEST_P(OutputFault, AResultNameTakenByADirectoryIsReportedAndTheRestIsWritten) {
  struct Case {
    std::string name;
    std::vector<std::string> reported;
    int status;
  };
  std::vector<Case> cases{
      {"state.out", {"state.out"}, 1},
      {"observables.dat", {"observables.dat"}, 1},
      {"bot.hist", {"bot.hist"}, 1},
  };
  if (!isBox()) {
    // The ring histograms are written once more at start-up; their failure
    // does not end the run, but the process ends with status 1.
    cases[2] = {"bot.hist", {"bot.hist", "bot.hist"}, 1};
  } else {
    cases.push_back({"top.zone", {"top.zone"}, 1});
  }
  for (const Case& c : cases) {
    const std::string dir = "run-" + c.name;
    layOut(dir);
    std::filesystem::remove(dir + "/" + c.name);
    writeFile(dir + "/" + c.name + "/inside", kEarlier);
    const ChildResult r = run(dir);
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.err, errors(c.reported)) << c.name;
    EXPECT_EQ(testing_support::readFile(dir + "/" + c.name + "/inside"), kEarlier) << c.name;
    for (const char* result : {"state.out", "observables.dat", "top.hist", "bot.hist"}) {
      if (c.name != result) {
        EXPECT_NE(testing_support::readFile(dir + "/" + result), "") << result;
      }
    }
    if (c.name != "state.out") {
      EXPECT_NE(testing_support::readFile(dir + "/state.out"), kEarlier);
    }
    expectNoTemporary(dir);
  }
}

// Files may grow to 2 KB: the state file (60 lines) breaks off half-way,
// every other result fits. With no room at all, every write fails.
TEST_P(OutputFault, AWriteThatFailsHalfWayKeepsTheEarlierFile) {
  layOut("partly");
  ChildOptions limited;
  limited.file_size_limit = 2048;
  ChildResult r = run("partly", limited);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, errors({"state.out"}));
  EXPECT_EQ(testing_support::readFile("partly/state.out"), kEarlier);
  EXPECT_NE(testing_support::readFile("partly/top.hist"), "");
  expectNoTemporary("partly");

  layOut("none");
  const testing_support::Snapshot before = snapshot("none");
  limited.file_size_limit = 0;
  r = run("none", limited);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, !isBox() ? errors({"top.hist", "bot.hist", "observables.dat", "top.hist",
                                   "bot.hist", "state.out"})
                         : errors({"observables.dat", "top.hist", "top.zone", "bot.hist",
                                   "state.out"}));
  EXPECT_EQ(snapshot("none"), before);
}

// A directory the program may not write in. Root may write anywhere, so as
// root the program runs as the user nobody; the observables file, whose
// temporary is opened before the run, fails first and ends the start-up.
TEST_P(OutputFault, ADirectoryThatCannotBeWrittenEndsTheStartUpAndKeepsTheEarlierState) {
  layOut("locked");
  const testing_support::Snapshot before = snapshot("locked");
  ChildOptions options;
  if (geteuid() == 0) {
    options.as_nobody = true;
    ASSERT_NE(getpwnam("nobody"), nullptr) << "no user nobody to run as";
  } else {
    ASSERT_EQ(chmod("locked", 0555), 0);
  }
  const ChildResult r = run("locked", options);
  chmod("locked", 0755);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, !isBox() ? errors({"top.hist", "bot.hist", "observables.dat"})
                         : errors({"observables.dat"}));
  EXPECT_EQ(snapshot("locked"), before);
}

// A console that cannot take the run's lines: standard output closed, all
// three standard descriptors closed, or standard output a pipe whose reader
// has gone. The lines never reach a result file: with the descriptors
// closed the run leaves exactly the files of a run at a console; with the
// reader gone it ends as a stop signal ends it (status 141), every result
// written.
TEST_P(OutputFault, AConsoleThatCannotTakeTheLinesLeavesTheResultsAsTheyAre) {
  layOut("console");
  ASSERT_EQ(run("console").status, 0);
  const testing_support::Snapshot expected = snapshot("console");
  struct Case {
    std::string what;
    ChildOptions options;
    int status;
  };
  Case out{"standard output closed", {}, 0};
  out.options.closed = {1};
  Case all{"all three closed", {}, 0};
  all.options.closed = {0, 1, 2};
  Case gone{"output's reader gone", {}, 141};
  gone.options.reader_gone = true;
  for (const Case& c : {out, all, gone}) {
    const std::string dir = "run " + c.what;
    layOut(dir);
    EXPECT_EQ(run(dir, c.options).status, c.status) << c.what;
    const testing_support::Snapshot left = snapshot(dir);
    if (c.status == 0) {
      EXPECT_EQ(left, expected) << c.what;
      continue;
    }
    ASSERT_EQ(left.size(), expected.size()) << c.what;
    for (const auto& [name, content] : expected) {
      ASSERT_EQ(left.count(name), 1u) << c.what << ": " << name;
      if (name == "state.out") {
        EXPECT_EQ(std::count(left.at(name).begin(), left.at(name).end(), '\n'), 60) << c.what;
      }
    }
  }
}

// A run refused before it starts touches nothing: another run holds the
// directory, or a file stands where the snapshots' folder belongs. Once the
// other run is gone, the run goes ahead and clears the temporaries a killed
// run left behind, and only those.
TEST_P(OutputFault, ARunRefusedAtStartTouchesNothingAndALaterRunClearsDeadTemporaries) {
  layOut("busy");
  // No process has a pid this large; this test's own is alive.
  const std::string dead = "busy/observables.dat.99999999.tmp";
  const std::string dead_snapshot = "busy/snapshots/shot_000001.vtp.99999999.tmp";
  const std::string alive = "busy/state.out." + std::to_string(getpid()) + ".tmp";
  for (const std::string& name : {dead, dead_snapshot, alive}) writeFile(name, kEarlier);
  const testing_support::Snapshot before = snapshot("busy");

  const int other_run = open("busy", O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(flock(other_run, LOCK_EX | LOCK_NB), 0);
  ChildResult r = run("busy");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Run directory . is in use by another run\n");
  EXPECT_EQ(snapshot("busy"), before);
  close(other_run);

  layOut("blocked");
  writeFile("blocked/snapshots", kEarlier);
  const testing_support::Snapshot blocked = snapshot("blocked");
  r = runChild(builtProgram(GetParam()->batch_name), {"--seed", "5", "--snapshot-every", "1"},
               "blocked");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Cannot make directory snapshots: not a directory\n");
  EXPECT_EQ(snapshot("blocked"), blocked);

  r = run("busy");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(testing_support::fileExists(dead));
  EXPECT_FALSE(testing_support::fileExists(dead_snapshot));
  EXPECT_EQ(testing_support::readFile(alive), kEarlier);
}

INSTANTIATE_TEST_SUITE_P(Programs, OutputFault, testing_support::everyProgram(),
                         testing_support::programName);

}  // namespace
