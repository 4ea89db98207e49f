#ifndef EXPERIMENT_H
#define EXPERIMENT_H

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "containment.h"
#include "eventTrace.h"
#include "program.h"

class Chamber;
class Experiment;
class FastEngine;
class Par;
class Shot;
struct RunRecord;

// Watches a batch run from outside: fullRun asks it after every step whether
// to go on, and tells it when the loop has ended.
class RunMonitor {
 public:
  virtual ~RunMonitor();
  // False ends the run after the step just made.
  virtual bool continueRun(const Experiment& experiment) = 0;
  // The loop of fullRun has ended, before its closing console line.
  virtual void runEnded(const Experiment& experiment);
};

// Detects an inelastic collapse: a sphere that comes to rest on the base (or
// in contact with another sphere that it keeps hitting) makes the prediction
// find its next impact at once, again and again, and the event loop carries
// out event after event without simulated time advancing. The guard counts
// the events in a row whose time step is, in magnitude, below min_step; one
// longer step starts the count again.
class CollapseGuard {
 public:
  CollapseGuard(double min_step, long limit)
      : min_step_(min_step), limit_(limit), count_(0) {}

  // Records the time step of one event; true once more than the limit of
  // events in a row have not advanced time.
  bool stalled(double step) {
    if (std::fabs(step) >= min_step_) {
      count_ = 0;
      return false;
    }
    return ++count_ > limit_;
  }
  void clear() { count_ = 0; }
  long count() const { return count_; }
  // Takes up the count of a run that is continued.
  void restore(long count) { count_ = count; }

 private:
  double min_step_;
  long limit_;
  long count_;
};

// The event loop: moves the chamber and the shot forward in time together,
// carrying out in time order every event (sphere-sphere collision or impact
// on the chamber) that falls inside a step, counts the events and adds up
// the simulated time. It also starts a run: the shot is placed at random or
// read from the state file, and the first event predicted, as the program's
// description says (Program::run_start).
//
// A run can also be continued from the run record of an earlier one and the
// state file written with it (the batch programs' --resume): the state is
// read back, the counters, running totals and histograms taken up, and the
// reference loop's predictions restored as they were, so that the run goes
// on exactly as it would have; the fast engine predicts anew from the state.
//
// The shot and the chamber are not owned. The window class derives from this
// one and reads the protected members.
//
// Two engines carry out the events, with the same physics and results:
// the reference loop (flies every sphere and asks the chamber for every
// sphere's next impact at each event, O(n) per event), and FastEngine
// (per-sphere clocks, cells and an event queue, O(log n) per event). With
// the fast engine the shot's positions and velocities are brought to the
// present whenever they are read (through r_chunk, v_chunk or dumpState).
class Experiment {
 public:
  enum class Engine { kReference, kFast };

  // The engine of a name on the command line, "fast" or "reference";
  // false for any other name.
  static bool engineNamed(const std::string& name, Engine& engine);

  // Prepares the first run, or, given a run record, continues that run from
  // "state.out" (a state or record that does not fit ends the start-up with
  // "Error reading <file>").
  Experiment(const Program& program, Shot& shot, Chamber& chamber, const Par& par,
             Engine engine = Engine::kReference, const RunRecord* resume = nullptr);
  ~Experiment();
  Experiment(const Experiment&) = delete;
  Experiment& operator=(const Experiment&) = delete;

  // Advances by tstep of simulated time. An event exactly at the end of the
  // step is left for the next step (tNext() is then 0). Time never moves
  // back: the chamber predicts no impact in the past, and a pair contact
  // with a negative time (a pair found overlapping) is carried out at once,
  // at the present. A stop signal (stopSignals) ends the step early, at an
  // event.
  void makeStep(double tstep);
  // Steps of tStep() until both the event limit and the time limit are
  // reached (or the monitor says stop), with console messages and timing.
  // A step longer than the time limit is cut to it.
  // Does not reset: earlier events and time count toward the limits. The
  // steps are counted: after k of them the time is k steps past the time
  // the counting began (the run's start), and the time limit T is reached
  // with the first k for which that is T or more, allowing for the rounding
  // of T (5 cycles of 0.02 take 250 steps and end at 5). A step that a stop
  // signal ended early is not counted: the run ends there.
  void fullRun();
  // Starts a new run from time zero with no events.
  void reset();

  // The monitor that fullRun asks after every step; null for none.
  void setMonitor(RunMonitor* monitor) { monitor_ = monitor; }
  // Every event carried out is reported to trace first; null for none.
  void setTrace(EventTrace* trace);
  // With the check on, every step ends with a ContainmentCheck of the shot;
  // a sphere beyond a surface or two spheres overlapping end the run with
  // a message that names them, the time and the surface, status 1. On by
  // default in a build with SHOTSIM_CHECK_CONTAINMENT (the sanitizer
  // build), off otherwise.
  void setContainmentCheck(bool on) { check_containment_ = on; }
  bool containmentCheck() const { return check_containment_; }
  Engine engine() const { return fast_ ? Engine::kFast : Engine::kReference; }

  std::int64_t eventCount() const { return events_; }
  // Whole steps of tStep() taken by fullRun since the last reset.
  std::int64_t stepCount() const { return steps_; }
  // False while a step is being made (a run that ends inside one, by an
  // inelastic collapse, cannot be continued from its state).
  bool atStepEnd() const { return !mid_step_; }
  // What a run record keeps of the run, its chamber and its shot.
  void capture(RunRecord& record) const;
  double tFull() const { return tfull_; }
  double tNext() const { return tnext_; }
  double tStep() const { return tstep_; }
  double tMax() const { return tmax_; }
  int ncolmax() const { return ncolmax_; }
  const Program& program() const { return program_; }

 protected:
  const Program& program_;
  Shot& shot_;
  Chamber& chamber_;
  int ncolmax_;  // event limit of fullRun
  std::int64_t events_;  // events carried out since the last reset
  std::int64_t steps_;   // steps of fullRun since the last reset
  double step_left_;     // of a step a stop signal ended early; 0 after a whole step
  double step_origin_;   // time at which fullRun began to count its steps
  std::string restart_file_;  // the state file runs start from; empty: random placement
  double tstep_;  // step of fullRun
  double tmax_;   // simulated-time limit of fullRun
  double tnext_;  // simulated time from now to the next event
  double tfull_;  // simulated time since the last reset

 private:
  // Sets positions and velocities from the named state file; a file that
  // cannot be opened or read, or whose spheres are beyond the chamber's
  // speed limit, is fatal ("Error reading <name>").
  bool readStateFile(const char* name);
  // Places the shot at random; speeds beyond the chamber's limit are fatal
  // ("Error reading" the shot's file).
  void placeAtRandom();
  // True when every sphere is within the chamber's speed limit, counting
  // the height it can fall from as speed (Chamber::speedLimit).
  bool shotInReach() const;
  // Tests the placement and predicts the first event.
  void predictFirstEvent();
  // Continues the run of a record from "state.out".
  void resume(const RunRecord& record);
  // Reports an inelastic collapse and ends the run (status 1).
  [[noreturn]] void reportCollapse() const;
  // Reports a clock that is no longer a finite number (a prediction beyond
  // what doubles can compute) and ends the run (status 1).
  [[noreturn]] void reportLostClock() const;
  // makeStep with the fast engine.
  void makeFastStep(double tstep);
  // Runs the containment check; a breach ends the run (status 1).
  void checkContainment();

  RunMonitor* monitor_;
  bool mid_step_;
  CollapseGuard guard_;
  std::unique_ptr<FastEngine> fast_;  // null: the reference loop
  EventTrace* trace_;
  bool check_containment_;
  ContainmentCheck containment_;
};

#endif
