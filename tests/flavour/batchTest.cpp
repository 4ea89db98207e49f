// The batch program of the flavour under test, run as a researcher runs it:
// in a directory of parameter files, to its limits or until a signal.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "experimentScene.h"
#include "profiles.h"
#include "testSupport.h"

namespace {

using testing_support::fileExists;
using testing_support::readFile;
using testing_support::ScopedTempDir;


struct Outcome {
  int status = -1;  // exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
};

// The build tree: SHOTSIM_BINARY_DIR as CTest sets it, or else the tree
// that holds this test program (<build>/tests/<test program>).
std::string buildDirectory() {
  const char* bin = std::getenv("SHOTSIM_BINARY_DIR");
  if (bin != nullptr && *bin != '\0') return bin;
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return self.parent_path().parent_path().string();
}

// Runs the batch program in the background; its standard output and error
// go to files beside the run directory.
class BatchProcess {
 public:
  explicit BatchProcess(const std::vector<std::string>& args) {
    const std::string path = buildDirectory() + "/source/" + kBatch;
    std::vector<std::string> argv_text{path};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    pid_ = fork();
    if (pid_ == 0) {
      const int out = open("batch.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open("batch.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int in = open("/dev/null", O_RDONLY);
      dup2(out, 1);
      dup2(err, 2);
      dup2(in, 0);
      std::vector<char*> argv;
      for (std::string& a : argv_text) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execv(path.c_str(), argv.data());
      _exit(127);
    }
  }

  bool started() const { return pid_ > 0; }
  void signal(int number) const { kill(pid_, number); }

  // True once standard output holds the text, false if not within the time.
  bool waitForOutput(const std::string& text, std::chrono::seconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (readFile("batch.out").find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // Waits for the end; a run that outlives the limit is killed and fails.
  Outcome finish(std::chrono::seconds limit) {
    Outcome outcome;
    if (!started()) return outcome;
    const auto end = std::chrono::steady_clock::now() + limit;
    int wstatus = 0;
    while (waitpid(pid_, &wstatus, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << kBatch << " still running after " << limit.count() << " s";
        kill(pid_, SIGKILL);
        waitpid(pid_, &wstatus, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    if (WIFEXITED(wstatus)) outcome.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) outcome.status = 128 + WTERMSIG(wstatus);
    outcome.out = readFile("batch.out");
    outcome.err = readFile("batch.err");
    return outcome;
  }

 private:
  pid_t pid_ = -1;
};

Outcome runBatch(const std::vector<std::string>& args) {
  BatchProcess process(args);
  return process.finish(std::chrono::seconds(120));
}

// Parameter files of a short, lively run in the directory "run": a few
// spheres on a vibrating base, partly inelastic.
Scene livelyScene() {
  Scene scene;
  scene.spheres = 12;
  scene.eta = 0.3;
  scene.restitution = 0.9;
  scene.threshold = 1.0;
  scene.amplitude = 0.5;
  scene.maps = 1;
  scene.tstep = 0.02;
  scene.tmax = 5.0;
  return scene;
}

void writeSceneIn(const std::string& directory, const Scene& scene) {
  std::filesystem::create_directories(directory);
  std::filesystem::current_path(directory);
  scene.write();
  std::filesystem::current_path("..");
}

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

// observables.dat: the column names of its header, and its rows.
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

void expectResultFiles(const std::string& directory, int spheres) {
  expectStateOf(directory + "/state.out", spheres);
  EXPECT_EQ(readFile(directory + "/observables.dat").rfind("# t events collisions ", 0), 0u);
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  }
  EXPECT_FALSE(readFile(directory + "/top.hist").empty());
  EXPECT_FALSE(readFile(directory + "/bot.hist").empty());
#ifdef DRUMSIM
  EXPECT_FALSE(fileExists(directory + "/top.zone"));
#else
  EXPECT_FALSE(readFile(directory + "/top.zone").empty());
#endif
}

class BatchRun : public ::testing::Test {
 protected:
  ScopedTempDir dir_;
};

TEST_F(BatchRun, CompleteRunWritesEveryResultFile) {
  writeSceneIn("run", livelyScene());
  const Outcome outcome = runBatch({"--seed", "42", "run"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "seed: 42\n");

  const std::vector<std::string> lines = consoleLines(outcome.out);
  std::vector<std::string> expected{
#ifdef DRUMSIM
      "Distributing shot randomly... DONE", "Testing for overlaps...",
      "Computing 0 events / 5 cycles...", "", "Dumping stats... DONE",
      "Dumping state vector to file... DONE"};
#else
      "Distributing shot randomly... DONE", "Testing for overlaps...",
      "Computing 0 collisions / 5 cycles...", "",
      "Dumping state vector to file... DONE"};
#endif
  ASSERT_EQ(lines.size(), expected.size()) << outcome.out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (expected[i].empty()) {
      const std::regex summary(std::string("[1-9][0-9]* ") + kEventWord +
                               " computed in [0-9.e+-]+ seconds");
      EXPECT_TRUE(std::regex_match(lines[i], summary)) << lines[i];
    } else {
      EXPECT_EQ(lines[i], expected[i]);
    }
  }
  expectResultFiles("run", 12);
  EXPECT_FALSE(readFile("run/bot.map").empty());
}

TEST_F(BatchRun, SameSeedRepeatsTheRunExactly) {
  writeSceneIn("first", livelyScene());
  writeSceneIn("second", livelyScene());
  writeSceneIn("third", livelyScene());
  ASSERT_EQ(runBatch({"first", "--seed", "7"}).status, 0);
  ASSERT_EQ(runBatch({"--seed=7", "second"}).status, 0);
  ASSERT_EQ(runBatch({"--seed", "8", "third"}).status, 0);
  const std::string state = readFile("first/state.out");
  EXPECT_FALSE(state.empty());
  EXPECT_EQ(readFile("second/state.out"), state);
  EXPECT_EQ(readFile("second/bot.hist"), readFile("first/bot.hist"));
  EXPECT_NE(readFile("third/state.out"), state);
}

// The fast engine is the default; the reference loop runs on request.
TEST_F(BatchRun, EitherEngineRunsOnRequest) {
  for (const char* name : {"default", "fast", "reference"}) writeSceneIn(name, livelyScene());
  ASSERT_EQ(runBatch({"--seed", "7", "default"}).status, 0);
  ASSERT_EQ(runBatch({"--seed", "7", "--engine=fast", "fast"}).status, 0);
  ASSERT_EQ(runBatch({"--seed", "7", "--engine", "reference", "reference"}).status, 0);
  EXPECT_EQ(readFile("default/state.out"), readFile("fast/state.out"));
  expectResultFiles("reference", 12);
}

TEST_F(BatchRun, RunsHereWithTheCalendarTimeAsSeedByDefault) {
  Scene scene = livelyScene();
  scene.tmax = 0.5;
  scene.write();
  const long before = static_cast<long>(std::time(nullptr));
  const Outcome outcome = runBatch({});
  const long after = static_cast<long>(std::time(nullptr));
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  ASSERT_EQ(outcome.err.rfind("seed: ", 0), 0u) << outcome.err;
  const long seed = std::atol(outcome.err.c_str() + 6);
  EXPECT_GE(seed, before);
  EXPECT_LE(seed, after);
  expectResultFiles(".", 12);
}

TEST_F(BatchRun, ShippedParameterFilesAreAccepted) {
  const char* source = std::getenv("SHOTSIM_SOURCE_DIR");
  ASSERT_NE(source, nullptr) << "SHOTSIM_SOURCE_DIR is not set";
  std::filesystem::create_directories("run");
  std::filesystem::copy(std::string(source) + "/ini", "run/ini",
                        std::filesystem::copy_options::recursive);
  // The shipped run, cut short to half a cycle.
  testing_support::writeFile("run/ini/par.ini", "0\n0.02\n0\n0.5\n");
  const Outcome outcome = runBatch({"--seed", "3", "run"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  std::ifstream shot("run/ini/shot.ini");
  int spheres = 0;
  shot >> spheres;
  expectResultFiles("run", spheres);
}

TEST_F(BatchRun, MissingRunParametersEndStartUpWithoutResults) {
  writeSceneIn("run", livelyScene());
  std::filesystem::remove("run/ini/par.ini");
  const Outcome outcome = runBatch({"--seed", "1", "run"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("Error reading ini/par.ini\n"), std::string::npos) << outcome.err;
  EXPECT_FALSE(fileExists("run/state.out"));
  EXPECT_FALSE(fileExists("run/top.hist"));
  EXPECT_FALSE(fileExists("run/bot.hist"));
  EXPECT_FALSE(fileExists("run/observables.dat"));
}

TEST_F(BatchRun, StopSignalsEndTheRunWithEveryResultWritten) {
  const std::pair<int, int> cases[] = {{SIGTERM, 143}, {SIGINT, 130}, {SIGHUP, 129}};
  for (const auto& [signal_number, status] : cases) {
    const std::string dir = "run" + std::to_string(signal_number);
    Scene scene = livelyScene();
    scene.tmax = 1e7;  // far longer than anyone waits
    writeSceneIn(dir, scene);
    BatchProcess process({"--seed", "5", dir});
    ASSERT_TRUE(process.started());
    ASSERT_TRUE(process.waitForOutput("Computing", std::chrono::seconds(60)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    process.signal(signal_number);
    const Outcome outcome = process.finish(std::chrono::seconds(60));
    EXPECT_EQ(outcome.status, status) << "signal " << signal_number << ": " << outcome.err;
    EXPECT_NE(outcome.out.find(" computed in "), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.out.find("Dumping state vector to file... DONE"), std::string::npos);
    expectResultFiles(dir, 12);
  }
}

TEST_F(BatchRun, CollapsingShotEndsWithStatusOneAndItsResults) {
  Scene scene;
  scene.spheres = 5;
  scene.restitution = 0.1;
  scene.tstep = 0.02;
  scene.tmax = 1e7;
  writeSceneIn("run", scene);
  const auto start = std::chrono::steady_clock::now();
  const Outcome outcome = runBatch({"--seed", "2", "run"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("Inelastic collapse at time "), std::string::npos) << outcome.err;
  expectResultFiles("run", 5);
}

TEST_F(BatchRun, CommandLineHelpAndMistakes) {
  const Outcome help = runBatch({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find(std::string("Usage: ") + kBatch), std::string::npos);
  EXPECT_EQ(help.err, "");

  const std::vector<std::vector<std::string>> mistakes{
      {"--bogus"}, {"--seed"}, {"--seed", "twelve"}, {"--seed", "-3"},
      {"--seed=1x"}, {"one", "two"}, {"--observe-every", "0"},
      {"--observe-every=-1"}, {"--observe-every", "often"}, {"--observe-every"},
      {"--engine", "slow"}, {"--engine"}, {"--snapshot-format", "hdf5"},
      {"--profiles", "-1"}, {"--profile-bin", "0.5"}, {"--profiles", "1", "--profile-phases", "0"},
      {"--profiles=1", "--profile-phases=1001"}, {"--profiles", "1", "--profile-bin", "0"}};
  for (const auto& args : mistakes) {
    const Outcome outcome = runBatch(args);
    EXPECT_EQ(outcome.status, 2) << args[0];
    EXPECT_NE(outcome.err.find(std::string("Usage: ") + kBatch), std::string::npos);
    EXPECT_EQ(outcome.out, "");
  }
  EXPECT_FALSE(fileExists("state.out"));
}

TEST_F(BatchRun, ObservablesHaveARowPerStepThatBalancesMomentumAndEnergy) {
  writeSceneIn("run", livelyScene());
  const Outcome outcome = runBatch({"--seed", "4", "run"});
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
  EXPECT_NE(outcome.out.find(table.rows[last][1] + " " + kEventWord + " computed in"),
            std::string::npos);

  // With an interval, a row after the first step at or past each whole
  // cycle, the end of the run included.
  writeSceneIn("sparse", livelyScene());
  ASSERT_EQ(runBatch({"--seed", "4", "--observe-every", "1", "sparse"}).status, 0);
  const Table sparse = readTable("sparse/observables.dat");
  ASSERT_GE(sparse.rows.size(), 6u);
  ASSERT_LE(sparse.rows.size(), 7u);  // 7: the last step ended past 5
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_NEAR(sparse.value(i, "t"), static_cast<double>(i), 0.021) << "row " << i;
  }
  EXPECT_EQ(sparse.rows.back(), table.rows.back());  // the same run, seen less often
}

// profiles.dat of a shaken bed, by the parts of the base's cycle: from the
// skip time on, each step's state of the whole bed, averaged as the
// steady-state tests average their profiles (the same run replayed here,
// sampled the same way, gives the same file), and in each part of the cycle
// the shares of the bins add up to the whole bed.
TEST_F(BatchRun, ProfilesAverageTheBedFromTheSkipTimeInPartsOfTheBaseCycle) {
  writeSceneIn("run", livelyScene());
  const Outcome outcome = runBatch({"--seed", "9", "--profiles", "2", "--profile-phases", "4",
                                    "--profile-bin", "0.5", "run"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;

  std::filesystem::current_path("run");
  std::ostringstream expected;
  {
    World world(9, Experiment::Engine::kFast);
    ProfileAccumulator profiles(profileGrid(world.chamber, world.shot.diam(), 0.5, 4));
    const double dt = world.experiment.tStep();
    while (world.experiment.tFull() < world.experiment.tMax()) {
      world.experiment.makeStep(dt);
      if (!pastSkip(world.experiment.tFull(), 2.0)) continue;
      profiles.sample(world.shot.n(), world.shot.r_chunk(), world.shot.v_chunk(),
                      basePhase(world.chamber.baseHeight(), world.chamber.baseDirection(),
                                world.chamber.baseAmplitude()));
    }
    profiles.write(expected);
  }
  std::filesystem::current_path("..");
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

TEST_F(BatchRun, ObservablesThatCannotBePutInPlaceAreReported) {
  writeSceneIn("run", livelyScene());
  std::filesystem::create_directories("run/observables.dat");
  const Outcome outcome = runBatch({"--seed", "4", "run"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("Error writing observables.dat\n"), std::string::npos)
      << outcome.err;
  expectStateOf("run/state.out", 12);  // the other results are still written
}

TEST_F(BatchRun, RunDirectoryThatCannotBeEnteredIsReported) {
  const Outcome outcome = runBatch({"no-such-directory"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("no-such-directory"), std::string::npos) << outcome.err;
  EXPECT_EQ(outcome.out, "");
}

}  // namespace
