#include "fastEngine.h"

#include <cmath>
#include <iostream>

#include "chamber.h"
#include "lifecycle.h"
#include "shot.h"

namespace {

constexpr double kNever = EventQueue::kNever;

// Cells for n spheres: a few per sphere at most, so a bed whose spheres
// spread far (a tall chamber, a sphere thrown high) widens the cells rather
// than filling memory with empty ones.
std::size_t maxCells(int n) { return 4 * static_cast<std::size_t>(n) + 4096; }

}  // namespace

FastEngine::FastEngine(Shot& shot, Chamber& chamber)
    : shot_(shot), chamber_(chamber), n_(0), g_(0.0),
      diam2_(0.0), now_(0.0), chamber_time_(0.0), origin_(0.0), last_time_(0.0),
      last_step_(0.0), last_{0.0, 0, -1, -1}, trace_(nullptr) {}

void FastEngine::start() {
  n_ = shot_.n_;
  g_ = chamber_.gravity();
  diam2_ = shot_.diam2_;
  now_ = 0.0;
  chamber_time_ = 0.0;
  origin_ = 0.0;
  last_time_ = 0.0;
  last_step_ = 0.0;
  last_ = EventRecord{0.0, 0, -1, -1};
  track_.assign(static_cast<std::size_t>(n_), Track{});
  body_.assign(static_cast<std::size_t>(n_), Body{});
  for (int i = 0; i < n_; ++i) {
    Body& b = body_[i];
    for (int a = 0; a < 3; ++a) {
      b.r[a] = shot_.r_[i][a];
      b.v[a] = shot_.v_[i][a];
    }
    b.stamp = 0.0;
    b.next = -1;
    b.changes = 0;
  }
  rebuild();
}

void FastEngine::rebuild() {
  // The region: the spheres' box, reaching up to the top of the highest
  // flight, a diameter more on every side.
  double lo[3] = {kNever, kNever, kNever};
  double hi[3] = {-kNever, -kNever, -kNever};
  for (int i = 0; i < n_; ++i) {
    const double* r = body_[i].r;
    const double vz = body_[i].v[2];
    const double apex = r[2] + (vz > 0.0 ? 0.5 * vz * vz / g_ : 0.0);
    for (int a = 0; a < 3; ++a) {
      if (r[a] < lo[a]) lo[a] = r[a];
      if (r[a] > hi[a]) hi[a] = r[a];
    }
    if (apex > hi[2]) hi[2] = apex;
  }
  const double diam = std::sqrt(diam2_);
  for (int a = 0; a < 3; ++a) {
    lo[a] -= diam;
    hi[a] += diam;
  }
  grid_.build(lo, hi, diam, maxCells(n_));
  for (int i = 0; i < n_; ++i) {
    fly(i);
    grid_.locate(body_[i].r, track_[i].cell);
    enterCell(i);
  }
  std::vector<double> keys(static_cast<std::size_t>(n_));
  for (int i = 0; i < n_; ++i) {
    predictSurface(i);
    predictExit(i);
    predictPairs(i);
    const Track& s = track_[i];
    double key = s.t_pair;
    if (s.t_surface < key) key = s.t_surface;
    if (s.t_exit < key) key = s.t_exit;
    keys[i] = key;
  }
  queue_.assign(keys.data(), n_);
}

void FastEngine::test() const {
  std::cout << "Testing for overlaps..." << std::endl;
  const double limit2 = diam2_ - shot_.r2tol_;
  for (int i = 0; i < n_; ++i) {
    const double* ri = body_[i].r;
    if (chamber_.isOutside(ri)) {
      std::cout << "NOT IN CHAMBER" << std::endl;
      lifecycle::fail();
      return;
    }
    bool overlap = false;
    grid_.forEachNear(track_[i].cell, [&](int first) {
      for (int j = first; j >= 0; j = body_[j].next) {
        if (j >= i) continue;
        const double* rj = body_[j].r;
        const double dx = ri[0] - rj[0], dy = ri[1] - rj[1], dz = ri[2] - rj[2];
        if (dx * dx + dy * dy + dz * dz < limit2) overlap = true;
      }
    });
    if (overlap) {
      std::cout << "OVERLAP" << std::endl;
      lifecycle::fail();
      return;
    }
  }
}

// Free flight under gravity g along -z for dt = now - stamp:
//   x += vx dt, y += vy dt, z += vz dt - g dt^2 / 2, vz -= g dt.
inline void FastEngine::fly(int i) {
  Body& b = body_[i];
  const double dt = now_ - b.stamp;
  if (dt == 0.0) return;
  b.r[0] += dt * b.v[0];
  b.r[1] += dt * b.v[1];
  b.r[2] += dt * b.v[2] - 0.5 * g_ * dt * dt;
  b.v[2] -= g_ * dt;
  b.stamp = now_;
}

inline void FastEngine::enterCell(int i) {
  int& head = grid_.head(grid_.index(track_[i].cell));
  body_[i].next = head;
  head = i;
}

// The lists are short (about one sphere per cell): removal walks them.
inline void FastEngine::leaveCell(int i) {
  int* link = &grid_.head(grid_.index(track_[i].cell));
  while (*link != i) link = &body_[*link].next;
  *link = body_[i].next;
}

inline void FastEngine::bringChamber() {
  if (chamber_time_ != now_) {
    chamber_.advance(now_ - chamber_time_);
    chamber_time_ = now_;
  }
}

// The contact equation of the reference (Shot::examinePair). Both spheres
// fall alike, so their relative motion is straight: with d = ri - rj and
// w = vi - vj, both taken at the present (j flown there in the reckoning,
// not in its record), |d + w t|^2 = diam^2 reads
//   f(t) = a t^2 + 2 b t + c = 0,  a = w.w,  b = d.w,  c = d.d - diam^2.
// Only an approaching pair (b < 0) with D = b^2 - a c > 0 meets; the earlier
// root -(b + sqrt(D)) / a is the contact, the later one the moment they
// would part had they passed through each other. A pair that already
// overlaps while approaching gets a negative time, as in the reference.
__attribute__((always_inline)) inline void FastEngine::lowerPair(int i, int j) {
  if (j == i) return;
  const Body& bi = body_[i];
  const Body& bj = body_[j];
  const double dt = now_ - bj.stamp;
  const double dx = bi.r[0] - (bj.r[0] + bj.v[0] * dt);
  const double dy = bi.r[1] - (bj.r[1] + bj.v[1] * dt);
  const double dz = bi.r[2] - (bj.r[2] + bj.v[2] * dt - 0.5 * g_ * dt * dt);
  const double wx = bi.v[0] - bj.v[0];
  const double wy = bi.v[1] - bj.v[1];
  const double wz = bi.v[2] - (bj.v[2] - g_ * dt);
  const double b = dx * wx + dy * wy + dz * wz;
  if (!(b < 0.0)) return;
  const double a = wx * wx + wy * wy + wz * wz;
  const double c = dx * dx + dy * dy + dz * dz - diam2_;
  const double disc = b * b - a * c;
  if (!(disc > 0.0)) return;
  Track& s = track_[i];
  const double when = now_ + -(b + std::sqrt(disc)) / a;
  if (when < s.t_pair) {
    s.t_pair = when;
    s.partner = j;
    s.partner_changes = bj.changes;
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

void FastEngine::predictPairs(int i) {
  Track& s = track_[i];
  s.t_pair = kNever;
  s.partner = -1;
  grid_.forEachNear(s.cell, [this, i](int first) {
    for (int j = first; j >= 0; j = body_[j].next) lowerPair(i, j);
  });
}

void FastEngine::predictAll(int i) {
  predictSurface(i);
  predictExit(i);
  predictPairs(i);
  requeue(i);
}

inline void FastEngine::requeue(int i) {
  const Track& s = track_[i];
  double key = s.t_pair;
  if (s.t_surface < key) key = s.t_surface;
  if (s.t_exit < key) key = s.t_exit;
  queue_.update(i, key);
}

// The shot's own collision rule, applied to the two spheres' present state.
void FastEngine::collidePair(int i, int j) {
  Body& bi = body_[i];
  Body& bj = body_[j];
  for (int a = 0; a < 3; ++a) {
    shot_.r_[i][a] = bi.r[a];
    shot_.v_[i][a] = bi.v[a];
    shot_.r_[j][a] = bj.r[a];
    shot_.v_[j][a] = bj.v[a];
  }
  shot_.collidePair(i, j);
  for (int a = 0; a < 3; ++a) {
    bi.v[a] = shot_.v_[i][a];
    bj.v[a] = shot_.v_[j][a];
  }
  ++bi.changes;
  ++bj.changes;
}

void FastEngine::record(int kind, int i, int j) {
  last_ = EventRecord{origin_ + now_, kind, i, j};
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
    // The partner's velocity changed: the contact will not happen.
    now_ = t;
    fly(i);
    predictPairs(i);
    requeue(i);
    return true;
  }
  if (t == s.t_surface) return false;
  // The sphere leaves its cell: it joins the next cell through that face
  // and looks for contacts in the layer of cells it now borders. Its other
  // predictions still hold.
  now_ = t;
  fly(i);
  const int face = s.exit_face;
  leaveCell(i);
  s.cell[face / 2] += face % 2 == 0 ? -1 : 1;
  enterCell(i);
  predictExit(i);
  grid_.forEachAhead(s.cell, face, [this, i](int first) {
    for (int j = first; j >= 0; j = body_[j].next) lowerPair(i, j);
  });
  requeue(i);
  return true;
}

bool FastEngine::carryOutNext(double end) {
  for (;;) {
    const double t = queue_.topKey();
    if (!(t < end)) return false;
    if (stepInternal()) continue;
    const int i = queue_.top();
    Track& s = track_[i];
    // An event in the past (an overlap found late) is carried out at once,
    // the clock going back to it, as in the reference loop.
    now_ = t;
    fly(i);
    if (t == s.t_pair) {
      const int j = s.partner;
      fly(j);
      record(0, i, j);
      collidePair(i, j);
      predictAll(i);
      predictAll(j);
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
// afresh there, in the cells where they now stand, so that the shot stays at
// the present for its readers.
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
  const double next = queue_.topKey();
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

void FastEngine::synchronise(double t) {
  now_ = t;
  bringChamber();
  double lo[3] = {kNever, kNever, kNever};
  double hi[3] = {-kNever, -kNever, -kNever};
  for (int i = 0; i < n_; ++i) {
    fly(i);
    Body& b = body_[i];
    double* r = shot_.r_[i];
    double* v = shot_.v_[i];
    for (int a = 0; a < 3; ++a) {
      r[a] = b.r[a];
      v[a] = b.v[a];
      if (r[a] < lo[a]) lo[a] = r[a];
      if (r[a] > hi[a]) hi[a] = r[a];
    }
    b.stamp = 0.0;
  }
  // t becomes time zero; the never-time stays the never-time.
  for (Track& s : track_) {
    s.t_pair -= t;
    s.t_surface -= t;
    s.t_exit -= t;
  }
  queue_.shift(t);
  origin_ += t;
  now_ = 0.0;
  chamber_time_ = 0.0;
  last_time_ = 0.0;
  if (n_ > 0 && !grid_.covers(lo, hi)) rebuild();
}
