// Throughput of the event loop: how many events and sphere collisions per
// second of computing it carries out, in the box and in the cylinder, for
// beds of the shipped physics from 250 to a million spheres and for the
// other regimes a researcher runs (a deep bed, a strongly fluidised bed,
// elastic gases under almost no gravity, a tall narrow cylinder, a wide
// shallow box), printed as a table and as CSV; then Google Benchmark
// micro-benchmarks of the two predictions the loop makes at every event
// (each sphere's next impact on the chamber, and sphere pairs).
//
// Every bed is laid with fixed seeds, so two runs of the program do the
// same work; only the timing differs. See README.md for the figures.

#include <benchmark/benchmark.h>
#include <sched.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "box.h"
#include "cylinder.h"
#include "experiment.h"
#include "par.h"
#include "program.h"
#include "shot.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr unsigned kSeed = 1234;

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
// parameter files and the result files the simulation classes write.
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
    std::filesystem::create_directory("ini");
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

// A kind of bed the table measures, for any number of spheres: its chamber
// and physics (diameter 1, base period 1, impact maps off) and how its
// start is laid. A bed is laid on a lattice from the base up, its floor
// growing with n so that each unit of floor holds per_area spheres. A gas
// (packing > 0) fills a cube of that packing fraction through its whole
// volume.
struct Regime {
  const char* name;
  const char* description;
  ChamberKind chamber;
  double per_area;     // beds: spheres per unit of floor area
  double packing;      // gases: packing fraction of the cube; 0 for a bed
  double height;       // inner height of a bed's chamber, at least
  double slender;      // beds: the chamber at least this many times as high as wide
  double amplitude;    // of the base
  double gravity;
  double restitution;  // of every surface and between spheres
  double threshold;    // speed above which the restitution falls
  std::vector<int> sizes;  // numbers of spheres measured by default
};

// The shipped bed, 300 spheres on a 10 x 10 floor: 3 spheres per unit of
// floor area, 3 to 4 layers deep; its physics is that of ini/.
constexpr double kShippedPerArea = 3.0;
constexpr double kShippedGravity = 3.924;
const std::vector<int> kShippedSizes{250, 1000, 4000, 10000, 16000, 100000, 1000000};
const std::vector<int> kRegimeSizes{10000, 100000};
// A bed 10 layers deep, where the shipped one is 3 to 4.
constexpr double kDeepPerArea = kShippedPerArea * 10.0 / 3.5;

// An elastic gas: restitution 1 with a threshold no speed reaches, a base at
// rest, and gravity 1e-6, the nearest the chamber comes to none (a sphere
// with the temperature's speed would rise 10^6 diameters).
Regime gas(const char* name, const char* description, double packing) {
  return {name, description, ChamberKind::kBox, 0.0, packing, 0.0, 0.0, 0.0, 1e-6, 1.0, 1e9,
          kRegimeSizes};
}

const std::vector<Regime>& regimes() {
  static const std::vector<Regime> all{
      {"shipped", "the shipped bed in the box: 3 to 4 layers shaken by amplitude 1",
       ChamberKind::kBox, kShippedPerArea, 0.0, 20.0, 0.0, 1.0, kShippedGravity, 0.9, 1.0,
       kShippedSizes},
      {"shipped", "the shipped bed in the cylinder", ChamberKind::kCylinder, kShippedPerArea, 0.0,
       20.0, 0.0, 1.0, kShippedGravity, 0.9, 1.0, kShippedSizes},
      {"deep", "a dense bed 10 layers deep (the shipped bed is 3 to 4) in a box 30 tall",
       ChamberKind::kBox, kDeepPerArea, 0.0, 30.0, 0.0, 1.0, kShippedGravity, 0.9, 1.0,
       kRegimeSizes},
      {"fluidised", "the shipped bed shaken by amplitude 3 (base speed 12)", ChamberKind::kBox,
       kShippedPerArea, 0.0, 20.0, 0.0, 3.0, kShippedGravity, 0.9, 1.0, kRegimeSizes},
      gas("gas-0.05", "an elastic gas at packing fraction 0.05 in a cube, g = 1e-6", 0.05),
      gas("gas-0.2", "the same gas at packing fraction 0.2", 0.2),
      gas("gas-0.35", "the same gas at packing fraction 0.35", 0.35),
      {"tall", "a cylinder 10 times as high as wide, the shipped bed shaken by amplitude 3",
       ChamberKind::kCylinder, kShippedPerArea, 0.0, 20.0, 10.0, 3.0, kShippedGravity, 0.9, 1.0,
       kRegimeSizes},
      {"wide", "a wide shallow box: less than a layer (0.8 per unit area) under a lid 5 up",
       ChamberKind::kBox, 0.8, 0.0, 5.0, 0.0, 1.0, kShippedGravity, 0.9, 1.0, kRegimeSizes},
  };
  return all;
}

// The half-width of a box or the radius of a cylinder for n spheres.
double floorSize(const Regime& regime, int n) {
  if (regime.packing > 0.0) return 0.5 * std::cbrt(n * kPi / (6.0 * regime.packing));
  const double area = n / regime.per_area;
  return regime.chamber == ChamberKind::kBox ? 0.5 * std::sqrt(area) : std::sqrt(area / kPi);
}

// At most n points of a lattice of the given spacing in the chamber, their
// lowest points from 0.05 above the base up to top, layer by layer from the
// base up.
std::vector<double> latticePoints(const Regime& regime, double floor, double top, double spacing,
                                  double jitter, int n) {
  // Largest distance of a lattice point from the axis (box: along x and y).
  const double reach = floor - 0.5 - jitter - 1e-9;
  const int across = static_cast<int>(std::floor(2.0 * reach / spacing)) + 1;
  std::vector<double> r;
  for (int layer = 0; static_cast<int>(r.size()) < 3 * n; ++layer) {
    const double z = 0.05 + layer * spacing;
    if (z > top) break;
    for (int i = 0; i < across && static_cast<int>(r.size()) < 3 * n; ++i) {
      for (int j = 0; j < across && static_cast<int>(r.size()) < 3 * n; ++j) {
        const double x = -reach + i * spacing;
        const double y = -reach + j * spacing;
        if (regime.chamber == ChamberKind::kCylinder && x * x + y * y > reach * reach) continue;
        r.insert(r.end(), {x, y, z});
      }
    }
  }
  return r;
}

// The inner height of the regime's chamber for n spheres: a gas's cube;
// for a bed the regime's height, or slender times the floor's width, but
// at least 5 above its lattice.
double chamberHeight(const Regime& regime, int n) {
  const double floor = floorSize(regime, n);
  if (regime.packing > 0.0) return 2.0 * floor;
  const std::vector<double> r = latticePoints(regime, floor, 1e300, 1.1, 0.04, n);
  const double top = r.empty() ? 0.0 : r.back() + 1.0;
  return std::max({regime.height, 2.0 * floor * regime.slender, top + 5.0});
}

// The start of a run: spheres of diameter 1 on a lattice, each moved at
// random by up to the jitter along each axis (so no two touch), with random
// velocities at the shipped temperature 1. A bed's lattice has spacing 1.1
// and is filled from the base up; a gas's spacing is the largest at which
// the lattice holds every sphere in the cube. (Random placement cannot
// reach the densest gas.)
std::string latticeState(const Regime& regime, int n, unsigned seed) {
  const double floor = floorSize(regime, n);
  double spacing = 1.1;
  double jitter = 0.04;
  std::vector<double> r;
  if (regime.packing > 0.0) {
    const double top = chamberHeight(regime, n) - 1.0;
    for (spacing = 2.0 * floor; r.size() < 3 * static_cast<std::size_t>(n); spacing *= 0.999) {
      jitter = std::min(0.04, 0.25 * (spacing - 1.0));
      r = latticePoints(regime, floor, top - jitter, spacing, jitter, n);
    }
  } else {
    r = latticePoints(regime, floor, 1e300, spacing, jitter, n);
  }
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (double& c : r) c += jitter * unit(gen);
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

// Parameter files of the regime for n spheres starting from its lattice.
void writeScene(const Regime& regime, int n) {
  char text[512];
  writeFile("ini/par.ini", "1 start.state\n0.02\n0\n0\n");
  std::snprintf(text, sizeof text, "%d 1\n0.35 1 0\n%.17g %.17g\n0.001\n", n, regime.restitution,
                regime.threshold);
  writeFile("ini/shot.ini", text);
  const double floor = floorSize(regime, n);
  const double height = chamberHeight(regime, n);
  char physics[256];
  std::snprintf(physics, sizeof physics, "%.17g 1\n%.17g\n%.17g %.17g\n%.17g %.17g\n%.17g %.17g\n",
                regime.amplitude, regime.gravity, regime.restitution, regime.threshold,
                regime.restitution, regime.threshold, regime.restitution, regime.threshold);
  if (regime.chamber == ChamberKind::kBox) {
    std::snprintf(text, sizeof text, "%.17g %.17g %.17g\n%s0.001\n0 1\n0\n10 10\n", floor, floor,
                  height, physics);
    writeFile("ini/box.ini", text);
  } else {
    std::snprintf(text, sizeof text, "%.17g %.17g\n%s0.05\n0.001\n0 1\n0\n10\n", floor, height,
                  physics);
    writeFile("ini/cyl.ini", text);
  }
  writeFile("start.state", latticeState(regime, n, kSeed));
}

// Gives the micro-benchmarks the shot's protected prediction state.
class BenchShot : public Shot {
 public:
  using Shot::Shot;
  // Every sphere-sphere prediction stale, as at the start of a run.
  void forgetPredictions() { resetCollisionData(); }
};

std::unique_ptr<Chamber> makeChamber(ChamberKind kind) {
  if (kind == ChamberKind::kBox) return std::make_unique<Box>("ini/box.ini");
  return std::make_unique<Cylinder>("ini/cyl.ini");
}

// The objects of one run, built from the files of writeScene.
struct Bed {
  Bed(ChamberKind kind, Experiment::Engine engine)
      : par("ini/par.ini"), shot("ini/shot.ini"), chamber(makeChamber(kind)),
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

  Par par;
  BenchShot shot;
  std::unique_ptr<Chamber> chamber;
  Experiment experiment;
};

struct Settings {
  std::vector<int> spheres;  // bed sizes; empty: each regime's own
  std::vector<std::string> regimes;  // the regimes to measure; empty: all
  int runs = 5;
  double scale = 1.0;  // multiplies the events of each run
  double warm_up = 4.0;  // cycles of shaking before the runs
  bool micro = true;
  int micro_spheres = 1000;
  std::string csv;  // also write the CSV to this file
  std::vector<std::string> engines;  // the engines to measure; empty: all
  std::vector<int> placements{100000, 1000000};  // beds placed at random; empty: none

  bool wants(const std::string& engine) const {
    return engines.empty() || std::find(engines.begin(), engines.end(), engine) != engines.end();
  }
  bool measures(const Regime& regime) const {
    return this->regimes.empty() ||
           std::find(this->regimes.begin(), this->regimes.end(), regime.name) != this->regimes.end();
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
  std::string regime;
  ChamberKind chamber;
  int spheres;
  int runs;
  long events;            // per run, the mean
  double cycles;          // simulated per run, the mean
  double events_per_s;    // median over the runs
  double collisions_per_s;  // sphere-sphere collisions, over all runs
  double events_per_cycle;
  double ns_per_event_per_sphere;
  double vs_reference;  // events_per_s over that of the first engine
};

// Processor time of this thread: the work of a run, which other programs on
// a shared machine do not stretch as they stretch the wall-clock time (they
// still share the caches and the memory bus).
double processorSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t m = values.size() / 2;
  return values.size() % 2 ? values[m] : 0.5 * (values[m - 1] + values[m]);
}

// An event goal no warm-up reaches: it ends by time.
constexpr long kAllEvents = 1L << 40;

// Lays the bed on its lattice and shakes it with the fast engine until it
// has forgotten the lattice (the rate of events of a bed settles within two
// to four cycles), then writes that state as the start of every engine's
// runs. Returns the events per cycle of the last quarter of the warm-up.
double warmUp(const Regime& regime, int n, double cycles) {
  Quiet quiet;
  writeScene(regime, n);
  Bed bed(regime.chamber, Experiment::Engine::kFast);
  bed.runEvents(kAllEvents, 0.02, 0.75 * cycles);
  const long events = bed.experiment.eventCount();
  const double t0 = bed.experiment.tFull();
  bed.runEvents(kAllEvents, 0.02, cycles);
  const double events_per_cycle =
      std::max(1.0, static_cast<double>(bed.experiment.eventCount() - events)) /
      std::max(1e-9, bed.experiment.tFull() - t0);
  bed.writeState("start.state");
  return events_per_cycle;
}

// Measures several runs of a fixed number of events, one after the other on
// the bed warmed by warmUp. A run steps by the production step 0.02, or by
// less where a run would span fewer than 20 steps, so that the end of a run
// overshoots its events by little.
Row measure(const EngineEntry& engine, const Regime& regime, int n, const Settings& settings,
            double events_per_cycle) {
  Quiet quiet;
  Bed bed(regime.chamber, engine.engine);
  const long per_run = eventsPerRun(n, settings.scale, engine);
  const double step = std::min(0.02, per_run / (20.0 * events_per_cycle));
  std::vector<double> rates;
  long events = 0;
  long collisions = 0;
  double cycles = 0.0;
  double seconds = 0.0;
  for (int run = 0; run < settings.runs; ++run) {
    const long e0 = bed.experiment.eventCount();
    const long c0 = bed.shot.collision();
    const double t0 = bed.experiment.tFull();
    const double start = processorSeconds();
    bed.runEvents(per_run, step);
    const double took = processorSeconds() - start;
    const long done = bed.experiment.eventCount() - e0;
    rates.push_back(done / took);
    events += done;
    collisions += bed.shot.collision() - c0;
    cycles += bed.experiment.tFull() - t0;
    seconds += took;
  }
  Row row;
  row.engine = engine.name;
  row.regime = regime.name;
  row.chamber = regime.chamber;
  row.spheres = n;
  row.runs = settings.runs;
  row.events = events / settings.runs;
  row.cycles = cycles / settings.runs;
  row.events_per_s = median(rates);
  // Collisions per second at the median rate of events.
  row.collisions_per_s = row.events_per_s * collisions / static_cast<double>(events);
  row.events_per_cycle = events / cycles;
  row.ns_per_event_per_sphere = 1e9 / row.events_per_s / n;
  row.vs_reference = 1.0;
  return row;
}

void printTable(const std::vector<Row>& rows) {
  std::printf("%-10s %-10s %-8s %7s %4s %10s %10s %11s %12s %12s %15s %12s\n", "engine", "regime",
              "chamber", "spheres", "runs", "events/run", "cycles/run", "events/s", "collisions/s",
              "events/cycle", "ns/event/sphere", "vs reference");
  for (const Row& r : rows) {
    std::printf("%-10s %-10s %-8s %7d %4d %10ld %10.4g %11.0f %12.0f %12.0f %15.2f %12.2f\n",
                r.engine.c_str(), r.regime.c_str(), chamberName(r.chamber), r.spheres, r.runs,
                r.events, r.cycles, r.events_per_s, r.collisions_per_s, r.events_per_cycle,
                r.ns_per_event_per_sphere, r.vs_reference);
  }
}

void writeCsv(std::FILE* out, const std::vector<Row>& rows) {
  std::fprintf(out,
               "engine,regime,chamber,spheres,runs,events_per_run,cycles_per_run,events_per_s,"
               "collisions_per_s,events_per_cycle,ns_per_event_per_sphere,vs_reference\n");
  for (const Row& r : rows) {
    std::fprintf(out, "%s,%s,%s,%d,%d,%ld,%.6g,%.6g,%.6g,%.6g,%.6g,%.4g\n", r.engine.c_str(),
                 r.regime.c_str(), chamberName(r.chamber), r.spheres, r.runs, r.events, r.cycles,
                 r.events_per_s, r.collisions_per_s, r.events_per_cycle, r.ns_per_event_per_sphere,
                 r.vs_reference);
  }
}

// What a bed's measurement hands back from its child process, per engine:
// the numbers of its row (plain bytes through a pipe).
struct Measured {
  int engine;  // index in kEngines
  int runs;
  long events;
  double cycles, events_per_s, collisions_per_s, events_per_cycle, ns_per_event_per_sphere;
};

// Warms the bed up and measures every engine wanted on it, handing each row
// to out.
void measureBed(const Regime& regime, int n, const Settings& settings, int out) {
  const double events_per_cycle = warmUp(regime, n, settings.warm_up);
  for (std::size_t e = 0; e < std::size(kEngines); ++e) {
    const EngineEntry& engine = kEngines[e];
    if (!settings.wants(engine.name) || n > engine.max_spheres) continue;
    const Row r = measure(engine, regime, n, settings, events_per_cycle);
    const Measured m{static_cast<int>(e), r.runs, r.events, r.cycles, r.events_per_s,
                     r.collisions_per_s, r.events_per_cycle, r.ns_per_event_per_sphere};
    if (write(out, &m, sizeof m) != static_cast<ssize_t>(sizeof m)) _exit(3);
  }
}

// Each bed is measured in a child process: a bed that collapses (an
// inelastic collapse ends the process that runs it) loses its own rows
// only, and is listed in ended.
std::vector<Row> throughput(const Settings& settings, std::vector<std::string>& ended) {
  std::vector<Row> rows;
  for (const Regime& regime : regimes()) {
    if (!settings.measures(regime)) continue;
    for (int n : settings.spheres.empty() ? regime.sizes : settings.spheres) {
      // Each bed's progress on standard error.
      std::fprintf(stderr, "%s %s %d: warm-up\n", regime.name, chamberName(regime.chamber), n);
      std::fflush(nullptr);
      int pipe_ends[2];
      if (pipe(pipe_ends) != 0) std::exit(1);
      const pid_t child = fork();
      if (child < 0) std::exit(1);
      if (child == 0) {
        close(pipe_ends[0]);
        measureBed(regime, n, settings, pipe_ends[1]);
        _exit(0);  // no destructor: the workspace belongs to the parent
      }
      close(pipe_ends[1]);
      double reference = std::nan("");  // events/s of the first engine, if measured
      Measured m;
      while (read(pipe_ends[0], &m, sizeof m) == static_cast<ssize_t>(sizeof m)) {
        if (m.engine == 0) reference = m.events_per_s;
        const Row row{kEngines[m.engine].name, regime.name, regime.chamber, n, m.runs, m.events,
                      m.cycles, m.events_per_s, m.collisions_per_s, m.events_per_cycle,
                      m.ns_per_event_per_sphere, m.events_per_s / reference};
        std::fprintf(stderr, "%s %s %d: %s %.0f events/s\n", regime.name,
                     chamberName(regime.chamber), n, row.engine.c_str(), row.events_per_s);
        rows.push_back(row);
      }
      close(pipe_ends[0]);
      int status = 0;
      waitpid(child, &status, 0);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ended.push_back(std::string(regime.name) + " " + chamberName(regime.chamber) + " " +
                        std::to_string(n));
      }
    }
  }
  return rows;
}

// Seconds that the random placement of the shipped bed of n spheres in the
// box takes (Shot::distribute, at the shipped packing fraction 0.35 of the
// start layer, with a fixed seed).
double placementSeconds(int n) {
  Quiet quiet;
  writeScene(regimes().front(), n);
  Box box("ini/box.ini");
  Shot shot("ini/shot.ini");
  shot.set(box);
  shot.useSeed(kSeed);
  const double start = processorSeconds();
  shot.distribute(box);
  return processorSeconds() - start;
}

// A bed in motion for the micro-benchmarks: the shipped bed laid, then run
// for one cycle (at most 20 events per sphere) so that positions and
// velocities are those of a shaken bed, not of the lattice.
std::unique_ptr<Bed> settledBed(ChamberKind kind, int n) {
  Quiet quiet;
  for (const Regime& regime : regimes()) {
    if (regime.chamber == kind) {
      writeScene(regime, n);
      break;
    }
  }
  auto bed = std::make_unique<Bed>(kind, Experiment::Engine::kReference);
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
               "Measures the event loop on beds of several regimes and prints a table\n"
               "and a CSV of the throughput, then runs the micro-benchmarks.\n"
               "\n"
               "  --regimes R,R,...  regimes to measure (default all, see below)\n"
               "  --spheres N,N,...  bed sizes (default: shipped 250,1000,4000,10000,16000,\n"
               "                     100000,1000000, the others 10000,100000; the reference\n"
               "                     loop only up to 16000)\n"
               "  --engines E,E,...  engines to measure (default all: reference,fast)\n"
               "  --runs R           measured runs per bed; the table gives the median\n"
               "                     (default 5)\n"
               "  --scale F          multiplies the events of each run (default 1)\n"
               "  --warm-up C        cycles of shaking before the runs (default 4)\n"
               "  --placements N,... beds of the shipped regime to place at random and time\n"
               "                     (default 100000,1000000)\n"
               "  --no-placement     time no placement\n"
               "  --csv FILE         also write the CSV to FILE\n"
               "  --no-micro         skip the micro-benchmarks\n"
               "  --micro-spheres N  bed of the micro-benchmarks (default 1000)\n"
               "  --smoke            tiny counts: checks that everything runs\n"
               "\n"
               "Regimes (restitution 0.9 with threshold speed 1 and g = 3.924 unless said):\n");
  for (const Regime& regime : regimes()) {
    std::fprintf(out, "  %-10s %s\n", regime.name, regime.description);
  }
}

bool parseRegimes(const char* text, std::vector<std::string>& names) {
  names.clear();
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, ',')) {
    bool known = false;
    for (const Regime& regime : regimes()) known = known || item == regime.name;
    if (!known) return false;
    names.push_back(item);
  }
  return !names.empty();
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
    } else if (arg == "--regimes" && has_value) {
      if (!parseRegimes(argv[++i], settings.regimes)) return false;
    } else if (arg == "--warm-up" && has_value) {
      settings.warm_up = std::atof(argv[++i]);
      if (!(settings.warm_up > 0.0)) return false;
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
    } else if (arg == "--placements" && has_value) {
      if (!parseList(argv[++i], settings.placements)) return false;
    } else if (arg == "--no-placement") {
      settings.placements.clear();
    } else if (arg == "--no-micro") {
      settings.micro = false;
    } else if (arg == "--micro-spheres" && has_value) {
      settings.micro_spheres = std::atoi(argv[++i]);
      if (settings.micro_spheres < 2) return false;
    } else if (arg == "--smoke") {
      settings.spheres = {200, 500};
      settings.runs = 2;
      settings.scale = 0.005;
      settings.warm_up = 0.5;
      settings.placements = {500};
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
  std::vector<std::string> ended;
  const std::vector<Row> rows = throughput(settings, ended);
  printTable(rows);
  for (const std::string& bed : ended) {
    std::printf("ended early (see standard error), rows missing: %s\n", bed.c_str());
  }
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
  if (!settings.placements.empty()) {
    std::printf("\nRandom placement of the shipped bed in the box\n%10s %10s\n", "spheres",
                "seconds");
    for (int n : settings.placements) std::printf("%10d %10.3f\n", n, placementSeconds(n));
    std::fflush(stdout);
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
