#include "experiment.h"

#include <cmath>
#include <fstream>
#include <iostream>

#include "chamber.h"
#include "fastEngine.h"
#include "lifecycle.h"
#include "par.h"
#include "runRecord.h"
#include "shot.h"
#include "stopSignals.h"
#include "timer.h"

namespace {

// An event whose time step is below this fraction of the run's time step
// (or of the base's period, if shorter) does not advance the simulation: a
// step would need 1e12 of them. Once a run has collapsed its events take
// exactly zero time, while in healthy runs (a dense bed of a thousand
// spheres included) no two events in a row come within 1e-7 of the step of
// each other, so the margin is wide both ways. The period bounds it for
// steps of many periods, whose events are that much closer than the step.
constexpr double kStalledStepFraction = 1e-12;

double stalledStep(double step, const Chamber& chamber) {
  const double period = chamber.basePeriod();
  return kStalledStepFraction * (period > 0.0 && period < step ? period : step);
}

// Events in a row that may fail to advance time before the run counts as
// collapsed: a fixed allowance plus a share per sphere, since in a dense
// shot a burst of near-simultaneous contacts passes through many spheres.
constexpr long kStalledEventsBase = 100000;
constexpr long kStalledEventsPerSphere = 100;

// Every 4096 events the loop looks whether a stop signal has come, and
// whether its clock is still a number: a step of any length then ends
// within milliseconds of a signal, and a prediction gone infinite or not a
// number (which would carry out events forever without time advancing)
// ends the run, at the cost of one test of the counter per event.
constexpr int kCheckEvery = 4096;

bool checkDue(std::int64_t events) { return (events & (kCheckEvery - 1)) == 0; }

// The state file a run is continued from: the one written with its record.
constexpr const char* kStateFile = "state.out";

// Steps of length step to cover a span: the first whole k with k step >=
// span, where a k step short of the span by no more than the rounding of
// the span (and of the division) counts as reaching it.
std::int64_t stepsToCover(double span, double step) {
  if (!(span > 0.0)) return 0;
  const double steps = std::ceil(span / step * (1.0 - 1e-12));
  return steps < 4e18 ? static_cast<std::int64_t>(steps) : static_cast<std::int64_t>(4e18);
}

#ifdef SHOTSIM_CHECK_CONTAINMENT
constexpr bool kCheckContainmentByDefault = true;
#else
constexpr bool kCheckContainmentByDefault = false;
#endif

}  // namespace

RunMonitor::~RunMonitor() {}

Experiment::~Experiment() {}

void Experiment::setTrace(EventTrace* trace) {
  trace_ = trace;
  if (fast_) fast_->setTrace(trace);
}

void RunMonitor::runEnded(const Experiment&) {}

bool Experiment::engineNamed(const std::string& name, Engine& engine) {
  if (name == "fast") {
    engine = Engine::kFast;
  } else if (name == "reference") {
    engine = Engine::kReference;
  } else {
    return false;
  }
  return true;
}

Experiment::Experiment(const Program& program, Shot& shot, Chamber& chamber, const Par& par,
                       Engine engine, const RunRecord* resume)
    : program_(program),
      shot_(shot),
      chamber_(chamber),
      ncolmax_(par.ncolmax()),
      events_(0),
      steps_(0),
      step_left_(0.0),
      step_origin_(0.0),
      restart_file_(par.restartFile() != nullptr ? par.restartFile() : ""),
      tstep_(par.tStep()),
      tmax_(par.tMax()),
      tnext_(0.0),
      tfull_(0.0),
      monitor_(nullptr),
      mid_step_(false),
      guard_(stalledStep(par.tStep(), chamber),
             kStalledEventsBase + kStalledEventsPerSphere * shot.n()),
      fast_(engine == Engine::kFast ? new FastEngine(shot, chamber) : nullptr),
      trace_(nullptr),
      check_containment_(kCheckContainmentByDefault) {
  if (resume != nullptr) {
    this->resume(*resume);
    return;
  }
  if (program_.run_start == RunStart::kStateFileEveryRun) {
    reset();
    return;
  }
  // The first run starts without a chamber reset; only this one may start
  // from the state file.
  shot_.set(chamber_);
  if (!restart_file_.empty()) {
    if (!readStateFile(restart_file_.c_str())) return;
  } else {
    placeAtRandom();
  }
  predictFirstEvent();
  tfull_ = 0.0;
}

void Experiment::reset() {
  tfull_ = 0.0;
  events_ = 0;
  steps_ = 0;
  step_left_ = 0.0;
  step_origin_ = 0.0;
  chamber_.reset();
  shot_.set(chamber_);
  if (program_.run_start == RunStart::kStateFileEveryRun && !restart_file_.empty()) {
    if (!readStateFile(restart_file_.c_str())) return;
  } else {
    placeAtRandom();
  }
  predictFirstEvent();
}

bool Experiment::readStateFile(const char* name) {
  std::ifstream is(name);
  if (is.is_open()) {
    shot_.readState(is);
    if (!is.fail() && shotInReach()) return true;
  }
  std::cerr << "Error reading " << name << std::endl;
  lifecycle::fail();
  return false;
}

// The shot's temperature and spin make its speeds.
void Experiment::placeAtRandom() {
  shot_.distribute(chamber_);
  if (shotInReach()) return;
  std::cerr << "Error reading " << shot_.source() << std::endl;
  lifecycle::fail();
}

bool Experiment::shotInReach() const {
  const double limit = chamber_.speedLimit();
  const double limit2 = limit * limit;
  const double g2 = 2.0 * chamber_.gravity();
  const double* r = shot_.r_chunk();
  const double* v = shot_.v_chunk();
  for (int k = 0; k < 3 * shot_.n(); k += 3) {
    const double reach = v[k] * v[k] + v[k + 1] * v[k + 1] + v[k + 2] * v[k + 2] + g2 * r[k + 2];
    if (!(reach <= limit2)) return false;
  }
  return true;
}

// Nothing is predicted anew for the reference loop: its predictions come
// back as they were, decremented by every step since they were made, so
// that the next events are those the uninterrupted run carries out.
void Experiment::resume(const RunRecord& record) {
  shot_.set(chamber_);
  if (!readStateFile(kStateFile)) return;
  if (!chamber_.restore(record) || !shot_.restore(record) ||
      (!fast_ && !record.has_predictions)) {
    std::cerr << "Error reading " << RunRecord::kFile << std::endl;
    lifecycle::fail();
    return;
  }
  events_ = record.events;
  steps_ = record.steps;
  step_left_ = record.step_left;
  step_origin_ = record.step_origin;
  tfull_ = record.time;
  guard_.restore(record.stalled_events);
  if (fast_) {
    fast_->start();
    tnext_ = fast_->timeToNextEvent();
  } else {
    tnext_ = record.predictions.next_event;
  }
}

void Experiment::capture(RunRecord& record) const {
  record.engine = fast_ ? "fast" : "reference";
  record.time = tfull_;
  record.steps = steps_;
  record.step_left = step_left_;
  record.step_origin = step_origin_;
  record.events = events_;
  record.stalled_events = guard_.count();
  chamber_.capture(record);
  shot_.capture(record, !fast_);
  if (!fast_) record.predictions.next_event = tnext_;
}

// Both engines check the placement before they predict anything, with the
// shot's own check: the same first bad sphere, with the same message.
void Experiment::predictFirstEvent() {
  shot_.test(chamber_);
  if (fast_) {
    fast_->start();
    tnext_ = fast_->timeToNextEvent();
    guard_.clear();
    return;
  }
  shot_.detect();
  shot_.detect(chamber_);
  tnext_ = shot_.tNext();
  guard_.clear();
}

void Experiment::makeStep(double tstep) {
  mid_step_ = true;
  if (fast_) {
    makeFastStep(tstep);
    mid_step_ = false;
    return;
  }
  while (tstep > tnext_) {
    // A pair found overlapping while it approaches has a contact time in
    // the past: it is carried out now. Going back to it would move the base
    // back along the line it is on (across a turn, to where it never was)
    // and every other sphere back past events already carried out.
    const double dt = tnext_ > 0.0 ? tnext_ : 0.0;
    tstep -= dt;
    tfull_ += dt;
    chamber_.advance(dt);
    shot_.advance(chamber_.gravity(), dt);
    if (trace_ != nullptr) {
      const int partner = shot_.chosenPartner();
      trace_->onEvent(EventRecord{tfull_, partner < 0 ? chamber_.pendingImpact() : 0,
                                  shot_.chosen(), partner});
    }
    shot_.collide(chamber_);
    ++events_;
    if (guard_.stalled(dt)) reportCollapse();
    shot_.detect();
    shot_.detect(chamber_);
    tnext_ = shot_.tNext();
    if (checkDue(events_)) {
      if (!std::isfinite(tnext_) || !std::isfinite(tstep)) reportLostClock();
      // The step ends here, at the event just carried out.
      if (stopSignals::received() != 0) {
        step_left_ = tstep;
        mid_step_ = false;
        return;
      }
    }
  }
  if (std::isnan(tnext_)) reportLostClock();
  chamber_.advance(tstep);
  shot_.advance(chamber_.gravity(), tstep);
  tnext_ -= tstep;
  tfull_ += tstep;
  mid_step_ = false;
  if (check_containment_) checkContainment();
}

// The fast engine counts and guards the same events as the reference loop;
// its internal steps (cell exits, dropped predictions) are not events.
void Experiment::makeFastStep(double tstep) {
  const double start = tfull_;
  const double begin = fast_->now();
  const double end = begin + tstep;
  while (fast_->carryOutNext(end)) {
    ++events_;
    if (guard_.stalled(fast_->lastStep())) {
      tfull_ = fast_->lastEvent().time;
      reportCollapse();
    }
    if (checkDue(events_)) {
      if (!std::isfinite(fast_->lastStep())) {
        tfull_ = fast_->lastEvent().time;
        reportLostClock();
      }
      if (stopSignals::received() != 0) {
        // The step ends here, at the event just carried out.
        const double reached = fast_->now();
        fast_->endStep(reached);
        tfull_ = start + (reached - begin);
        tnext_ = fast_->timeToNextEvent();
        step_left_ = end - reached;
        mid_step_ = false;
        return;
      }
    }
  }
  fast_->endStep(end);
  tfull_ = start + tstep;
  tnext_ = fast_->timeToNextEvent();
  if (std::isnan(tnext_)) reportLostClock();
  if (check_containment_) checkContainment();
}

void Experiment::checkContainment() {
  const ContainmentCheck::Breach breach = containment_.find(shot_, chamber_);
  if (breach.sphere < 0) return;
  std::cerr << "Containment lost at time " << tfull_ << ": ";
  if (breach.surface != nullptr) {
    std::cerr << "sphere " << breach.sphere << " lies " << breach.depth << " beyond the "
              << breach.surface;
  } else {
    std::cerr << "spheres " << breach.sphere << " and " << breach.other << " overlap by "
              << breach.depth;
  }
  std::cerr << std::endl;
  lifecycle::fail();
}

void Experiment::reportCollapse() const {
  std::cerr << "Inelastic collapse at time " << tfull_ << ": sphere "
            << (fast_ ? fast_->lastEvent().sphere : shot_.chosen()) << " took part in the last of " << guard_.count()
            << " events in a row that did not advance the simulated time;"
            << " a higher least rebound speed at the base and between spheres,"
            << " a higher threshold speed of restitution or a stronger"
            << " vibration of the base avoids it" << program_.collapse_advice << std::endl;
  lifecycle::exitRun(1);
}

void Experiment::reportLostClock() const {
  std::cerr << "Lost the time of the next event at time " << tfull_ << ": sphere "
            << (fast_ ? fast_->lastEvent().sphere : shot_.chosen())
            << " took part in the last event, after which no finite time could be computed;"
            << " the parameters reach beyond what the simulation can compute" << std::endl;
  lifecycle::exitRun(1);
}

void Experiment::fullRun() {
  const char* const kWhat = program_.event_word;
  std::cout << "Computing " << ncolmax_ << " " << kWhat << " / " << tmax_
            << " cycles..." << std::endl;
  Timer timer("cpu");
  // A step longer than the time limit would run on far past it: the run is
  // then one step, to the limit.
  const double step = tmax_ > 0.0 && tstep_ > tmax_ ? tmax_ : tstep_;
  // The time at which the counting of steps began: the start of the run,
  // unless steps of another length were made before (kept while a step is
  // unfinished: the time is then inside it).
  if (step_left_ == 0.0) step_origin_ = tfull_ - static_cast<double>(steps_) * step;
  const double origin = step_origin_;
  const std::int64_t steps = stepsToCover(tmax_ - origin, step);
  // A step a stop signal ended early (in a run continued from it) is made
  // whole first, from where it ended, as the uninterrupted run makes it.
  if (step_left_ > 0.0 && stopSignals::received() == 0) {
    const double left = step_left_;
    step_left_ = 0.0;
    makeStep(left);
    if (step_left_ == 0.0) {
      ++steps_;
      tfull_ = origin + static_cast<double>(steps_) * step;
      if (monitor_ != nullptr) monitor_->continueRun(*this);
    }
  }
  // A stop signal (even one during start-up) ends the run before the next
  // step, as the monitor does after a step.
  while ((events_ < ncolmax_ || steps_ < steps) && step_left_ == 0.0 &&
         stopSignals::received() == 0) {
    makeStep(step);
    if (step_left_ > 0.0) break;  // ended early by a stop signal
    ++steps_;
    tfull_ = origin + static_cast<double>(steps_) * step;
    if (monitor_ != nullptr && !monitor_->continueRun(*this)) break;
  }
  if (monitor_ != nullptr) monitor_->runEnded(*this);
  std::cout << eventCount() << " " << kWhat << " computed in " << timer.elapsed()
            << " seconds" << std::endl;
}
