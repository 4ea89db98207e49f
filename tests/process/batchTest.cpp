// The batch program of every program, run as a researcher runs it: in a
// directory of parameter files, to its limits or until a signal.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "box.h"
#include "childProcess.h"
#include "cylinder.h"
#include "profiles.h"
#include "scene.h"
#include "testSupport.h"

namespace {

using testing_support::builtProgram;
using testing_support::ChildOptions;
using testing_support::ChildResult;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::runChild;
using testing_support::Scene;
using testing_support::ScopedTempDir;
using testing_support::World;

// Lines of a text, the sphere-sphere overlap notices left out (a lively
// shot may print them at any time).
std::vector<std::string> consoleLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream is(text);
  std::string line;
  while (std::getline(is, line)) {
    if (line.rfind("NEGATIVE INTRASHOT IMPACT TIME : ", 0) != 0) lines.push_back(line);
  }
  return lines;
}

// Checks a state file: one line of six numbers per sphere.
void expectStateOf(const std::string& name, int spheres) {
  std::istringstream is(readFile(name));
  std::string line;
  int lines = 0;
  while (std::getline(is, line)) {
    std::istringstream fields(line);
    double value = 0.0;
    int count = 0;
    while (fields >> value) ++count;
    EXPECT_TRUE(fields.eof()) << "line " << lines + 1 << ": " << line;
    EXPECT_EQ(count, 6) << "line " << lines + 1 << ": " << line;
    ++lines;
  }
  EXPECT_EQ(lines, spheres) << name;
}

// A table of numbers with a header line "# " and its column names
// (observables.dat, profiles.dat).
struct Table {
  std::vector<std::string> names;
  std::vector<std::vector<std::string>> rows;  // the numbers as written
  double value(std::size_t row, const std::string& name) const {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i] == name) return std::strtod(rows[row][i].c_str(), nullptr);
    }
    ADD_FAILURE() << "no column " << name;
    return 0.0;
  }
};

Table readTable(const std::string& name) {
  Table table;
  std::istringstream is(readFile(name));
  std::string line;
  if (std::getline(is, line) && line.rfind("# ", 0) == 0) {
    std::istringstream header(line.substr(2));
    for (std::string word; header >> word;) table.names.push_back(word);
  }
  while (std::getline(is, line)) {
    std::istringstream fields(line);
    std::vector<std::string> row;
    for (std::string field; fields >> field;) row.push_back(field);
    table.rows.push_back(row);
  }
  return table;
}

class BatchRun : public ::testing::TestWithParam<const Program*> {
 protected:
  const Program& program() const { return *GetParam(); }
  bool isBox() const { return program().chamber == ChamberKind::kBox; }

  // A short, lively run: a few spheres on a vibrating base, partly
  // inelastic, impact maps on.
  Scene lively() const {
    Scene scene(program());
    scene.shot.count = 12;
    scene.shot.packing = 0.3;
    scene.setRestitution(0.9, 1.0);
    scene.chamber().amplitude = 0.5;
    scene.chamber().maps = 1;
    scene.run.step = 0.02;
    scene.run.time_limit = 5.0;
    return scene;
  }

  ChildResult run(const std::vector<std::string>& args, const std::string& directory = ".",
                  ChildOptions options = {}) {
    const std::string batch = builtProgram(program().batch_name);
    EXPECT_FALSE(batch.empty()) << program().batch_name << " is not built";
    options.limit = std::chrono::seconds(120);
    const ChildResult r = runChild(batch, args, directory, options);
    EXPECT_FALSE(r.timed_out) << program().batch_name << " still running after 120 s";
    return r;
  }

  void expectResultFiles(const std::string& directory, int spheres) {
    expectStateOf(directory + "/state.out", spheres);
    EXPECT_EQ(readFile(directory + "/observables.dat").rfind("# t events collisions ", 0), 0u);
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
      EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
    }
    EXPECT_FALSE(readFile(directory + "/top.hist").empty());
    EXPECT_FALSE(readFile(directory + "/bot.hist").empty());
    EXPECT_EQ(!readFile(directory + "/top.zone").empty(), isBox());
  }

  ScopedTempDir dir_{testing_support::scratchParent()};
};

TEST_P(BatchRun, CompleteRunWritesEveryResultFile) {
  lively().writeFiles("run");
  const ChildResult outcome = run({"--seed", "42", "run"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "seed: 42\n");

  const std::string word = program().event_word;
  std::vector<std::string> expected{"Distributing shot randomly... DONE", "Testing for overlaps...",
                                    "Computing 0 " + word + " / 5 cycles...", ""};
  if (!isBox()) expected.push_back("Dumping stats... DONE");
  expected.push_back("Dumping state vector to file... DONE");
  const std::vector<std::string> lines = consoleLines(outcome.out);
  ASSERT_EQ(lines.size(), expected.size()) << outcome.out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (expected[i].empty()) {
      const std::regex summary("[1-9][0-9]* " + word + " computed in [0-9.e+-]+ seconds");
      EXPECT_TRUE(std::regex_match(lines[i], summary)) << lines[i];
    } else {
      EXPECT_EQ(lines[i], expected[i]);
    }
  }
  expectResultFiles("run", 12);
  EXPECT_FALSE(readFile("run/bot.map").empty());
}

// The same seed repeats a run exactly, with either way of giving it, and
// with the fast engine, the default, given by name, and with the
// containment check, which finds nothing in a healthy run and changes no
// result; another seed or the reference engine makes another run.
TEST_P(BatchRun, SameSeedAndEngineRepeatTheRunExactly) {
  struct Run {
    std::string directory;
    std::vector<std::string> args;
  };
  const Run runs[] = {{"first", {"first", "--seed", "7"}},
                      {"second", {"--seed=7", "second"}},
                      {"fast", {"--seed", "7", "--engine=fast", "--check-containment", "fast"}},
                      {"third", {"--seed", "8", "third"}},
                      {"reference",
                       {"--seed", "7", "--engine", "reference", "--check-containment", "reference"}}};
  for (const Run& r : runs) {
    lively().writeFiles(r.directory);
    ASSERT_EQ(run(r.args).status, 0) << r.directory;
  }
  const std::string state = readFile("first/state.out");
  EXPECT_FALSE(state.empty());
  EXPECT_EQ(readFile("second/state.out"), state);
  EXPECT_EQ(readFile("second/bot.hist"), readFile("first/bot.hist"));
  EXPECT_EQ(readFile("fast/state.out"), state);
  EXPECT_NE(readFile("third/state.out"), state);
  expectResultFiles("reference", 12);
}

TEST_P(BatchRun, RunsHereWithTheCalendarTimeAsSeedByDefault) {
  Scene scene = lively();
  scene.run.time_limit = 0.5;
  scene.writeFiles();
  const long before = static_cast<long>(std::time(nullptr));
  const ChildResult outcome = run({});
  const long after = static_cast<long>(std::time(nullptr));
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  ASSERT_EQ(outcome.err.rfind("seed: ", 0), 0u) << outcome.err;
  const long seed = std::atol(outcome.err.c_str() + 6);
  EXPECT_GE(seed, before);
  EXPECT_LE(seed, after);
  expectResultFiles(".", 12);
}

TEST_P(BatchRun, ShippedParameterFilesAreAccepted) {
  const char* source = std::getenv("SHOTSIM_SOURCE_DIR");
  ASSERT_NE(source, nullptr) << "SHOTSIM_SOURCE_DIR is not set";
  std::filesystem::create_directories("run");
  std::filesystem::copy(std::string(source) + "/ini", "run/ini",
                        std::filesystem::copy_options::recursive);
  // The shipped run, cut short to half a cycle.
  testing_support::writeFile("run/ini/par.ini", "0\n0.02\n0\n0.5\n");
  const ChildResult outcome = run({"--seed", "3", "run"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  std::ifstream shot("run/ini/shot.ini");
  int spheres = 0;
  shot >> spheres;
  expectResultFiles("run", spheres);
}

// Each stop signal ends a run far longer than anyone waits with every
// result written and the shell's status for it: also in the middle of a
// step of a million cycles (the loop looks for the signal between events),
// and while the program is still placing its spheres (the run then ends as
// soon as it begins).
TEST_P(BatchRun, StopSignalsEndTheRunWithEveryResultWritten) {
  struct Case {
    int signal_number;
    int status;
    double step;
    const char* after;  // sent once standard output shows this
  };
  const Case cases[] = {{SIGTERM, 143, 0.02, "Computing"}, {SIGINT, 130, 0.02, "Computing"},
                        {SIGHUP, 129, 0.02, "Computing"},  {SIGPIPE, 141, 0.02, "Computing"},
                        {SIGQUIT, 131, 0.02, "Computing"}, {SIGTERM, 143, 1e6, "Computing"},
                        {SIGTERM, 143, 0.02, "Distributing"}};
  int runs = 0;
  for (const Case& c : cases) {
    const std::string dir = "run" + std::to_string(++runs);
    const std::string label = dir + ", signal " + std::to_string(c.signal_number);
    Scene scene = lively();
    scene.run.step = c.step;
    scene.run.time_limit = 1e7;  // far longer than anyone waits
    scene.writeFiles(dir);
    ChildOptions options;
    options.signal_after = c.after;
    options.signal_number = c.signal_number;
    options.signal_delay = std::chrono::milliseconds(c.after[0] == 'C' ? 200 : 0);
    const ChildResult outcome = run({"--seed", "5", dir}, ".", options);
    EXPECT_EQ(outcome.status, c.status) << label << ": " << outcome.err;
    EXPECT_NE(outcome.out.find(" computed in "), std::string::npos) << label << outcome.out;
    EXPECT_NE(outcome.out.find("Dumping state vector to file... DONE"), std::string::npos);
    expectResultFiles(dir, 12);
  }
}

TEST_P(BatchRun, CollapsingShotEndsWithStatusOneAndItsResults) {
  Scene scene(program());
  scene.shot.count = 5;
  scene.setRestitution(0.1, 1e9);
  scene.chamber().base_rebound = 0.0;  // the restitution law alone
  scene.shot.rebound = 0.0;
  scene.run.step = 0.02;
  scene.run.time_limit = 1e7;
  scene.writeFiles("run");
  const ChildResult outcome = run({"--seed", "2", "run"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("Inelastic collapse at time "), std::string::npos) << outcome.err;
  expectResultFiles("run", 5);
}

TEST_P(BatchRun, CommandLineHelpAndMistakes) {
  const std::string usage = std::string("Usage: ") + program().batch_name;
  const ChildResult help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find(usage), std::string::npos);
  EXPECT_EQ(help.err, "");

  const std::vector<std::vector<std::string>> mistakes{
      {"--bogus"}, {"--seed"}, {"--seed", "twelve"}, {"--seed", "-3"},
      {"--seed", "4294967296"},  // beyond the generator's 32 bits
      {"--seed=1x"}, {"one", "two"}, {"--observe-every", "0"},
      {"--observe-every=-1"}, {"--observe-every", "often"}, {"--observe-every"},
      {"--engine", "slow"}, {"--engine"}, {"--snapshot-format", "hdf5"},
      {"--profiles", "-1"}, {"--profile-bin", "0.5"}, {"--profiles", "1", "--profile-phases", "0"},
      {"--profiles=1", "--profile-phases=1001"}, {"--profiles", "1", "--profile-bin", "0"}};
  for (const auto& args : mistakes) {
    const ChildResult outcome = run(args);
    EXPECT_EQ(outcome.status, 2) << args[0];
    EXPECT_NE(outcome.err.find(usage), std::string::npos);
    EXPECT_EQ(outcome.out, "");
  }
  EXPECT_FALSE(fileExists("state.out"));
}

TEST_P(BatchRun, ObservablesHaveARowPerStepThatBalancesMomentumAndEnergy) {
  lively().writeFiles("run");
  const ChildResult outcome = run({"--seed", "4", "run"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const Table table = readTable("run/observables.dat");
  const std::vector<std::string> columns{
      "t", "events", "collisions", "base_impacts", "wall_impacts", "top_impacts", "ke",
      "ke_x", "ke_y", "ke_z", "pe", "z_com", "p_z", "l_z", "impulse_base", "impulse_top",
      "energy_base", "energy_wall", "energy_top", "energy_lost"};
  ASSERT_EQ(table.names, columns);
  // A row at the start and one after each of the 250 steps of 0.02 (a last
  // step more when rounding leaves the clock just short of 5).
  ASSERT_GE(table.rows.size(), 251u);
  ASSERT_LE(table.rows.size(), 252u);
  for (const std::vector<std::string>& row : table.rows) {
    ASSERT_EQ(row.size(), columns.size());
    // Each number reads back to the same double and is written exactly so.
    for (const std::string& field : row) {
      char again[32];
      std::snprintf(again, sizeof again, "%.17g", std::strtod(field.c_str(), nullptr));
      EXPECT_EQ(field, again);
    }
  }
  EXPECT_EQ(table.rows[0][0], "0");
  EXPECT_EQ(table.rows[2][0], "0.040000000000000001");  // 2 x 0.02, all 17 digits

  // Between start and end, the columns obey the laws they measure: the
  // vertical momentum changes by the impulses less the weight, and n times
  // the energy per sphere by what the surfaces gave less what collisions lost.
  const std::size_t last = table.rows.size() - 1;
  const double n = 12.0;
  const double t = table.value(last, "t");
  EXPECT_NEAR(table.value(last, "p_z") - table.value(0, "p_z"),
              table.value(last, "impulse_base") + table.value(last, "impulse_top") -
                  n * 2.0 * t,
              1e-9);
  const double energy_change =
      n * (table.value(last, "ke") + table.value(last, "pe") - table.value(0, "ke") -
           table.value(0, "pe"));
  EXPECT_NEAR(energy_change,
              table.value(last, "energy_base") + table.value(last, "energy_wall") +
                  table.value(last, "energy_top") - table.value(last, "energy_lost"),
              1e-9);
  EXPECT_GT(table.value(last, "energy_lost"), 0.0);
  EXPECT_GT(table.value(last, "energy_base"), 0.0);  // the vibrating base feeds the shot
  EXPECT_NE(outcome.out.find(table.rows[last][1] + " " + program().event_word + " computed in"),
            std::string::npos);

  // With an interval, a row after the first step at or past each whole
  // cycle, the end of the run included.
  lively().writeFiles("sparse");
  ASSERT_EQ(run({"--seed", "4", "--observe-every", "1", "sparse"}).status, 0);
  const Table sparse = readTable("sparse/observables.dat");
  ASSERT_GE(sparse.rows.size(), 6u);
  ASSERT_LE(sparse.rows.size(), 7u);  // 7: the last step ended past 5
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_NEAR(sparse.value(i, "t"), static_cast<double>(i), 0.021) << "row " << i;
  }
  EXPECT_EQ(sparse.rows.back(), table.rows.back());  // the same run, seen less often
}

// The profiles' grid of the scene's chamber.
ProfileGrid gridOf(const Chamber& chamber, double diameter, double width, int phases) {
  if (const Box* box = dynamic_cast<const Box*>(&chamber)) {
    return profileGrid(*box, diameter, width, phases);
  }
  return profileGrid(dynamic_cast<const Cylinder&>(chamber), diameter, width, phases);
}

// profiles.dat of a shaken bed, by the phases of the base's cycle: from the
// skip time on, each step's state of the whole bed, averaged as the
// steady-state tests average their profiles (the same run replayed here,
// sampled the same way, gives the same file), and in each phase of the cycle
// the shares of the bins add up to the whole bed.
TEST_P(BatchRun, ProfilesAverageTheBedFromTheSkipTimeInPartsOfTheBaseCycle) {
  lively().writeFiles("run");
  const ChildResult outcome = run({"--seed", "9", "--profiles", "2", "--profile-phases", "4",
                                   "--profile-bin", "0.5", "run"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;

  std::ostringstream expected;
  {
    ScopedTempDir replay{testing_support::scratchParent()};
    // The same run, sampled after every step of its own.
    World world(lively(), 9, Experiment::Engine::kFast);
    struct Sampler : RunMonitor {
      World& world;
      ProfileAccumulator profiles;
      explicit Sampler(World& w)
          : world(w), profiles(gridOf(*w.chamber, w.shot.diam(), 0.5, 4)) {}
      bool continueRun(const Experiment& experiment) override {
        if (pastSkip(experiment.tFull(), 2.0)) {
          profiles.sample(world.shot.n(), world.shot.r_chunk(), world.shot.v_chunk(),
                          basePhase(world.chamber->baseHeight(), world.chamber->baseDirection(),
                                    world.chamber->baseAmplitude()));
        }
        return true;
      }
    } sampler(world);
    world.experiment.setMonitor(&sampler);
    testing::internal::CaptureStdout();  // the run's lines and the replay's closing lines
    world.experiment.fullRun();
    sampler.profiles.write(expected);
  }
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(readFile("run/profiles.dat"), expected.str());

  // A sample after every step from time 2 to the end of the run.
  const Table observed = readTable("run/observables.dat");
  const double t_end = observed.value(observed.rows.size() - 1, "t");
  const Table table = readTable("run/profiles.dat");
  std::map<double, double> shares, samples;
  for (std::size_t row = 0; row < table.rows.size(); ++row) {
    if (table.rows[row].empty()) continue;
    shares[table.value(row, "phase")] += table.value(row, "share");
    samples[table.value(row, "phase")] = table.value(row, "samples");
  }
  ASSERT_EQ(shares.size(), 4u);
  double total = 0.0;
  for (const auto& [phase, share] : shares) {
    EXPECT_NEAR(share, 1.0, 1e-12) << "phase " << phase;
    total += samples[phase];
  }
  EXPECT_EQ(total, std::round((t_end - 2.0) / 0.02) + 1.0);
}

TEST_P(BatchRun, RunDirectoryThatCannotBeEnteredIsReported) {
  const ChildResult outcome = run({"no-such-directory"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("no-such-directory"), std::string::npos) << outcome.err;
  EXPECT_EQ(outcome.out, "");
}


// Every file of a run directory but its parameter files, by path, with its
// bytes.
std::map<std::string, std::string> resultFiles(const std::string& directory) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
    const std::string path = std::filesystem::relative(entry.path(), directory).string();
    if (entry.is_regular_file() && path.rfind("ini/", 0) != 0) {
      files[path] = readFile(entry.path().string());
    }
  }
  return files;
}

// The text with its line that starts with the key replaced.
std::string withLine(std::string text, const std::string& key, const std::string& line) {
  const std::size_t at = text.find("\n" + key + " ") + 1;
  return text.replace(at, text.find('\n', at) - at, line);
}

// Runs that are stopped and continued (--resume), or changed for one run
// (--set).
class CheckpointRun : public BatchRun {
 protected:
  // Writes the lively scene with the given time limit into the directory
  // and runs the batch program there with the options.
  ChildResult runLively(const std::string& directory, double cycles,
                        std::vector<std::string> options) {
    Scene scene = lively();
    scene.run.time_limit = cycles;
    scene.writeFiles(directory);
    options.push_back(directory);
    return run(options);
  }
};

TEST_P(CheckpointRun, ARunStoppedHalfwayAndResumedEndsAsTheRunStraightThrough) {
  // The reference loop takes its predictions up from the record: every
  // file agrees to the last digit. The fast engine predicts anew from the
  // state: the same events happen, the reals drift by rounding only.
  // The resumed run takes its options, and the settings of the values it
  // depends on, from the record.
  const std::string amplitude = std::string(isBox() ? "box" : "cyl") + ".amplitude=0.6";
  for (const std::string engine : {"reference", "fast"}) {
    const std::vector<std::string> options{
        "--seed",           "3", "--engine",   engine, "--observe-every", "0.5",
        "--snapshot-every", "1", "--profiles", "1",    "--set",           amplitude};
    ASSERT_EQ(runLively("straight-" + engine, 6.0, options).status, 0);
    ASSERT_EQ(runLively("split-" + engine, 3.0, options).status, 0);
    const ChildResult resumed = runLively("split-" + engine, 6.0, {"--resume"});
    ASSERT_EQ(resumed.status, 0) << resumed.err;

    const auto straight = resultFiles("straight-" + engine);
    const auto split = resultFiles("split-" + engine);
    ASSERT_EQ(straight.size(), split.size()) << engine;
    for (const auto& [path, bytes] : straight) {
      ASSERT_EQ(split.count(path), 1u) << engine << ": " << path;
      if (engine == "reference") {
        EXPECT_TRUE(split.at(path) == bytes) << path << " differs";
      }
    }
    if (engine == "fast") {
      const Table a = readTable("straight-fast/observables.dat");
      const Table b = readTable("split-fast/observables.dat");
      ASSERT_EQ(a.rows.size(), b.rows.size());
      for (std::size_t row = 0; row < a.rows.size(); ++row) {
        for (std::size_t column = 0; column < a.names.size(); ++column) {
          const double x = std::strtod(a.rows[row][column].c_str(), nullptr);
          const double y = std::strtod(b.rows[row][column].c_str(), nullptr);
          EXPECT_NEAR(x, y, 1e-6 * (1.0 + std::fabs(x))) << a.names[column] << " at row " << row;
        }
      }
    }
  }
}

TEST_P(CheckpointRun, ARecordThatDoesNotFitItsRunIsRefusedWithNothingWritten) {
  ASSERT_EQ(runLively("run", 3.0, {"--seed", "3", "--engine", "reference"}).status, 0);
  Scene longer = lively();
  longer.run.time_limit = 6.0;
  longer.writeFiles("run");
  std::filesystem::copy("run", "as-left", std::filesystem::copy_options::recursive);
  const auto editFile = [](const std::string& name,
                           const std::function<std::string(std::string)>& edit) {
    testing_support::writeFile(name, edit(readFile(name)));
  };
  struct Case {
    const char* what;
    std::function<void()> change;
    std::vector<std::string> options;
    std::string refused;  // the file named in the message
  };
  const Case cases[] = {
      {"a state other than the record's",
       [&] {
         editFile("run/state.out",
                  [](std::string s) { return s.replace(0, 1, s[0] == '1' ? "2" : "1"); });
       },
       {},
       "state.out"},
      {"another number of spheres",
       [&] {
         Scene more = longer;
         more.shot.count = 13;
         more.writeFiles("run");
       },
       {},
       "run.record"},
      {"a step other than the run's", [] {}, {"--set", "par.step=0.01"}, "run.record"},
      {"another program's record",
       [&] {
         editFile("run/run.record",
                  [](std::string s) { return withLine(s, "program", "program other-batch"); });
       },
       {},
       "run.record"},
      {"rows of observables.dat lost",
       [&] {
         editFile("run/observables.dat", [](std::string s) { return s.substr(0, s.size() / 2); });
       },
       {},
       "observables.dat"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all("run");
    std::filesystem::copy("as-left", "run", std::filesystem::copy_options::recursive);
    c.change();
    const auto before = resultFiles("run");
    std::vector<std::string> args{"--resume"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back("run");
    const ChildResult outcome = run(args);
    EXPECT_EQ(outcome.status, 1) << c.what;
    EXPECT_NE(outcome.err.find("Error reading " + c.refused), std::string::npos)
        << c.what << ": " << outcome.err;
    EXPECT_TRUE(resultFiles("run") == before) << c.what << ": a file was written";
  }
}

TEST_P(CheckpointRun, CountersRunOnPastTwoToThe31) {
  // A bed that has seen three billion events already: the counters of the
  // record go on in 64 bits and the run still ends at its time limit.
  ASSERT_EQ(runLively("run", 3.0, {"--seed", "3", "--engine", "reference"}).status, 0);
  const Table before = readTable("run/observables.dat");
  const double events = before.value(before.rows.size() - 1, "events");
  testing_support::writeFile(
      "run/run.record",
      withLine(readFile("run/run.record"), "events",
               "events " + std::to_string(3000000000LL + static_cast<long long>(events))));
  const ChildResult outcome = runLively("run", 6.0, {"--resume"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const Table after = readTable("run/observables.dat");
  const std::size_t last = after.rows.size() - 1;
  EXPECT_EQ(after.value(last, "t"), 6.0);
  EXPECT_GT(after.value(last, "events"), 3e9 + events);
  EXPECT_LT(after.value(last, "events"), 3e9 + 3.0 * events);
  EXPECT_NE(outcome.out.find("Resuming the run at t = 3 after 150 steps and 3"), std::string::npos)
      << outcome.out;
}

TEST_P(CheckpointRun, ASetValueRunsAsTheEditedFileAndABadOneIsRefused) {
  const std::string amplitude = isBox() ? "box.amplitude" : "cyl.amplitude";
  ASSERT_EQ(runLively("set", 2.0, {"--seed", "3", "--set", amplitude + "=0.7"}).status, 0);
  Scene edited = lively();
  edited.chamber().amplitude = 0.7;
  edited.run.time_limit = 2.0;
  edited.writeFiles("edited");
  ASSERT_EQ(run({"--seed", "3", "edited"}).status, 0);
  // Every file the same, the record's values in force too; only the record
  // of the first keeps the setting it was given.
  auto with_setting = resultFiles("set");
  std::string& record = with_setting["run.record"];
  const std::string setting = "\nset " + amplitude + " 0.7\n";
  ASSERT_NE(record.find(setting), std::string::npos) << record;
  record.erase(record.find(setting), setting.size() - 1);
  EXPECT_TRUE(with_setting == resultFiles("edited"));

  // No such key, no value of the key's kind: usage errors. A value of the
  // kind that the file refuses: refused as the file's own.
  const std::pair<std::string, int> bad[] = {{"no.such=1", 2},
                                             {amplitude + "=wide", 2},
                                             {"shot.count=2.5", 2},
                                             {"--set", 2},
                                             {amplitude + "=-1", 1}};
  for (const auto& [setting, status] : bad) {
    std::filesystem::remove_all("bad");
    const ChildResult outcome = runLively("bad", 2.0, {"--seed", "3", "--set", setting});
    EXPECT_EQ(outcome.status, status) << setting << ": " << outcome.err;
    if (status == 1) {
      EXPECT_NE(outcome.err.find("Error reading " + std::string(program().chamber_file) +
                                 " with --set " + setting),
                std::string::npos)
          << outcome.err;
    }
    EXPECT_TRUE(resultFiles("bad").empty()) << setting;
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, BatchRun, testing_support::everyProgram(),
                         testing_support::programName);
INSTANTIATE_TEST_SUITE_P(Programs, CheckpointRun, testing_support::everyProgram(),
                         testing_support::programName);

}  // namespace
