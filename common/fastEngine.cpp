#include "fastEngine.h"

#include <cmath>
#include <iostream>

#include "chamber.h"
#include "freeFlight.h"
#include "pairSearch.h"
#include "shot.h"

namespace {

// The clock at an event due at t: never back in time, since an event in the
// past (a pair found overlapping) is carried out at the present; a time that
// is no finite number is taken as it is, for the loop's guard to find.
double clockAt(double now, double t) { return t > now || !std::isfinite(t) ? t : now; }

constexpr double kNever = EventQueue::kNever;

// Cells for n spheres: enough for the chamber of a bed several diameters
// deep to have a layer of cells for every height up to its top, few enough
// that a tall or open chamber repeats its layers rather than filling memory
// with empty ones.
std::size_t maxCells(int n) { return 8 * static_cast<std::size_t>(n) + 4096; }

}  // namespace

FastEngine::FastEngine(Shot& shot, Chamber& chamber)
    : shot_(shot), chamber_(chamber), n_(0), g_(0.0),
      diam2_(0.0), now_(0.0), chamber_time_(0.0), origin_(0.0), last_time_(0.0), step_start_(0.0),
      dirty_(false), last_step_(0.0), last_{0.0, 0, -1, -1}, trace_(nullptr),
      exits_since_sort_(0), cell_width_(0.0) {}

FastEngine::~FastEngine() {
  if (shot_.keeper() != this) return;
  bringShotToPresent();
  shot_.setKeeper(nullptr);
}

void FastEngine::start() {
  n_ = shot_.n_;
  g_ = chamber_.gravity();
  diam2_ = shot_.diam2_;
  now_ = 0.0;
  chamber_time_ = 0.0;
  origin_ = 0.0;
  last_time_ = 0.0;
  step_start_ = 0.0;
  last_step_ = 0.0;
  last_ = EventRecord{0.0, 0, -1, -1};
  dirty_ = false;
  track_.assign(static_cast<std::size_t>(n_), Track{});
  body_.assign(static_cast<std::size_t>(n_), Body{});
  for (int i = 0; i < n_; ++i) {
    track_[i].shot_id = i;
    Body& b = body_[i];
    for (int a = 0; a < 3; ++a) {
      b.r[a] = shot_.r_[i][a];
      b.v[a] = shot_.v_[i][a];
    }
    b.stamp = 0.0;
    b.changes = 0;
  }
  layCells();
  shot_.setKeeper(this);
}

// Cells one diameter wide suit a dense bed: the 27 about a sphere hold the
// few spheres that can touch it. In a dilute bed most of them are empty, and
// a sphere leaves its cell (an internal step, with a search of the cells
// ahead) several times between two collisions; wider cells, each holding
// about kOthersPerCell other spheres, spare most of those steps for a few
// more candidates per search. The density a sphere sees is the mean number
// of other spheres in its own block of cells about two diameters wide, over
// the block's volume (narrower blocks would hold fewer spheres of a dense
// bed than its density says, as no two spheres overlap): measured on cells
// two diameters wide when the cells are laid, and on blocks of the cells in
// use whenever the records are sorted, so that cells follow a bed that
// settles or spreads.
double FastEngine::fittingWidth() {
  constexpr double kOthersPerCell = 0.6;
  constexpr double kWidestCell = 4.0;  // in diameters
  const double diam = std::sqrt(diam2_);
  const double density = grid_.density(2.0 * diam, sort_first_);
  if (!(density > 0.0)) return kWidestCell * diam;
  return std::min(std::max(std::cbrt(kOthersPerCell / density), diam), kWidestCell * diam);
}

void FastEngine::layCells() {
  double lo[3], hi[3];
  chamber_.bounds(lo, hi);
  grid_.build(lo, hi, 2.0 * std::sqrt(diam2_), maxCells(n_));
  for (int i = 0; i < n_; ++i) {
    grid_.locate(body_[i].r, track_[i].cell);
    enterCell(i);
  }
  layCells(fittingWidth());
}

// A bed dense in one part and dilute in another (a shaken bed below the
// spheres it throws up) collides mostly where it is dense, and a fitting
// width of less than kLeastWidening diameters is not worth the extra
// candidates there: such a bed keeps cells one diameter wide.
void FastEngine::layCells(double width) {
  constexpr double kLeastWidening = 1.5;
  double lo[3], hi[3];
  chamber_.bounds(lo, hi);
  cell_width_ = width;
  const double diam = std::sqrt(diam2_);
  grid_.build(lo, hi, width < kLeastWidening * diam ? diam : width, maxCells(n_));
  for (int i = 0; i < n_; ++i) {
    grid_.locate(body_[i].r, track_[i].cell);
    enterCell(i);
  }
  for (int i = 0; i < n_; ++i) {
    predictSurface(i);
    predictExit(i);
    predictPairs(i);
  }
  sortByCell();
}

// A counting sort of the slots by the index of their cell, keeping the
// order of the slots within a cell. The scratch arrays live on between
// sorts: new ones would cost fresh pages (zeroed by the system) every time.
void FastEngine::sortByCell() {
  const std::size_t n = static_cast<std::size_t>(n_);
  std::vector<int>& first = sort_first_;  // first new slot of each cell
  first.assign(grid_.size() + 1, 0);
  for (int i = 0; i < n_; ++i) ++first[grid_.index(track_[i].cell) + 1];
  for (std::size_t c = 1; c < first.size(); ++c) first[c] += first[c - 1];
  std::vector<int>& slot = sort_slot_;  // old slot -> new slot
  slot.resize(n);
  for (int i = 0; i < n_; ++i) slot[i] = first[grid_.index(track_[i].cell)]++;
  spare_body_.resize(n);
  spare_track_.resize(n);
  for (int i = 0; i < n_; ++i) {
    spare_body_[slot[i]] = body_[i];
    spare_track_[slot[i]] = track_[i];
  }
  for (Track& s : spare_track_) {
    if (s.partner >= 0) s.partner = slot[s.partner];
  }
  body_.swap(spare_body_);
  track_.swap(spare_track_);
  // The cells are filled again in the new order of the slots.
  for (int i = 0; i < n_; ++i) grid_.empty(grid_.index(track_[i].cell));
  for (int i = 0; i < n_; ++i) enterCell(i);
  fillQueue();
  exits_since_sort_ = 0;
}

// A sphere's key in the queue: the earliest of its three predictions.
inline double FastEngine::earliest(const Track& s) {
  double key = s.t_pair;
  if (s.t_surface < key) key = s.t_surface;
  if (s.t_exit < key) key = s.t_exit;
  return key;
}

void FastEngine::fillQueue() {
  queue_keys_.resize(static_cast<std::size_t>(n_));
  queue_tags_.resize(static_cast<std::size_t>(n_));
  for (int i = 0; i < n_; ++i) {
    queue_keys_[i] = earliest(track_[i]);
    queue_tags_[i] = track_[i].shot_id;
  }
  queue_.assign(queue_keys_.data(), queue_tags_.data(), n_);
}

// Free flight from the record's stamp to the present; r and v may be the
// record's own.
inline void FastEngine::flown(const Body& b, double* r, double* v) const {
  flyFreely(b.r, b.v, g_, now_ - b.stamp, r, v);
}

inline void FastEngine::fly(int i) {
  Body& b = body_[i];
  if (b.stamp == now_) return;
  flown(b, b.r, b.v);
  b.stamp = now_;
}

inline void FastEngine::enterCell(int i) {
  grid_.insert(grid_.index(track_[i].cell), i);
}

inline void FastEngine::leaveCell(int i) {
  grid_.remove(grid_.index(track_[i].cell), i);
}

inline void FastEngine::bringChamber() {
  if (chamber_time_ != now_) {
    chamber_.advance(now_ - chamber_time_);
    chamber_time_ = now_;
  }
}

// The earliest contact among the gathered neighbours (pairSearch.h).
void FastEngine::lowerPairs(int i, int* near, int count) {
  Track& s = track_[i];
  double best = s.t_pair;
  const int partner = earliestContact(body_.data(), i, near, count, now_, g_, diam2_, best);
  if (partner >= 0) {
    s.t_pair = best;
    s.partner = partner;
    s.partner_changes = body_[partner].changes;
  }
}

// The chamber's own prediction, made at the present with the base brought
// there, kept as an absolute time with the kind the chamber chose.
void FastEngine::predictSurface(int i) {
  bringChamber();
  Track& s = track_[i];
  const double t = chamber_.detect(body_[i].r, body_[i].v, kNever);
  if (t < kNever) {
    s.t_surface = now_ + t;
    s.surface_kind = chamber_.pendingImpact();
  } else {
    s.t_surface = kNever;
    s.surface_kind = 0;
  }
}

void FastEngine::predictExit(int i) {
  Track& s = track_[i];
  const double t = grid_.exitTime(s.cell, body_[i].r, body_[i].v, g_, s.exit_face);
  s.t_exit = s.exit_face == CellGrid::kNoFace ? kNever : now_ + t;
}

// The room for two searches' candidates, grown with the cells' room.
inline int* FastEngine::nearRoom() {
  const std::size_t room = 2 * grid_.gatherRoom();
  if (near_.size() < room) near_.resize(room);
  return near_.data();
}

void FastEngine::predictPairs(int i) {
  Track& s = track_[i];
  s.t_pair = kNever;
  s.partner = -1;
  int* near = nearRoom();
  lowerPairs(i, near, grid_.gatherNear(s.cell, near));
}

void FastEngine::predictAll(int i) {
  predictSurface(i);
  predictExit(i);
  predictPairs(i);
  requeue(i);
}

// predictAll(i) and predictAll(j), interleaved so that the memory the second
// search reads is on its way while the first is reckoned: both
// neighbourhoods are gathered first, and the second one's spheres fetched.
void FastEngine::predictAllAfterContact(int i, int j) {
  predictSurface(i);
  predictExit(i);
  predictSurface(j);
  predictExit(j);
  int* near_i = nearRoom();
  int* near_j = near_i + grid_.gatherRoom();
  Track& si = track_[i];
  Track& sj = track_[j];
  const int count_i = grid_.gatherNear(si.cell, near_i);
  const int count_j = grid_.gatherNear(sj.cell, near_j);
  for (int k = 0; k < count_j; ++k) __builtin_prefetch(&body_[near_j[k]]);
  si.t_pair = kNever;
  si.partner = -1;
  sj.t_pair = kNever;
  sj.partner = -1;
  lowerPairs(i, near_i, count_i);
  lowerPairs(j, near_j, count_j);
  requeue(i);
  requeue(j);
}

inline void FastEngine::requeue(int i) {
  queue_.update(i, earliest(track_[i]), track_[i].shot_id);
}

// The shot's own collision rule, applied to the two spheres' present state.
void FastEngine::collidePair(int i, int j) {
  Body& bi = body_[i];
  Body& bj = body_[j];
  shot_.collidePair(bi.r, bi.v, bj.r, bj.v);
  ++bi.changes;
  ++bj.changes;
}

void FastEngine::record(int kind, int i, int j) {
  last_ = EventRecord{origin_ + now_, kind, track_[i].shot_id, j < 0 ? -1 : track_[j].shot_id};
  last_step_ = now_ - last_time_;
  last_time_ = now_;
  if (trace_ != nullptr) trace_->onEvent(last_);
}

bool FastEngine::stepInternal() {
  const double t = queue_.topKey();
  if (t == kNever) return false;
  const int i = queue_.top();
  Track& s = track_[i];
  if (t == s.t_pair) {
    if (body_[s.partner].changes == s.partner_changes) return false;
    // The partner's velocity changed: the contact will not happen. (A
    // contact in the past, of a pair found overlapping, leaves the clock
    // where it is.)
    now_ = clockAt(now_, t);
    fly(i);
    predictPairs(i);
    requeue(i);
    return true;
  }
  if (t == s.t_surface) return false;
  // The sphere leaves its cell: it joins the next cell through that face
  // and looks for contacts in the layer of cells it now borders. Its other
  // predictions still hold.
  now_ = clockAt(now_, t);
  fly(i);
  ++exits_since_sort_;
  const int face = s.exit_face;
  leaveCell(i);
  s.cell[face / 2] += face % 2 == 0 ? -1 : 1;
  enterCell(i);
  predictExit(i);
  int* near = nearRoom();
  lowerPairs(i, near, grid_.gatherAhead(s.cell, face, near));
  requeue(i);
  return true;
}

bool FastEngine::carryOutNext(double end) {
  for (;;) {
    const double t = queue_.topKey();
    if (!(t < end)) return false;
    // The entry after this one is most likely the runner-up of the queue:
    // its records start on their way from memory while this one is worked.
    const int next = queue_.runnerUp();
    __builtin_prefetch(&track_[next]);
    __builtin_prefetch(&body_[next]);
    if (stepInternal()) continue;
    const int i = queue_.top();
    Track& s = track_[i];
    // An event in the past (a pair found overlapping) is carried out at
    // once, at the present, as in the reference loop.
    now_ = clockAt(now_, t);
    dirty_ = true;
    grid_.prefetchNear(s.cell);
    fly(i);
    if (t == s.t_pair) {
      const int j = s.partner;
      grid_.prefetchNear(track_[j].cell);
      fly(j);
      // A contact before the last event (two spheres found overlapping and
      // approaching) is reported as the reference loop reports it, by its
      // time from that event.
      if (t < last_time_) {
        std::cout << "NEGATIVE INTRASHOT IMPACT TIME : " << t - last_time_ << std::endl;
      }
      record(0, i, j);
      collidePair(i, j);
      predictAllAfterContact(i, j);
    } else {
      Body& b = body_[i];
      bringChamber();
      chamber_.setPendingImpact(s.surface_kind);
      record(s.surface_kind, i, -1);
      chamber_.collide(b.r, b.v);
      ++b.changes;
      predictAll(i);
    }
    return true;
  }
}

// The internal steps up to the next event are taken to learn its time, then
// undone: the spheres they moved are flown back to the present and predicted
// afresh there, in the cells where they now stand.
double FastEngine::timeToNextEvent() {
  const double present = now_;
  std::vector<int> moved;
  for (;;) {
    const double t = queue_.topKey();
    if (t == kNever) break;
    const int i = queue_.top();
    if (!stepInternal()) break;
    moved.push_back(i);
  }
  const double next = queue_.topKey() - present;
  now_ = present;
  for (const int i : moved) {
    Track& s = track_[i];
    if (body_[i].stamp == now_) continue;  // already restored
    fly(i);
    leaveCell(i);
    grid_.locate(body_[i].r, s.cell);
    enterCell(i);
    predictExit(i);
    predictPairs(i);
    requeue(i);
  }
  return next;
}

// The origin moves to the present once the present lies kOriginSteps steps
// of the last length past it: every record's clock changes then, which a
// step of few events would pay for over and over, while times that far out
// still resolve steps 10^-14 of a step long, finer than any step the
// collapse guard counts as advancing time.
void FastEngine::endStep(double end) {
  const double step = end - step_start_;
  now_ = end;
  step_start_ = end;
  bringChamber();
  last_time_ = now_;
  dirty_ = true;
  if (now_ >= kOriginSteps * step) moveOrigin();
  if (exits_since_sort_ > n_ / 2) {
    // Cells half again too wide or too narrow for the bed as it is now are
    // laid anew: every sphere flown to the present and predicted again.
    const double width = fittingWidth();
    if (width > kRelayFactor * cell_width_ || cell_width_ > kRelayFactor * width) {
      for (int i = 0; i < n_; ++i) fly(i);
      layCells(width);
    } else {
      sortByCell();
    }
  }
}

// Every time falls by the present time, which becomes zero: the records'
// stamps, the predictions and the queue's keys (the never-time stays the
// never-time). No sphere is flown, so the records change in nothing but
// their clocks.
void FastEngine::moveOrigin() {
  const double t = now_;
  for (Body& b : body_) b.stamp -= t;
  for (Track& s : track_) {
    s.t_pair -= t;
    s.t_surface -= t;
    s.t_exit -= t;
  }
  queue_.shift(t);
  origin_ += t;
  now_ = 0.0;
  step_start_ = 0.0;
  chamber_time_ = 0.0;
  last_time_ -= t;
}

void FastEngine::bringShotToPresent() {
  if (!dirty_) return;
  for (int i = 0; i < n_; ++i) {
    const int id = track_[i].shot_id;
    flown(body_[i], shot_.r_[id], shot_.v_[id]);
  }
  dirty_ = false;
}
