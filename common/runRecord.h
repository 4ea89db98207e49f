#ifndef RUNRECORD_H
#define RUNRECORD_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

// The run record: what a program saved beside "state.out" to say what that
// state is (the program, the parameter values in force, the moment of the
// run) and what it takes to continue the run from it exactly (the batch
// programs' --resume): the counters and running totals, the raw sums of the
// histograms and profiles, the schedules of the recorders and, for the
// reference loop, its pending predictions. Written as "key value ..." lines
// of text, every real with 17 significant digits so that it reads back as
// the same double; "state_bytes" and "state_crc32" give the size and the
// CRC-32 of the state file it belongs to (docs/FILES.md).

// A histogram's sums, unnormalised: the files it writes cannot be read back.
struct HistogramSums {
  struct Cell {
    int index;
    std::int64_t hits;
    double pressure;
    double energy;
  };
  int cells = 0;            // cells (or rings) of the histogram
  std::int64_t hits = 0;    // every hit, those off the cells included
  std::vector<Cell> used;   // the cells hit at least once, in order
};

// A profile accumulator's sums (common/profiles.h).
struct ProfileSums {
  struct Bin {
    long index;
    double count;
    double v[3];
    double v2[3];
  };
  long bins = 0;                  // bins in all: heights x rings x phases
  std::vector<long> samples;      // per phase bin
  std::vector<double> spheres;    // spheres sampled, per phase bin
  std::vector<Bin> used;          // the bins visited, in order
};

// The predictions the reference loop keeps between events.
struct LoopPredictions {
  double next_event = 0.0;      // time from now to the next event
  int chosen = -1;              // the sphere of that event
  double best_time = 0.0;       // the shot's own time to it
  int chamber_impact = 0;       // 1: an impact on the chamber
  std::vector<double> times;    // per sphere: its next contact,
  std::vector<int> partners;    // and with whom (-1: none)
};

struct RunRecord {
  static constexpr const char* kFile = "run.record";

  // What the record belongs to.
  std::string program;          // the program that wrote it ("cratesim-batch")
  int spheres = 0;
  bool resumable = false;       // the state is the end of a whole step of a batch run
  std::string engine;           // "reference" or "fast"
  long seed = 0;
  std::vector<std::pair<std::string, std::string>> parameters;  // key, value, in force
  // The --set settings (key, value) the run was started with, in order: a
  // resumed run applies them again before its own.
  std::vector<std::pair<std::string, std::string>> settings;
  std::uint64_t state_bytes = 0;
  std::uint32_t state_crc32 = 0;

  // The run's clock and counters.
  double time = 0.0;
  std::int64_t steps = 0;         // whole steps of the run's step
  double step_left = 0.0;         // of a step a stop signal ended early
  double step_origin = 0.0;       // time at which the steps began to be counted
  std::int64_t events = 0;
  long stalled_events = 0;        // events in a row that did not advance time

  // The chamber.
  double base_height = 0.0;
  int base_direction = 1;
  int pending_impact = 0;         // the kind of impact the next collide carries out
  std::int64_t base_impacts = 0;
  std::int64_t wall_impacts[2] = {0, 0};  // box: walls normal to x and to y; cylinder: [0]
  std::int64_t top_impacts = 0;
  double impulse_base = 0.0;
  double impulse_top = 0.0;
  double energy_base = 0.0;
  double energy_wall = 0.0;
  double energy_top = 0.0;
  std::int64_t top_map_bytes = -1;  // the impact maps' sizes; -1: no maps
  std::int64_t bot_map_bytes = -1;
  HistogramSums top_hist;
  HistogramSums bot_hist;

  // The shot.
  std::int64_t collisions = 0;
  double energy_lost = 0.0;
  bool has_predictions = false;   // the reference loop's, below
  LoopPredictions predictions;

  // The recorders of the batch programs: each writes up to its schedule's
  // last entry; what a run adds at its end off the schedule is not part
  // of the run a resume continues.
  bool observing = false;
  double observe_every = 0.0;
  double observe_due = 0.0;       // time from which the next row is due
  double observe_last = 0.0;      // time of the last scheduled row
  std::uint64_t observe_bytes = 0;  // observables.dat up to that row
  std::uint32_t observe_crc32 = 0;
  double snapshot_every = 0.0;    // 0: no snapshots
  std::string snapshot_format;
  double snapshot_due = 0.0;
  std::vector<double> snapshot_times;  // of the scheduled snapshots, in order
  double profiles_after = -1.0;   // < 0: no profiles
  double profile_bin = 0.0;
  int profile_phases = 1;
  ProfileSums profile_sums;
};

// Writes the record, every line but the state's size and checksum.
void writeRunRecord(std::ostream& os, const RunRecord& record);
// The two lines that complete it.
std::string stateLines(std::uint64_t bytes, std::uint32_t crc32);
// Reads a record written so; false, with the reason, for anything else (a
// line missing or malformed, numbers that do not fit together).
bool readRunRecord(std::istream& is, RunRecord& record, std::string& why);

#endif
