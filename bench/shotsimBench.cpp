// Throughput of the event loop: how many events per second of computing it
// carries out in the box and in the cylinder, for beds of 250 to 16000
// spheres of the shipped physics, printed as a table and as CSV; then
// Google Benchmark micro-benchmarks of the two predictions the loop makes at
// every event (each sphere's next impact on the chamber, and sphere pairs).
//
// Every bed is laid with fixed seeds, so two runs of the program do the
// same work; only the timing differs. See README.md for the figures.

#include <benchmark/benchmark.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "box.h"
#include "cylinder.h"
#include "definitions.h"
#include "experiment.h"
#include "par.h"
#include "program.h"
#include "shot.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr unsigned kSeed = 1234;
// The shipped bed, 300 spheres on a 10 x 10 floor: 3 spheres per unit of
// floor area, 3 to 4 layers deep. Every bed keeps that depth.
constexpr double kSpheresPerArea = 3.0;

const char* chamberName(ChamberKind kind) { return kind == ChamberKind::kBox ? "box" : "cylinder"; }

// The engines compared in the table; the first is the one the others are
// measured against. A run of an engine holds at least min_events events,
// so that a fast engine's run still lasts long enough to time, and at least
// min_events_per_sphere per sphere, so that in a big bed the steps stay as
// long as in production and the fast engine's work once per step (every
// sphere brought to the present) weighs as little. Beds above max_spheres
// are left out: the reference loop, O(n) per event and O(n^2) to start,
// would take hours there.
struct EngineEntry {
  const char* name;
  Experiment::Engine engine;
  double min_events;
  double min_events_per_sphere;
  int max_spheres;
};
const EngineEntry kEngines[] = {
    {"reference", Experiment::Engine::kReference, 0.0, 0.0, 16000},
    {"fast", Experiment::Engine::kFast, 200000.0, 2.0, 1000000},
};

// Silences std::cout, where the simulation classes report their progress,
// while it lives.
class Quiet {
 public:
  Quiet() : previous_(std::cout.rdbuf(nullptr)) {}
  ~Quiet() {
    std::cout.clear();
    std::cout.rdbuf(previous_);
  }
  Quiet(const Quiet&) = delete;
  Quiet& operator=(const Quiet&) = delete;

 private:
  std::streambuf* previous_;
};

// A fresh directory, the working directory while the object lives, for the
// start state and the result files the simulation classes write.
class Workspace {
 public:
  Workspace() {
    previous_ = std::filesystem::current_path();
    std::string tmpl = (std::filesystem::temp_directory_path() / "shotsim-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) {
      std::perror("shotsim-bench: cannot make a working directory");
      std::exit(1);
    }
    path_ = tmpl;
    std::filesystem::current_path(path_);
  }
  ~Workspace() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

void writeFile(const char* name, const std::string& text) {
  std::ofstream os(name, std::ios::trunc);
  os << text;
  if (!os) {
    std::fprintf(stderr, "shotsim-bench: cannot write %s\n", name);
    std::exit(1);
  }
}

// A state file's text, "x y z vx vy vz" per sphere to all digits.
std::string stateText(const double* r, const double* v, int n) {
  std::ostringstream os;
  char line[160];
  for (int i = 0; i < n; ++i) {
    std::snprintf(line, sizeof line, "%.17g %.17g %.17g %.17g %.17g %.17g\n", r[3 * i],
                  r[3 * i + 1], r[3 * i + 2], v[3 * i], v[3 * i + 1], v[3 * i + 2]);
    os << line;
  }
  return os.str();
}

// Floor sizes that give n spheres the depth of the shipped bed.
double boxHalfWidth(int n) { return std::sqrt(n / (4.0 * kSpheresPerArea)); }
double cylinderRadius(int n) { return std::sqrt(n / (kPi * kSpheresPerArea)); }

// The start of a run: spheres of diameter 1 on a lattice of spacing 1.1,
// each moved at random by up to 0.04 along each axis (so no two touch),
// filled layer by layer from the base up; random velocities with the
// shipped temperature 1. Random placement would check each draw against
// every sphere placed and take minutes for the largest beds.
std::string latticeState(ChamberKind kind, int n, unsigned seed) {
  constexpr double kSpacing = 1.1;
  constexpr double kJitter = 0.04;
  // Largest distance of a lattice point from the axis (box: along x and y).
  const double reach = (kind == ChamberKind::kBox ? boxHalfWidth(n) : cylinderRadius(n)) - 0.5 -
                       kJitter - 1e-9;
  const int across = static_cast<int>(std::floor(2.0 * reach / kSpacing)) + 1;
  std::vector<double> r;
  for (int layer = 0; static_cast<int>(r.size()) < 3 * n; ++layer) {
    for (int i = 0; i < across && static_cast<int>(r.size()) < 3 * n; ++i) {
      for (int j = 0; j < across && static_cast<int>(r.size()) < 3 * n; ++j) {
        const double x = -reach + i * kSpacing;
        const double y = -reach + j * kSpacing;
        if (kind == ChamberKind::kCylinder && x * x + y * y > reach * reach) continue;
        r.insert(r.end(), {x, y, 0.05 + layer * kSpacing});
      }
    }
  }
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (double& c : r) c += kJitter * unit(gen);
  std::vector<double> v(r.size());
  double mean[3] = {0.0, 0.0, 0.0};
  for (std::size_t k = 0; k < v.size(); ++k) {
    v[k] = unit(gen);
    mean[k % 3] += v[k] / n;
  }
  double sum2 = 0.0;
  for (std::size_t k = 0; k < v.size(); ++k) {
    v[k] -= mean[k % 3];
    sum2 += v[k] * v[k];
  }
  const double scale = std::sqrt(3.0 * n / sum2);  // mean squared component 1
  for (double& c : v) c *= scale;
  return stateText(r.data(), v.data(), n);
}

// The shipped physics (diameter 1, amplitude 1, period 1, g 3.924,
// restitution 0.9 with threshold speed 1 everywhere, a 20 tall chamber: the
// definitions' defaults) for n spheres starting from the lattice in
// "start.state", with the impact maps off.
struct BedDefs {
  RunDef run;
  ShotDef shot;
  BoxDef box;
  CylinderDef cylinder;
};

BedDefs bedDefs(int n) {
  BedDefs d;
  d.run.restart = 1;
  d.run.state_file = "start.state";
  d.run.time_limit = 0.0;
  d.shot.count = n;
  d.box.half_x = d.box.half_y = boxHalfWidth(n);
  d.box.chamber.maps = 0;
  d.cylinder.radius = cylinderRadius(n);
  d.cylinder.chamber.maps = 0;
  return d;
}

// Lays the lattice the bed starts from.
void writeStart(ChamberKind kind, int n) { writeFile("start.state", latticeState(kind, n, kSeed)); }

// Gives the micro-benchmarks the shot's protected prediction state.
class BenchShot : public Shot {
 public:
  using Shot::Shot;
  // Every sphere-sphere prediction stale, as at the start of a run.
  void forgetPredictions() { resetCollisionData(); }
};

std::unique_ptr<Chamber> makeChamber(ChamberKind kind, const BedDefs& d) {
  if (kind == ChamberKind::kBox) return std::make_unique<Box>(d.box);
  return std::make_unique<Cylinder>(d.cylinder);
}

// The objects of one run of n spheres, from the state in "start.state".
struct Bed {
  Bed(ChamberKind kind, int n, Experiment::Engine engine)
      : defs(bedDefs(n)), par(defs.run), shot(defs.shot), chamber(makeChamber(kind, defs)),
        experiment(cratesim(), shot, *chamber, par, engine) {}

  // The production time step, shortened for larger beds so that a step
  // holds about as many events whatever the size.
  static double warmUpStep(int n) { return 0.02 * std::min(1.0, 250.0 / n); }

  // Writes the shot's present state to the named file to all digits.
  void writeState(const char* name) {
    writeFile(name, stateText(shot.r_chunk(), shot.v_chunk(), shot.n()));
  }

  // Steps of dt until at least the given number of events more are done,
  // or the simulated time reaches the limit.
  void runEvents(long events, double dt, double t_limit = 1e300) {
    const long goal = experiment.eventCount() + events;
    while (experiment.eventCount() < goal && experiment.tFull() < t_limit) experiment.makeStep(dt);
  }

  BedDefs defs;
  Par par;
  BenchShot shot;
  std::unique_ptr<Chamber> chamber;
  Experiment experiment;
};

struct Settings {
  std::vector<int> spheres{250, 1000, 4000, 10000, 16000, 100000, 1000000};
  int runs = 5;
  double scale = 1.0;  // multiplies the events of each run
  bool micro = true;
  int micro_spheres = 1000;
  std::string csv;  // also write the CSV to this file
  std::vector<std::string> engines;  // the engines to measure; empty: all

  bool wants(const std::string& engine) const {
    return engines.empty() || std::find(engines.begin(), engines.end(), engine) != engines.end();
  }
};

// Events of one measured run: enough for about a second and a half of the
// reference loop, whose cost per event grows with n, and at least the
// engine's minimum.
long eventsPerRun(int n, double scale, const EngineEntry& engine) {
  const double events =
      std::max({2000.0, 4e7 / n, engine.min_events, engine.min_events_per_sphere * n});
  return std::max(20L, static_cast<long>(scale * events));
}

struct Row {
  std::string engine;
  ChamberKind chamber;
  int spheres;
  int runs;
  long events;            // per run, the mean
  double cycles;          // simulated per run, the mean
  double events_per_s;    // median over the runs
  double events_per_cycle;
  double ns_per_event_per_sphere;
  double vs_reference;  // events_per_s over that of the first engine
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t m = values.size() / 2;
  return values.size() % 2 ? values[m] : 0.5 * (values[m - 1] + values[m]);
}

// Cycles of shaking that take a bed from the lattice to its steady state:
// after the fourth the rate of events no longer drifts (it settles in two
// to four cycles from the lattice).
constexpr double kWarmUpCycles = 4.0;
// An event goal no warm-up reaches: it ends by time.
constexpr long kAllEvents = 1L << 40;

// Lays the bed on the lattice and shakes it with the fast engine until it
// has forgotten the lattice, then writes that state as the start of every
// engine's runs. Returns the events per cycle of the last warm-up cycle.
double warmUp(ChamberKind kind, int n) {
  Quiet quiet;
  writeStart(kind, n);
  Bed bed(kind, n, Experiment::Engine::kFast);
  bed.runEvents(kAllEvents, 0.02, kWarmUpCycles - 1.0);
  const long events = bed.experiment.eventCount();
  const double t0 = bed.experiment.tFull();
  bed.runEvents(kAllEvents, 0.02, kWarmUpCycles);
  const double events_per_cycle = (bed.experiment.eventCount() - events) / (bed.experiment.tFull() - t0);
  bed.writeState("start.state");
  return events_per_cycle;
}

// Measures several runs of a fixed number of events, one after the other on
// the bed warmed by warmUp. A run steps by the production step 0.02, or by
// less where a run would span fewer than 20 steps, so that the end of a run
// overshoots its events by little.
Row measure(const EngineEntry& engine, ChamberKind kind, int n, const Settings& settings,
            double events_per_cycle) {
  Quiet quiet;
  Bed bed(kind, n, engine.engine);
  const long per_run = eventsPerRun(n, settings.scale, engine);
  const double step = std::min(0.02, per_run / (20.0 * events_per_cycle));
  std::vector<double> rates;
  long events = 0;
  double cycles = 0.0;
  for (int run = 0; run < settings.runs; ++run) {
    const long e0 = bed.experiment.eventCount();
    const double t0 = bed.experiment.tFull();
    const auto start = std::chrono::steady_clock::now();
    bed.runEvents(per_run, step);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long done = bed.experiment.eventCount() - e0;
    rates.push_back(done / seconds);
    events += done;
    cycles += bed.experiment.tFull() - t0;
  }
  Row row;
  row.engine = engine.name;
  row.chamber = kind;
  row.spheres = n;
  row.runs = settings.runs;
  row.events = events / settings.runs;
  row.cycles = cycles / settings.runs;
  row.events_per_s = median(rates);
  row.events_per_cycle = events / cycles;
  row.ns_per_event_per_sphere = 1e9 / row.events_per_s / n;
  row.vs_reference = 1.0;
  return row;
}

void printTable(const std::vector<Row>& rows) {
  std::printf("%-10s %-8s %7s %4s %10s %10s %11s %12s %15s %12s\n", "engine", "chamber", "spheres",
              "runs", "events/run", "cycles/run", "events/s", "events/cycle", "ns/event/sphere",
              "vs reference");
  for (const Row& r : rows) {
    std::printf("%-10s %-8s %7d %4d %10ld %10.4g %11.0f %12.0f %15.2f %12.2f\n", r.engine.c_str(),
                chamberName(r.chamber), r.spheres, r.runs, r.events, r.cycles, r.events_per_s,
                r.events_per_cycle, r.ns_per_event_per_sphere, r.vs_reference);
  }
}

void writeCsv(std::FILE* out, const std::vector<Row>& rows) {
  std::fprintf(out,
               "engine,chamber,spheres,runs,events_per_run,cycles_per_run,events_per_s,"
               "events_per_cycle,ns_per_event_per_sphere,vs_reference\n");
  for (const Row& r : rows) {
    std::fprintf(out, "%s,%s,%d,%d,%ld,%.6g,%.6g,%.6g,%.6g,%.4g\n", r.engine.c_str(),
                 chamberName(r.chamber), r.spheres, r.runs, r.events, r.cycles, r.events_per_s,
                 r.events_per_cycle, r.ns_per_event_per_sphere, r.vs_reference);
  }
}

std::vector<Row> throughput(const Settings& settings) {
  std::vector<Row> rows;
  for (ChamberKind kind : {ChamberKind::kBox, ChamberKind::kCylinder}) {
    for (int n : settings.spheres) {
      const double events_per_cycle = warmUp(kind, n);
      double reference = std::nan("");  // events/s of the first engine, if measured
      for (const EngineEntry& engine : kEngines) {
        if (!settings.wants(engine.name) || n > engine.max_spheres) continue;
        Row row = measure(engine, kind, n, settings, events_per_cycle);
        if (&engine == &kEngines[0]) reference = row.events_per_s;
        row.vs_reference = row.events_per_s / reference;
        rows.push_back(row);
      }
    }
  }
  return rows;
}

// A bed in motion for the micro-benchmarks: laid, then run for one cycle
// (at most 20 events per sphere) so that positions and velocities are
// those of a shaken bed, not of the lattice.
std::unique_ptr<Bed> settledBed(ChamberKind kind, int n) {
  Quiet quiet;
  writeStart(kind, n);
  auto bed = std::make_unique<Bed>(kind, n, Experiment::Engine::kReference);
  bed->runEvents(20L * n, Bed::warmUpStep(n), 1.0);
  return bed;
}

// The chamber's impact prediction for every sphere, as the loop makes it
// at each event: every sphere against the bound of the earliest
// sphere-sphere event, which each prediction may lower.
void chamberPrediction(benchmark::State& state, Bed* bed) {
  const int n = bed->shot.n();
  const double* r = bed->shot.r_chunk();
  const double* v = bed->shot.v_chunk();
  const double bound = bed->shot.tNext();
  for (auto _ : state) {
    double best = bound;
    for (int i = 0; i < n; ++i) best = bed->chamber->detect(r + 3 * i, v + 3 * i, best);
    benchmark::DoNotOptimize(best);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

// The sphere-sphere prediction of every pair, as at the start of a run
// (an event repeats it for the few spheres it made stale); items are pairs.
void pairPrediction(benchmark::State& state, Bed* bed) {
  const long n = bed->shot.n();
  Quiet quiet;  // an overlapping pair is reported on std::cout
  for (auto _ : state) {
    bed->shot.forgetPredictions();
    bed->shot.detect();
    benchmark::DoNotOptimize(bed->shot.tNext());
  }
  state.SetItemsProcessed(state.iterations() * n * (n - 1) / 2);
}

void printUsage(std::FILE* out) {
  std::fprintf(out,
               "Usage: shotsim-bench [options] [Google Benchmark options]\n"
               "Measures the event loop in the box and the cylinder and prints a table\n"
               "and a CSV of the throughput, then runs the micro-benchmarks.\n"
               "\n"
               "  --spheres N,N,...  bed sizes (default 250,1000,4000,10000,16000,100000,1000000;\n"
               "                     the reference loop only up to 16000)\n"
               "  --engines E,E,...  engines to measure (default all: reference,fast)\n"
               "  --runs R           measured runs per bed; the table gives the median\n"
               "                     (default 5)\n"
               "  --scale F          multiplies the events of each run (default 1)\n"
               "  --csv FILE         also write the CSV to FILE\n"
               "  --no-micro         skip the micro-benchmarks\n"
               "  --micro-spheres N  bed of the micro-benchmarks (default 1000)\n"
               "  --smoke            tiny counts: checks that everything runs\n");
}

bool parseEngines(const char* text, std::vector<std::string>& names) {
  names.clear();
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, ',')) {
    bool known = false;
    for (const EngineEntry& engine : kEngines) known = known || item == engine.name;
    if (!known) return false;
    names.push_back(item);
  }
  return !names.empty();
}

bool parseList(const char* text, std::vector<int>& values) {
  values.clear();
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, ',')) {
    char* end = nullptr;
    const long value = std::strtol(item.c_str(), &end, 10);
    if (item.empty() || *end != '\0' || value < 2 || value > 1000000) return false;
    values.push_back(static_cast<int>(value));
  }
  return !values.empty();
}

// Reads this program's options and leaves the others for Google Benchmark.
bool parseOptions(int& argc, char** argv, Settings& settings, std::vector<std::string>& extra) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--spheres" && has_value) {
      if (!parseList(argv[++i], settings.spheres)) return false;
    } else if (arg == "--engines" && has_value) {
      if (!parseEngines(argv[++i], settings.engines)) return false;
    } else if (arg == "--runs" && has_value) {
      settings.runs = std::atoi(argv[++i]);
      if (settings.runs < 1) return false;
    } else if (arg == "--scale" && has_value) {
      settings.scale = std::atof(argv[++i]);
      if (!(settings.scale > 0.0)) return false;
    } else if (arg == "--csv" && has_value) {
      settings.csv = argv[++i];
    } else if (arg == "--no-micro") {
      settings.micro = false;
    } else if (arg == "--micro-spheres" && has_value) {
      settings.micro_spheres = std::atoi(argv[++i]);
      if (settings.micro_spheres < 2) return false;
    } else if (arg == "--smoke") {
      settings.spheres = {40, 120};
      settings.runs = 2;
      settings.scale = 0.005;
      settings.micro_spheres = 40;
      extra.push_back("--benchmark_min_time=0.001");
    } else if (arg == "--help" || arg == "-h") {
      printUsage(stdout);
      std::exit(0);
    } else if (arg.rfind("--benchmark_", 0) == 0) {
      argv[kept++] = argv[i];
    } else {
      return false;
    }
  }
  argc = kept;
  return true;
}

// Keeps the program on the processor it started on. Moved from one to the
// other mid-run (as a scheduler does on a machine with other work), a run
// refills its caches and, under a virtual machine, measured up to a third
// slower, which made the figures of one build flip between two values.
void stayOnThisProcessor() {
#if defined(__linux__)
  const int cpu = sched_getcpu();
  if (cpu < 0) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  sched_setaffinity(0, sizeof set, &set);  // only a wish: failure changes no result
#endif
}

double loadAverage() {
  double load = -1.0;
  std::ifstream is("/proc/loadavg");
  is >> load;
  return load;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  std::vector<std::string> extra;
  if (!parseOptions(argc, argv, settings, extra)) {
    printUsage(stderr);
    return 2;
  }
  Workspace workspace;
  stayOnThisProcessor();

  std::printf("Event-loop throughput (load average %.2f at the start)\n\n", loadAverage());
  const std::vector<Row> rows = throughput(settings);
  printTable(rows);
  std::printf("\n");
  writeCsv(stdout, rows);
  std::fflush(stdout);
  if (!settings.csv.empty()) {
    std::FILE* out = std::fopen(settings.csv.c_str(), "w");
    if (out == nullptr) {
      std::fprintf(stderr, "shotsim-bench: cannot write %s\n", settings.csv.c_str());
      return 1;
    }
    writeCsv(out, rows);
    if (std::fclose(out) != 0) return 1;
  }
  if (!settings.micro) return 0;

  std::printf("\n");
  std::fflush(stdout);
  std::unique_ptr<Bed> box = settledBed(ChamberKind::kBox, settings.micro_spheres);
  std::unique_ptr<Bed> cylinder = settledBed(ChamberKind::kCylinder, settings.micro_spheres);
  const std::string n = std::to_string(settings.micro_spheres);
  benchmark::RegisterBenchmark(("chamber_impact_prediction/box/" + n).c_str(), chamberPrediction,
                               box.get());
  benchmark::RegisterBenchmark(("chamber_impact_prediction/cylinder/" + n).c_str(),
                               chamberPrediction, cylinder.get());
  benchmark::RegisterBenchmark(("pair_prediction/" + n).c_str(), pairPrediction, box.get());

  std::vector<char*> args(argv, argv + argc);
  for (std::string& e : extra) args.push_back(&e[0]);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Quiet quiet;  // the beds report their state file as they go
  box.reset();
  cylinder.reset();
  return 0;
}
