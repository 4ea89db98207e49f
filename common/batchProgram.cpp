#include "batchProgram.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "box.h"
#include "checkpoint.h"
#include "cylinder.h"
#include "digest.h"
#include "experiment.h"
#include "lifecycle.h"
#include "observables.h"
#include "par.h"
#include "parameterFiles.h"
#include "processStart.h"
#include "profiles.h"
#include "runDirectory.h"
#include "runRecord.h"
#include "safeFile.h"
#include "shot.h"
#include "snapshot.h"
#include "stopSignals.h"

namespace {

// Bins of the profiles at most: heights times rings times phases.
constexpr long kMostProfileBins = 10000000;

void printUsage(std::ostream& os, const Program& program) {
  os << "Usage: " << program.batch_name << " [--seed N] [--observe-every T] [--snapshot-every T]\n"
     << "       [--snapshot-format ascii|binary] [--profiles T [--profile-bin W]\n"
     << "       [--profile-phases K]] [--engine reference|fast] [--check-containment]\n"
     << "       [--set KEY=VALUE]... [DIRECTORY]\n"
     << "       " << program.batch_name << " --resume [--set KEY=VALUE]... [DIRECTORY]\n"
     << "       " << program.batch_name << " --keys\n"
     << "Runs the simulation without a window in DIRECTORY (default: the\n"
     << "current directory) from the parameter files in its ini/ folder, until\n"
     << "both limits of ini/par.ini are reached, and leaves the result files\n"
     << "there, with state.out and its run record run.record. SIGINT, SIGTERM\n"
     << "or SIGHUP end the run early with every file written.\n"
     << "\n"
     << "  --seed N  seed of the random placement, a whole number from 0 to\n"
     << "            4294967295 (default: the calendar time); the seed used is\n"
     << "            reported on standard error so that a run can be repeated\n"
     << "  --observe-every T  write a row of observables.dat after the first step\n"
     << "            at or past each multiple of T cycles, and at the end of the\n"
     << "            run (default: after every step)\n"
     << "  --snapshot-every T  write the spheres to snapshots/shot_NNNNNN.vtp (VTK\n"
     << "            PolyData) at the start, after the first step at or past each\n"
     << "            multiple of T cycles and at the end, listed with their times in\n"
     << "            snapshots.pvd, and the chamber with its base at that time to\n"
     << "            snapshots/chamber_NNNNNN.vtp, listed in chamber.pvd (default: no\n"
     << "            snapshots)\n"
     << "  --snapshot-format F  ascii (default: numbers as text) or binary (the\n"
     << "            arrays' raw bytes, appended: 2.5 times smaller)\n"
     << "  --profiles T  write profiles.dat: from time T on, after every step, the\n"
     << "            spheres' share, density, mean velocity and granular temperature\n"
     << "            per component in bins of the height of their lowest points (and\n"
     << "            in the cylinder in rings about the axis), averaged to the end\n"
     << "  --profile-bin W  height of a bin and width of a ring (default: one\n"
     << "            sphere diameter)\n"
     << "  --profile-phases K  resolve the profiles by the phase of the base in K\n"
     << "            equal parts of its cycle, 1 to 1000 (default 1)\n"
     << "  --engine E  the event engine: fast (default; cost per event nearly\n"
     << "            independent of the number of spheres) or reference (the\n"
     << "            plain loop, all spheres at every event); same physics\n"
     << "  --check-containment  check after every step that every sphere lies\n"
     << "            inside the chamber and no two overlap (within the tolerances\n"
     << "            of the parameter files); a breach ends the run with a message,\n"
     << "            every file written, status 1\n"
     << "  --set KEY=VALUE  this value for the parameter KEY in place of its\n"
     << "            file's, for this run only (e.g. --set box.amplitude=0.7);\n"
     << "            repeatable; --keys lists the keys\n"
     << "  --resume  continue the run of DIRECTORY from its state.out and\n"
     << "            run.record, with the options it was started with, to the\n"
     << "            limits of ini/par.ini read as totals, adding to its result\n"
     << "            files as if it had never stopped\n"
     << "  --keys    list the parameters' keys: KEY FILE:LINE:PLACE KIND\n"
     << "  --help    show this text\n";
}

struct Options {
  std::string directory;
  long seed = 0;
  bool seed_given = false;
  double observe_every = 0.0;  // 0: a row of observables after every step
  double snapshot_every = 0.0;  // 0: no snapshots
  VtkEncoding snapshot_format = VtkEncoding::kAscii;
  double profiles_after = -1.0;  // < 0: no profiles
  double profile_bin = 0.0;      // 0: one sphere diameter
  int profile_phases = 1;
  bool profile_options = false;  // --profile-bin or --profile-phases given
  Experiment::Engine engine = Experiment::Engine::kFast;
  bool check_containment = false;
  ParamSettings settings;
  bool resume = false;
  bool run_options = false;  // an option that sets up a run (not given with --resume)
  bool keys = false;
  bool help = false;
};

// The random placement's generator takes 32 bits of seed: a larger seed
// would repeat the run of a smaller one.
constexpr long kLargestSeed = 4294967295;

// A whole number from 0 to most, digits only.
bool parseWhole(const char* text, long most, long& number) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value > most) return false;
  number = value;
  return true;
}

bool parseSeed(const char* text, long& seed) { return parseWhole(text, kLargestSeed, seed); }

bool parseInterval(const char* text, double& interval) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (*end != '\0' || !std::isfinite(value) || !(value > 0.0)) return false;
  interval = value;
  return true;
}

bool parseSkip(const char* text, double& skip) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (*end != '\0' || !std::isfinite(value) || !(value >= 0.0)) return false;
  skip = value;
  return true;
}

bool parsePhases(const char* text, int& phases) {
  long value = 0;
  if (!parseWhole(text, 1000, value) || value < 1) return false;
  phases = static_cast<int>(value);
  return true;
}

bool parseFormat(const std::string& name, VtkEncoding& format) {
  if (name == "ascii") {
    format = VtkEncoding::kAscii;
  } else if (name == "binary") {
    format = VtkEncoding::kBinary;
  } else {
    return false;
  }
  return true;
}

// KEY=VALUE, both parts not empty; whether the key and value fit the
// program's files is checked after the command line is read.
bool parseSetting(const char* text, ParamSettings& settings) {
  if (text == nullptr) return false;
  const std::string setting = text;
  const std::size_t equals = setting.find('=');
  if (equals == 0 || equals == std::string::npos || equals + 1 == setting.size()) return false;
  settings.push_back(ParamSetting{setting.substr(0, equals), setting.substr(equals + 1)});
  return true;
}

// False on a command line that cannot be understood.
bool parseOptions(int argc, char** argv, Options& options) {
  bool directory_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // Every option but these sets up a fresh run.
    options.run_options = options.run_options ||
                          !(arg == "--help" || arg == "-h" || arg == "--resume" || arg == "--keys" ||
                            arg == "--set" || arg.compare(0, 6, "--set=") == 0 ||
                            arg.empty() || arg[0] != '-');
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--resume") {
      options.resume = true;
    } else if (arg == "--keys") {
      options.keys = true;
    } else if (arg == "--set") {
      if (i + 1 >= argc || !parseSetting(argv[i + 1], options.settings)) return false;
      ++i;
    } else if (arg.compare(0, 6, "--set=") == 0) {
      if (!parseSetting(argv[i] + 6, options.settings)) return false;
    } else if (arg == "--seed") {
      if (i + 1 >= argc || !parseSeed(argv[i + 1], options.seed)) return false;
      options.seed_given = true;
      ++i;
    } else if (arg.compare(0, 7, "--seed=") == 0) {
      if (!parseSeed(argv[i] + 7, options.seed)) return false;
      options.seed_given = true;
    } else if (arg == "--observe-every") {
      if (i + 1 >= argc || !parseInterval(argv[i + 1], options.observe_every)) return false;
      ++i;
    } else if (arg.compare(0, 16, "--observe-every=") == 0) {
      if (!parseInterval(argv[i] + 16, options.observe_every)) return false;
    } else if (arg == "--snapshot-every") {
      if (i + 1 >= argc || !parseInterval(argv[i + 1], options.snapshot_every)) return false;
      ++i;
    } else if (arg.compare(0, 17, "--snapshot-every=") == 0) {
      if (!parseInterval(argv[i] + 17, options.snapshot_every)) return false;
    } else if (arg == "--snapshot-format") {
      if (i + 1 >= argc || !parseFormat(argv[i + 1], options.snapshot_format)) return false;
      ++i;
    } else if (arg.compare(0, 18, "--snapshot-format=") == 0) {
      if (!parseFormat(arg.substr(18), options.snapshot_format)) return false;
    } else if (arg == "--profiles") {
      if (i + 1 >= argc || !parseSkip(argv[i + 1], options.profiles_after)) return false;
      ++i;
    } else if (arg.compare(0, 11, "--profiles=") == 0) {
      if (!parseSkip(argv[i] + 11, options.profiles_after)) return false;
    } else if (arg == "--profile-bin") {
      if (i + 1 >= argc || !parseInterval(argv[i + 1], options.profile_bin)) return false;
      options.profile_options = true;
      ++i;
    } else if (arg.compare(0, 14, "--profile-bin=") == 0) {
      if (!parseInterval(argv[i] + 14, options.profile_bin)) return false;
      options.profile_options = true;
    } else if (arg == "--profile-phases") {
      if (i + 1 >= argc || !parsePhases(argv[i + 1], options.profile_phases)) return false;
      options.profile_options = true;
      ++i;
    } else if (arg.compare(0, 17, "--profile-phases=") == 0) {
      if (!parsePhases(argv[i] + 17, options.profile_phases)) return false;
      options.profile_options = true;
    } else if (arg == "--check-containment") {
      options.check_containment = true;
    } else if (arg == "--engine") {
      if (i + 1 >= argc || !Experiment::engineNamed(argv[i + 1], options.engine)) return false;
      ++i;
    } else if (arg.compare(0, 9, "--engine=") == 0) {
      if (!Experiment::engineNamed(arg.substr(9), options.engine)) return false;
    } else if (!arg.empty() && arg[0] == '-') {
      return false;
    } else if (directory_given || arg.empty()) {
      return false;
    } else {
      options.directory = arg;
      directory_given = true;
    }
  }
  // The profiles' bins and phases mean nothing without the profiles; a
  // resumed run takes its options from its record.
  return !(options.profile_options && options.profiles_after < 0.0) &&
         !(options.resume && options.run_options);
}

// Writes "observables.dat": a row at the start of the run, then one after
// every step, or, with an interval, after the first step at or past each
// multiple of it and once more at the end of the run. The file is put in
// place when the object is destroyed on the way out, so a run that ends
// early (signal, collapse) still leaves every row it made. A resumed run
// starts from the rows of its record (those of the schedule: a row at the
// end off the schedule is not part of the run it continues).
class ObservablesRecorder {
 public:
  ObservablesRecorder(const Shot& shot, const Chamber& chamber, double interval,
                      const RunRecord* resume)
      : shot_(shot), chamber_(chamber),
        file_(resume != nullptr ? ObservablesFile(kFile, resume->observe_bytes)
                                : ObservablesFile(kFile)),
        interval_(interval), due_(interval), last_time_(0.0), scheduled_time_(0.0) {
    if (!file_.isOpen()) reportFailure();
    if (resume == nullptr) {
      record(0.0, 0);
    } else {
      due_ = resume->observe_due;
      last_time_ = scheduled_time_ = resume->observe_last;
    }
    scheduled_ = file_.digest();
  }

  ~ObservablesRecorder() {
    if (!file_.commit()) reportFailure();
  }

  ObservablesRecorder(const ObservablesRecorder&) = delete;
  ObservablesRecorder& operator=(const ObservablesRecorder&) = delete;

  void afterStep(const Experiment& experiment) {
    const double t = experiment.tFull();
    // Steps add up to a multiple of the interval only to rounding.
    const double slack = 1e-9 * interval_;
    if (t < due_ - slack) return;
    record(t, experiment.eventCount());
    scheduled_ = file_.digest();
    scheduled_time_ = t;
    if (interval_ > 0.0) due_ = (std::floor((t + slack) / interval_) + 1.0) * interval_;
  }

  void atEnd(const Experiment& experiment) {
    if (experiment.tFull() != last_time_) record(experiment.tFull(), experiment.eventCount());
  }

  void capture(RunRecord& r) const {
    r.observing = true;
    r.observe_every = interval_;
    r.observe_due = due_;
    r.observe_last = scheduled_time_;
    r.observe_bytes = scheduled_.bytes();
    r.observe_crc32 = scheduled_.crc32();
  }

  static constexpr const char* kFile = "observables.dat";

 private:
  void record(double t, std::int64_t events) {
    file_.write(observe(t, events, shot_, chamber_));
    last_time_ = t;
  }

  static void reportFailure() {
    std::cerr << "Error writing " << kFile << std::endl;
    lifecycle::fail();
  }

  const Shot& shot_;
  const Chamber& chamber_;
  ObservablesFile file_;
  double interval_;   // 0: every step
  double due_;        // time from which the next row is written
  double last_time_;  // time of the last row written
  double scheduled_time_;  // time of the last row of the schedule
  Digest scheduled_;       // the file up to that row
};

// Writes "profiles.dat": the profiles of the shot averaged over its state
// after every step from the skip time on, the base's phase taken from its
// height and direction. Like the observables, the file's temporary is
// opened at start-up and put in place on the way out. A resumed run takes
// up the sums of its record.
class ProfileRecorder {
 public:
  ProfileRecorder(const Shot& shot, const Chamber& chamber, const ProfileGrid& grid,
                  double skip, double bin, const RunRecord* resume)
      : shot_(shot), chamber_(chamber), file_(kFile), profiles_(grid), skip_(skip), bin_(bin) {
    if (resume != nullptr) profiles_.restore(resume->profile_sums);
    if (!file_.isOpen()) reportFailure();
  }

  ~ProfileRecorder() {
    if (file_.isOpen()) profiles_.write(file_.stream());
    if (!file_.commit()) reportFailure();
  }

  ProfileRecorder(const ProfileRecorder&) = delete;
  ProfileRecorder& operator=(const ProfileRecorder&) = delete;

  void afterStep(const Experiment& experiment) {
    if (!pastSkip(experiment.tFull(), skip_)) return;
    profiles_.sample(shot_.n(), shot_.r_chunk(), shot_.v_chunk(),
                     basePhase(chamber_.baseHeight(), chamber_.baseDirection(),
                               chamber_.baseAmplitude()));
  }

  void capture(RunRecord& r) const {
    r.profiles_after = skip_;
    r.profile_bin = bin_;
    r.profile_phases = profiles_.grid().phases;
    r.profile_sums = profiles_.sums();
  }

 private:
  static constexpr const char* kFile = "profiles.dat";

  static void reportFailure() {
    std::cerr << "Error writing " << kFile << std::endl;
    lifecycle::fail();
  }

  const Shot& shot_;
  const Chamber& chamber_;
  SafeFile file_;
  ProfileAccumulator profiles_;
  double skip_;
  double bin_;  // as given; 0: one diameter
};

// Shows one progress line on a terminal, rewritten in place a few times a
// second, records the observables and the snapshots (when asked for) after
// every step, and passes on a stop request from a signal.
class ProgressMonitor : public RunMonitor {
 public:
  ProgressMonitor(bool show, ObservablesRecorder& recorder, SnapshotSeries* snapshots,
                  ProfileRecorder* profiles)
      : show_(show), recorder_(recorder), snapshots_(snapshots), profiles_(profiles),
        start_(Clock::now()), last_shown_(start_), shown_width_(0) {}

  bool continueRun(const Experiment& experiment) override {
    recorder_.afterStep(experiment);
    if (profiles_ != nullptr) profiles_->afterStep(experiment);
    if (snapshots_ != nullptr && !snapshots_->afterStep(experiment.tFull())) lifecycle::fail();
    if (stopSignals::received() != 0) return false;
    if (show_) {
      const Clock::time_point now = Clock::now();
      if (now - last_shown_ >= kInterval) {
        last_shown_ = now;
        show(experiment, seconds(now - start_));
      }
    }
    return true;
  }

  void runEnded(const Experiment& experiment) override {
    recorder_.atEnd(experiment);
    if (snapshots_ != nullptr && !snapshots_->atEnd(experiment.tFull())) lifecycle::fail();
    if (shown_width_ == 0) return;
    std::cerr << '\r' << std::string(shown_width_, ' ') << '\r' << std::flush;
    shown_width_ = 0;
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kInterval{250};

  static double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
  }

  // Share of the run done: the run ends when both limits are reached, so the
  // limit furthest from being reached decides.
  static double fractionDone(const Experiment& experiment) {
    double by_events = 1.0;
    if (experiment.ncolmax() > 0) {
      by_events = static_cast<double>(experiment.eventCount()) / experiment.ncolmax();
    }
    double by_time = 1.0;
    if (experiment.tMax() > 0.0) by_time = experiment.tFull() / experiment.tMax();
    const double done = by_events < by_time ? by_events : by_time;
    return done < 1.0 ? done : 1.0;
  }

  static std::string formatDuration(double s) {
    char text[32];
    const long whole = static_cast<long>(s + 0.5);
    if (whole >= 3600) {
      std::snprintf(text, sizeof text, "%ldh%02ldm", whole / 3600, whole / 60 % 60);
    } else if (whole >= 60) {
      std::snprintf(text, sizeof text, "%ldm%02lds", whole / 60, whole % 60);
    } else {
      std::snprintf(text, sizeof text, "%lds", whole);
    }
    return text;
  }

  void show(const Experiment& experiment, double elapsed) {
    const double done = fractionDone(experiment);
    const std::string left =
        done > 0.0 ? formatDuration(elapsed * (1.0 - done) / done) : std::string("?");
    char time_part[64];
    if (experiment.tMax() > 0.0) {
      std::snprintf(time_part, sizeof time_part, "t %g / %g cycles", experiment.tFull(),
                    experiment.tMax());
    } else {
      std::snprintf(time_part, sizeof time_part, "t %g cycles", experiment.tFull());
    }
    const char* const word = experiment.program().event_word;
    char event_part[80];
    if (experiment.ncolmax() > 0) {
      std::snprintf(event_part, sizeof event_part, "%" PRId64 " / %d %s",
                    experiment.eventCount(), experiment.ncolmax(), word);
    } else {
      std::snprintf(event_part, sizeof event_part, "%" PRId64 " %s", experiment.eventCount(),
                    word);
    }
    char line[240];
    std::snprintf(line, sizeof line, "%s, %s, %.0f %s/s, %s left", time_part, event_part,
                  elapsed > 0.0 ? experiment.eventCount() / elapsed : 0.0, word, left.c_str());
    const std::string text = line;
    // Blanks cover the rest of a longer earlier line.
    const std::string pad =
        text.size() < shown_width_ ? std::string(shown_width_ - text.size(), ' ') : "";
    std::cerr << '\r' << text << pad << std::flush;
    if (text.size() > shown_width_) shown_width_ = text.size();
  }

  bool show_;
  ObservablesRecorder& recorder_;
  SnapshotSeries* snapshots_;  // null: no snapshots
  ProfileRecorder* profiles_;  // null: no profiles
  Clock::time_point start_;
  Clock::time_point last_shown_;
  std::size_t shown_width_;
};

// The chamber as the snapshots draw it.
template <class ChamberT>
ChamberOutline outlineOf(const ChamberT& chamber, ChamberOutline::Shape shape, double half_x,
                         double half_y, double diam) {
  ChamberOutline outline;
  outline.shape = shape;
  outline.half_x = half_x;
  outline.half_y = half_y;
  outline.height = chamber.height0();
  outline.has_top = chamber.height0() > diam;
  return outline;
}

// The program's chamber, built from its definition, with what the snapshots
// and the profiles need of its own kind: its outline and the profiles' grid.
std::unique_ptr<Chamber> makeChamber(const Program& program, const SimulationDefs& defs,
                                     double diam, const Options& options, MapStart maps,
                                     ChamberOutline& outline, ProfileGrid& grid) {
  const double width = options.profile_bin > 0.0 ? options.profile_bin : diam;
  if (program.chamber == ChamberKind::kBox) {
    auto box = std::make_unique<Box>(defs.box, maps);
    outline = outlineOf(*box, ChamberOutline::Shape::kBox, box->xsize0(), box->ysize0(), diam);
    grid = profileGrid(*box, diam, width, options.profile_phases);
    return box;
  }
  auto cylinder = std::make_unique<Cylinder>(defs.cylinder, maps);
  outline = outlineOf(*cylinder, ChamberOutline::Shape::kCylinder, cylinder->radius0(),
                      cylinder->radius0(), diam);
  grid = profileGrid(*cylinder, diam, width, options.profile_phases);
  return cylinder;
}

// Ends the start-up of a resumed run that cannot go on from what it found:
// nothing has been written yet.
[[noreturn]] void refuse(const std::string& file, const std::string& why) {
  std::cerr << "Error reading " << file << ": " << why << std::endl;
  lifecycle::exitNow(1);
}

// The run record of the directory, with the options of the run it holds:
// among them the settings of values the run depends on (the limits and
// start-only values come from ini/ or from this command line).
RunRecord readRecord(const Program& program, Options& options) {
  RunRecord record;
  std::ifstream is(RunRecord::kFile);
  std::string why = "no such file";
  if (!is.is_open() || !readRunRecord(is, record, why)) refuse(RunRecord::kFile, why);
  if (!Experiment::engineNamed(record.engine, options.engine)) refuse(RunRecord::kFile, "an unknown engine");
  options.seed = record.seed;
  options.observe_every = record.observe_every;
  options.snapshot_every = record.snapshot_every;
  if (record.snapshot_every > 0.0 && !parseFormat(record.snapshot_format, options.snapshot_format)) {
    refuse(RunRecord::kFile, "an unknown snapshot format");
  }
  options.profiles_after = record.profiles_after;
  options.profile_bin = record.profile_bin;
  options.profile_phases = record.profile_phases;
  SimulationDefs scratch;
  const ParamTable table = simulationTable(scratch, program.chamber);
  ParamSettings kept;
  for (const auto& [key, value] : record.settings) {
    const ParamField* field = findField(table, key);
    if (field != nullptr && field->same_on_resume) kept.push_back(ParamSetting{key, value});
  }
  options.settings.insert(options.settings.begin(), kept.begin(), kept.end());
  return record;
}

std::int64_t fileSize(const char* name) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(name, error);
  return error ? -1 : static_cast<std::int64_t>(size);
}

// Refuses to continue a run whose record does not fit the program, the
// parameters in force or the files it belongs to; before anything is
// built or written.
void checkResume(const Program& program, SimulationDefs& defs, const RunRecord& record) {
  const char* const file = RunRecord::kFile;
  if (record.program != program.batch_name) {
    refuse(file, "written by " + record.program + ", not by " + program.batch_name);
  }
  if (!record.resumable) {
    refuse(file, "the run ended inside a step (an inelastic collapse) and cannot be continued");
  }
  if (record.engine == "reference" && !record.has_predictions) {
    refuse(file, "the reference loop's predictions are missing");
  }
  // Every value the run depends on as it was; a key of the record that the
  // program does not have (the other chamber's) is a different run.
  const ParamTable table = simulationTable(defs, program.chamber);
  for (const auto& [key, value] : record.parameters) {
    if (findField(table, key) == nullptr) refuse(file, "it has " + key + ", a key " + program.batch_name + " does not have");
  }
  for (const ParamField& field : table) {
    if (!field.same_on_resume || !fieldInUse(field)) continue;
    const std::string now = fieldText(field);
    std::string then = "none";
    for (const auto& [key, value] : record.parameters) {
      if (key == field.key) then = value;
    }
    if (then != now) refuse(file, field.key + " was " + then + ", is " + now + " now");
  }
  Digest state;
  if (fileSize("state.out") != static_cast<std::int64_t>(record.state_bytes) ||
      !Digest::ofFile("state.out", record.state_bytes, state) ||
      state.crc32() != record.state_crc32) {
    refuse("state.out", "not the state its run record was written with");
  }
  Digest rows;
  if (record.observing &&
      (!Digest::ofFile(ObservablesRecorder::kFile, record.observe_bytes, rows) ||
       rows.crc32() != record.observe_crc32)) {
    refuse(ObservablesRecorder::kFile, "not the rows its run record was written with");
  }
  for (const auto& [name, bytes] : {std::make_pair("top.map", record.top_map_bytes),
                                    std::make_pair("bot.map", record.bot_map_bytes)}) {
    if (bytes > 0 && fileSize(name) < bytes) refuse(name, "shorter than its run record says");
  }
}

// The start of every run record: what the run is.
RunRecord recordStart(const Program& program, SimulationDefs& defs, const Options& options) {
  RunRecord record;
  record.program = program.batch_name;
  record.seed = options.seed;
  for (const ParamSetting& s : options.settings) record.settings.emplace_back(s.key, s.value);
  record.parameters = tableValues(simulationTable(defs, program.chamber));
  return record;
}

// Builds the program objects in the order of the window program, as
// function-local statics so that the normal exit path destroys them in
// reverse order and they write their result files; then runs to the limits.
// The recorders too are built before the run phase begins, so that a
// failure to put their files in place is reported in the teardown like the
// others; the checkpoint, built last, hands the run record to the shot
// before anything else is torn down. Returns the exit status.
int run(const Program& program, Options options) {
  lifecycle::beginProcess();
  static RunRecord resumed;
  const RunRecord* resume = nullptr;
  if (options.resume) {
    resumed = readRecord(program, options);
    resume = &resumed;
  }
  std::cerr << "seed: " << options.seed << std::endl;
  static SimulationDefs defs = readSimulationDefs(program, options.settings);
  if (resume != nullptr) checkResume(program, defs, resumed);
  static Par par(defs.run);
  static Shot shot(defs.shot);
  ChamberOutline outline;
  ProfileGrid grid;
  static std::unique_ptr<Chamber> chamber =
      makeChamber(program, defs, shot.diam(), options,
                  resume != nullptr ? MapStart::kContinued : MapStart::kEmpty, outline, grid);
  shot.useSeed(options.seed);
  const double snapshot_every = options.snapshot_every;
  const bool profiling = options.profiles_after >= 0.0;
  if (profiling && grid.bins() > kMostProfileBins) {
    std::cerr << "Too many profile bins: " << grid.bins() << " (at most " << kMostProfileBins
              << "); choose a wider --profile-bin or fewer --profile-phases" << std::endl;
    lifecycle::fail();
  }
  if (resume != nullptr && profiling && resumed.profile_sums.bins != grid.bins()) {
    refuse(RunRecord::kFile, "its profiles have other bins");
  }
  if (resume != nullptr) {
    std::cout << "Resuming the run at t = " << resumed.time << " after " << resumed.steps
              << " steps and " << resumed.events << " " << program.event_word << std::endl;
  }
  static Experiment experiment(program, shot, *chamber, par, options.engine, resume);
  if (options.check_containment) experiment.setContainmentCheck(true);
  static ObservablesRecorder recorder(shot, *chamber, options.observe_every, resume);
  static std::unique_ptr<ProfileRecorder> profiles;
  if (profiling) {
    profiles = std::make_unique<ProfileRecorder>(shot, *chamber, grid, options.profiles_after,
                                                 options.profile_bin, resume);
  }
  static SnapshotSeries snapshots(shot, *chamber, outline, "snapshots", snapshot_every,
                                  options.snapshot_format);
  if (snapshot_every > 0.0) {
    if (!snapshots.prepare()) lifecycle::fail();
    if (resume != nullptr) {
      snapshots.resume(resumed);
    } else if (!snapshots.write(0.0)) {
      lifecycle::fail();
    }
  }
  static Checkpoint checkpoint(recordStart(program, defs, options), experiment, shot, true);
  checkpoint.add([](RunRecord& r) { recorder.capture(r); });
  if (profiling) checkpoint.add([](RunRecord& r) { profiles->capture(r); });
  if (snapshot_every > 0.0) checkpoint.add([](RunRecord& r) { snapshots.capture(r); });
  lifecycle::beginRun();

  ProgressMonitor monitor(isatty(STDERR_FILENO) != 0, recorder,
                          snapshot_every > 0.0 ? &snapshots : nullptr, profiles.get());
  experiment.setMonitor(&monitor);
  experiment.fullRun();
  experiment.setMonitor(nullptr);
  // A run cut short by a signal ends with the shell's status for it.
  if (stopSignals::received() != 0) lifecycle::exitRun(128 + stopSignals::received());
  return 0;
}

// The parameters' keys, each with its file, line and place on the line,
// and the kind of its value.
void printKeys(std::ostream& os, const Program& program) {
  SimulationDefs scratch;
  const ParamTable table = simulationTable(scratch, program.chamber);
  for (std::size_t k = 0; k < table.size(); ++k) {
    const ParamField& field = table[k];
    os << field.key << ' ' << field.key.substr(0, field.key.find('.')) << ".ini:" << field.line
       << ':' << placeOnLine(table, k) << ' ' << fieldKind(field) << '\n';
  }
}

}  // namespace

int runBatch(const Program& program, int argc, char** argv) {
  processStart::secure();
  Options options;
  if (!parseOptions(argc, argv, options)) {
    printUsage(std::cerr, program);
    return 2;
  }
  if (options.help) {
    printUsage(std::cout, program);
    return 0;
  }
  if (options.keys) {
    printKeys(std::cout, program);
    return 0;
  }
  for (const ParamSetting& setting : options.settings) {
    if (!checkSetting(program.chamber, setting)) {
      std::cerr << "--set " << setting.key << "=" << setting.value
                << ": no such key, or no value of its kind (--keys lists them)" << std::endl;
      printUsage(std::cerr, program);
      return 2;
    }
  }
  if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) {
    std::cerr << "Cannot enter directory " << options.directory << ": "
              << std::strerror(errno) << std::endl;
    return 1;
  }
  // One run at a time in a directory; the snapshots' folder, if asked for,
  // is made before any file is touched.
  if (!runDirectory::claim(options.directory.empty() ? "." : options.directory.c_str())) return 1;
  if (options.snapshot_every > 0.0 && !SnapshotSeries::makeDirectory("snapshots")) return 1;
  if (!options.seed_given) options.seed = static_cast<long>(std::time(nullptr));
  return run(program, options);
}
