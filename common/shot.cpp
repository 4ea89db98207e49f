#include "shot.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cellGrid.h"
#include "chamber.h"
#include "digest.h"
#include "freeFlight.h"
#include "freeSpace.h"
#include "lifecycle.h"
#include "parameterFiles.h"
#include "restitution.h"
#include "runRecord.h"
#include "safeFile.h"

namespace {

// Sentinel times: no sphere-sphere collision known. kForgotten marks a
// prediction that an event invalidated; kUnknown the state after a reset.
// Both exceed any real event time, and stay so after advance.
constexpr double kForgotten = std::numeric_limits<double>::max();
constexpr double kUnknown = 1e8;

constexpr double kPi = 3.141592653589793;

// Bounds of random placement, so that a bed that cannot be filled is
// refused instead of drawn for ever. Random sequential placement jams near
// a packing fraction of 0.38 of the volume the sphere bodies can reach; the
// closer a bed comes to that, the more draws its last spheres need. In a
// 10 x 10 box the shipped bed (300 spheres at 0.35) takes about 300 draws
// per sphere and 1e4 for the hardest sphere; 300 spheres at 0.40 take 1e4
// per sphere and up to 1.3e6 for one; 1000 at 0.35 take 4.4e6 in all. The
// bounds leave several times that; deeper beds at 0.45 exceed the jamming
// limit and cannot be placed by any number of draws.
constexpr std::int64_t kDrawsPerSphere = 10000;
constexpr std::int64_t kDrawsBase = 10000000;
constexpr std::int64_t kMaxDrawsOneSphere = 10000000;

// Cells of the placement and its check per sphere: more than the layer of a
// bed a few diameters deep needs for a cell per diameter.
constexpr std::size_t kPlacementCellsPerSphere = 2;

// The count of spheres placed, shown after "Distributing shot randomly... "
// on a terminal once placement has taken a second, so that a big bed does
// not look hung. Elsewhere (a file, a pipe) nothing is shown.
class PlacementProgress {
 public:
  explicit PlacementProgress(int n)
      : n_(n), on_terminal_(isatty(STDOUT_FILENO) != 0),
        next_(std::chrono::steady_clock::now() + std::chrono::seconds(1)) {}

  // Sphere i is about to be placed.
  void show(int i) {
    if (!on_terminal_ || (i & 1023) != 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_) return;
    next_ = now + std::chrono::milliseconds(250);
    clear();
    text_ = std::to_string(i) + " of " + std::to_string(n_) + " spheres";
    std::cout << text_ << std::flush;
  }
  // Takes the count off the line again.
  void clear() {
    if (text_.empty()) return;
    const std::string back(text_.size(), '\b');
    std::cout << back << std::string(text_.size(), ' ') << back << std::flush;
    text_.clear();
  }

 private:
  int n_;
  bool on_terminal_;
  std::chrono::steady_clock::time_point next_;  // when to show the count again
  std::string text_;
};

// The spheres of the shot built last, for the report of exhausted memory.
int g_spheres_for_memory = 0;

// Called by operator new when no memory is left for any allocation of the
// process (the shot's, either engine's, placement's, a record's): the run
// cannot go on, and no exception leaves the allocation. Nothing more is
// written: writing would need memory too.
[[noreturn]] void reportNoMemory() {
  std::cerr << "Not enough memory for " << g_spheres_for_memory << " spheres" << std::endl;
  lifecycle::exitNow(1);
}

}  // namespace

Shot::Shot(const ShotDef& def)
    : n_(def.count), diam_(def.diameter), diam2_(def.diameter * def.diameter),
      radius_(def.diameter * 0.5), eta_(def.packing), kt_(def.temperature),
      omega0_(def.spin), rtol_(def.tolerance), r2tol_(def.diameter * 2.0 * def.tolerance),
      coef0_(def.restitution.coefficient),
      v_scale_(1.0 / def.restitution.threshold),
      rebound_(std::isnan(def.rebound) ? 0.0 : def.rebound),
      rebound_diam_(rebound_ * def.diameter), rebound_given_(!std::isnan(def.rebound)),
      r_(nullptr), v_(nullptr), tnext_(nullptr), partner_(nullptr),
      update_(nullptr), chosen_(-1), best_time_(kForgotten),
      chamber_impact_(0), collision_(0), energy_lost_(0.0), source_(def.source), seed_(0),
      seed_fixed_(false) {
  g_spheres_for_memory = n_;
  std::set_new_handler(reportNoMemory);
  const std::size_t n = static_cast<std::size_t>(n_);
  tnext_ = new (std::nothrow) double[n];
  partner_ = new (std::nothrow) int[n];
  update_ = new (std::nothrow) int[n];
  r_ = new (std::nothrow) double*[n];
  v_ = new (std::nothrow) double*[n];
  // Zeroed so that a state written before any placement holds numbers.
  double* r_block = new (std::nothrow) double[3 * n]();
  double* v_block = new (std::nothrow) double[3 * n]();
  if (!tnext_ || !partner_ || !update_ || !r_ || !v_ || !r_block || !v_block) reportNoMemory();
  for (int i = 0; i < n_; ++i) {
    r_[i] = r_block + 3 * i;
    v_[i] = v_block + 3 * i;
  }
  resetCollisionData();
}

Shot::Shot(const char* filename) : Shot(readShotDef(filename)) {}

Shot::~Shot() {
  // The state first, then its record with the state's size and checksum;
  // the record is put in place only once the state is, so that a record
  // never stands beside a state it was not written with (a reader checks
  // the size and checksum to be sure).
  SafeFile file("state.out");
  Digest digest;
  bool written = false;
  if (file.isOpen()) {
    dumpState(file.stream(), &digest);
    file.stream().flush();
    written = !file.stream().fail();
  }
  std::unique_ptr<SafeFile> record;
  if (written && !record_text_.empty()) {
    record = std::make_unique<SafeFile>(RunRecord::kFile);
    if (record->isOpen()) {
      record->stream() << record_text_ << stateLines(digest.bytes(), digest.crc32());
    }
  }
  written = written && file.commit();
  if (!written) {
    // No temporary is left behind: the process ends here.
    file.discard();
    if (record) record->discard();
    std::cerr << "Error writing state.out" << std::endl;
    lifecycle::fail();
  } else if (record && !record->commit()) {
    std::cerr << "Error writing " << RunRecord::kFile << std::endl;
    lifecycle::fail();
  }
  delete[] r_[0];
  delete[] v_[0];
  delete[] r_;
  delete[] v_;
  delete[] tnext_;
  delete[] partner_;
  delete[] update_;
}

void Shot::set(Chamber& chamber) {
  chamber.useSphereDiameter(diam_);
  if (!rebound_given_) rebound_ = defaultMinRebound(chamber.gravity(), diam_);
  rebound_diam_ = rebound_ * diam_;
}

void Shot::useSeed(long seed) {
  seed_ = seed;
  seed_fixed_ = true;
}

void Shot::layPlacementCells(CellGrid& cells, const double lo[3], const double hi[3]) const {
  cells.build(lo, hi, diam_, kPlacementCellsPerSphere * static_cast<std::size_t>(n_) + 4096);
}

bool Shot::nearPlaced(const CellGrid& cells, const int c[3], const double* r,
                      double limit2) const {
  return cells.anyNear(c, [this, r, limit2](int j) {
    const double* rj = r_[j];
    const double dx = r[0] - rj[0];
    const double dy = r[1] - rj[1];
    const double dz = r[2] - rj[2];
    return dx * dx + dy * dy + dz * dz < limit2;
  });
}

long Shot::distribute(Chamber& chamber) {
  keeper_ = nullptr;  // the state drawn here is the present one
  const long seed = seed_fixed_ ? seed_ : static_cast<long>(std::time(nullptr));
  gen_.seed(static_cast<std::mt19937_64::result_type>(seed));

  // Positions are drawn uniformly in the layer that n spheres would fill at
  // packing fraction eta_, resting on the base where it stands now, over
  // the box that holds the chamber's allowed centres; draws outside the
  // chamber or closer than a diameter to an earlier sphere are redrawn, so
  // that each sphere is uniform over the room the earlier ones left.
  // (Drawn from z = 0 instead, a base standing high would cut the layer and
  // a dense bed could not be placed at all.) FreeSpace draws only from the
  // parts of the layer that may still hold room, which spares most of the
  // draws of a dense bed, and compares a draw only with the spheres near
  // it: O(1) per draw.
  const double z_floor = chamber.baseHeight();
  const double z_max = chamber.level(n_ * kPi * diam2_ * diam_ / (6.0 * eta_));
  double lo[3], hi[3];
  chamber.bounds(lo, hi);
  lo[2] = z_floor;
  hi[2] = z_floor + z_max;
  FreeSpace room(lo, hi, diam_, n_);
  auto uniform = [this]() { return drawReal(); };
  std::cout << "Distributing shot randomly... " << std::flush;
  PlacementProgress progress(n_);
  const std::int64_t budget = kDrawsPerSphere * n_ + kDrawsBase;
  std::int64_t draws = 0;
  for (int i = 0; i < n_; ++i) {
    double* ri = r_[i];
    std::int64_t own_draws = 0;
    progress.show(i);
    for (;;) {
      if (draws == budget || own_draws == kMaxDrawsOneSphere || !room.open()) {
        progress.clear();
        std::cout << std::endl;
        std::cerr << "Random placement failed: could only place " << i
                  << " of " << n_
                  << " spheres; lower the packing fraction or the number of"
                     " spheres"
                  << std::endl;
        lifecycle::fail();
        return seed;
      }
      ++draws;
      ++own_draws;
      room.draw(uniform, ri);
      if (chamber.isOutside(ri)) continue;
      const double* hit = room.overlapped(ri);
      if (hit == nullptr) break;
      room.reject(hit);
    }
    room.place(ri);
  }
  progress.clear();
  std::cout << "DONE" << std::endl;

  // Random velocities, centred (the shot's centre of mass at rest; a single
  // sphere keeps its velocity) and scaled to mean squared component kt_.
  double* v = v_[0];
  const int count3 = 3 * n_;
  double svx = 0.0, svy = 0.0, svz = 0.0;
  for (int k = 0; k < count3; k += 3) {
    v[k] = drawSymmetric();
    v[k + 1] = drawSymmetric();
    v[k + 2] = drawSymmetric();
    svx += v[k];
    svy += v[k + 1];
    svz += v[k + 2];
  }
  const double inv_n = n_ > 1 ? 1.0 / n_ : 0.0;
  const double mx = svx * inv_n, my = svy * inv_n, mz = svz * inv_n;
  double sum2 = 0.0;
  for (int k = 0; k < count3; k += 3) {
    v[k] -= mx;
    v[k + 1] -= my;
    v[k + 2] -= mz;
    sum2 += v[k] * v[k] + v[k + 1] * v[k + 1] + v[k + 2] * v[k + 2];
  }
  const double scale = sum2 > 0.0 ? std::sqrt(3.0 * n_ * kt_ / sum2) : 0.0;
  for (int k = 0; k < count3; ++k) v[k] *= scale;

  // Angular velocity about z that the shot has, omega = L / I with
  // L = sum(x vy - y vx) and I = sum(x^2 + y^2); a rigid rotation by
  // omega0_ - omega brings it to omega0_. vz is not touched.
  const double* r = r_[0];
  double mom_inertia = 0.0, mom_cinetic = 0.0;
  for (int k = 0; k < count3; k += 3) {
    mom_inertia += r[k] * r[k] + r[k + 1] * r[k + 1];
    mom_cinetic += r[k] * v[k + 1] - r[k + 1] * v[k];
  }
  const double omega = mom_inertia > 0.0 ? mom_cinetic / mom_inertia : 0.0;
  const double spin = omega0_ - omega;
  for (int k = 0; k < count3; k += 3) {
    v[k] -= spin * r[k + 1];
    v[k + 1] += spin * r[k];
  }
  resetCollisionData();
  return seed;
}

void Shot::test(const Chamber& chamber) const {
  std::cout << "Testing for overlaps..." << std::endl;
  const Placement placement = checkPlacement(chamber);
  if (placement == Placement::Good) return;
  std::cout << (placement == Placement::NotInChamber ? "NOT IN CHAMBER" : "OVERLAP")
            << std::endl;
  lifecycle::fail();
}

// Each sphere in index order is compared with the earlier ones in the cells
// about it, as placement compares its draws. A tolerance of half a diameter
// or more lets any two spheres overlap: then only containment is tested.
Shot::Placement Shot::checkPlacement(const Chamber& chamber) const {
  const double limit2 = diam2_ - r2tol_;
  double lo[3], hi[3];
  chamber.bounds(lo, hi);
  CellGrid cells;
  if (limit2 > 0.0) layPlacementCells(cells, lo, hi);
  for (int i = 0; i < n_; ++i) {
    const double* ri = r_[i];
    if (chamber.isOutside(ri)) return Placement::NotInChamber;
    if (limit2 <= 0.0) continue;
    int c[3];
    cells.locate(ri, c);
    if (nearPlaced(cells, c, ri, limit2)) return Placement::Overlap;
    cells.insert(cells.index(c), i);
  }
  return Placement::Good;
}

void Shot::readState(std::istream& is) {
  keeper_ = nullptr;  // the state read here is the present one
  std::cout << "Reading state vector from file..." << std::endl;
  for (int i = 0; i < n_; ++i) {
    double* r = r_[i];
    double* v = v_[i];
    is >> r[0] >> r[1] >> r[2] >> v[0] >> v[1] >> v[2];
  }
  resetCollisionData();
}

void Shot::dumpState(std::ostream& os, Digest* digest) const {
  settle();
  std::cout << "Dumping state vector to file... " << std::flush;
  char line[160];
  for (int i = 0; i < n_; ++i) {
    const double* r = r_[i];
    const double* v = v_[i];
    const int length = std::snprintf(line, sizeof line, "%.17g %.17g %.17g %.17g %.17g %.17g\n",
                                     r[0], r[1], r[2], v[0], v[1], v[2]);
    os.write(line, length);
    if (digest != nullptr) digest->add(line, static_cast<std::size_t>(length));
  }
  std::cout << "DONE" << std::endl;
}

void Shot::capture(RunRecord& record, bool predictions) const {
  record.spheres = n_;
  record.collisions = collision_;
  record.energy_lost = energy_lost_;
  record.has_predictions = predictions;
  if (!predictions) return;
  LoopPredictions& p = record.predictions;
  p.chosen = chosen_;
  p.best_time = best_time_;
  p.chamber_impact = chamber_impact_;
  p.times.assign(tnext_, tnext_ + n_);
  p.partners.assign(partner_, partner_ + n_);
}

bool Shot::restore(const RunRecord& record) {
  if (record.spheres != n_) return false;
  collision_ = record.collisions;
  energy_lost_ = record.energy_lost;
  if (!record.has_predictions) return true;
  const LoopPredictions& p = record.predictions;
  if (p.times.size() != static_cast<std::size_t>(n_)) return false;
  for (int i = 0; i < n_; ++i) {
    tnext_[i] = p.times[i];
    partner_[i] = p.partners[i];
    // Stale flags are set afresh by the next collide before any detect reads them.
    update_[i] = 0;
  }
  chosen_ = p.chosen;
  best_time_ = p.best_time;
  chamber_impact_ = p.chamber_impact;
  return true;
}

void Shot::resetCollisionData() {
  collision_ = 0;
  energy_lost_ = 0.0;
  for (int i = 0; i < n_; ++i) {
    partner_[i] = -1;
    tnext_[i] = kUnknown;
    update_[i] = 1;
  }
  chosen_ = -1;
  best_time_ = kForgotten;
}

// Contact of spheres i and j. Both fall alike under gravity, so their
// relative motion is a straight line: with d = ri - rj and w = vi - vj, the
// centres are diam_ apart when |d + w t|^2 = diam2_, that is
//   a t^2 + 2 b t + c = 0,  a = w.w,  b = d.w,  c = d.d - diam2_.
// Only an approaching pair (b < 0) can meet. With D = b^2 - a c > 0 the
// roots are t = (-b -+ sqrt(D)) / a: the earlier root, -(b + sqrt(D)) / a,
// is the moment of contact, the later one when the spheres would separate
// again had they passed through each other. D <= 0: they pass each other,
// or only graze, and never collide. A pair that already overlaps (c < 0)
// while approaching gives a negative earlier root.
inline void Shot::examinePair(int i, int j) {
  const double* ri = r_[i];
  const double* rj = r_[j];
  const double* vi = v_[i];
  const double* vj = v_[j];
  const double dx = ri[0] - rj[0], dy = ri[1] - rj[1], dz = ri[2] - rj[2];
  const double wx = vi[0] - vj[0], wy = vi[1] - vj[1], wz = vi[2] - vj[2];
  const double b = dx * wx + dy * wy + dz * wz;
  if (!(b < 0.0)) return;
  const double a = wx * wx + wy * wy + wz * wz;
  const double c = dx * dx + dy * dy + dz * dz - diam2_;
  const double disc = b * b - a * c;
  if (!(disc > 0.0)) return;
  const double t = -(b + std::sqrt(disc)) / a;
  if (t < tnext_[i]) {
    tnext_[i] = t;
    partner_[i] = j;
  }
  if (t < tnext_[j]) {
    tnext_[j] = t;
    partner_[j] = i;
  }
}

void Shot::detect() {
  // Every pair with at least one stale sphere, once: a stale i against all
  // j < i, and against the j > i that are not stale themselves (a stale
  // j > i meets i from its own side).
  for (int i = 0; i < n_; ++i) {
    if (!update_[i]) continue;
    for (int j = 0; j < i; ++j) examinePair(i, j);
    for (int j = i + 1; j < n_; ++j) {
      if (!update_[j]) examinePair(i, j);
    }
  }
  // Earliest sphere-sphere event; of equal times the lowest index.
  chosen_ = -1;
  best_time_ = kForgotten;
  for (int i = 0; i < n_; ++i) {
    if (tnext_[i] < best_time_) {
      best_time_ = tnext_[i];
      chosen_ = i;
    }
  }
  if (best_time_ < 0.0) {
    std::cout << "NEGATIVE INTRASHOT IMPACT TIME : " << best_time_
              << std::endl;
  }
}

void Shot::detect(Chamber& chamber) {
  // The chamber returns a time only when strictly earlier than the bound it
  // is given, and then remembers the kind of that impact; the sphere kept
  // last is therefore the one whose impact the chamber will carry out. A
  // chamber impact at the time of the sphere-sphere event loses to it.
  chamber_impact_ = 0;
  for (int i = 0; i < n_; ++i) {
    const double t = chamber.detect(r_[i], v_[i], best_time_);
    if (t < best_time_) {
      chosen_ = i;
      best_time_ = t;
      chamber_impact_ = 1;
    }
  }
}

// Every sphere in free flight (freeFlight.h). Relative motions are straight
// lines, so every predicted time simply shrinks by the time flown.
void Shot::advance(double gravity, double time) {
  double* r = r_[0];
  double* v = v_[0];
  for (int i = 0; i < n_; ++i, r += 3, v += 3) {
    flyFreely(r, v, gravity, time, r, v);
    tnext_[i] -= time;
  }
  best_time_ -= time;
}

inline void Shot::forget(int i) {
  update_[i] = 1;
  partner_[i] = -1;
  tnext_[i] = kForgotten;
}

void Shot::collide(Chamber& chamber) {
  const int c = chosen_;
  if (c < 0) return;

  if (chamber_impact_) {
    chamber.collide(r_[c], v_[c]);
    // Stale: c, whose velocity changed, and whoever expected to meet c.
    for (int i = 0; i < n_; ++i) {
      update_[i] = 0;
      if (i == c || partner_[i] == c) forget(i);
    }
    return;
  }

  const int p = partner_[c];
  if (p < 0) {
    // No event was known (c's time was a sentinel that ran out): nothing
    // happens, and c is predicted anew.
    for (int i = 0; i < n_; ++i) update_[i] = 0;
    forget(c);
    return;
  }

  collidePair(c, p);
  // Stale: c and p, and whoever expected to meet either (c's partner is p).
  for (int i = 0; i < n_; ++i) {
    update_[i] = 0;
    if (i == p || partner_[i] == c || partner_[i] == p) forget(i);
  }
}

// Smooth equal spheres in contact, d = rc - rp with |d|^2 = diam2_ and
// w = vc - vp: the normal part of w, (d.w / diam2_) d, is reversed and
// scaled by e; the tangential part is kept. Each sphere takes half of the
// change, so the momentum of the pair is conserved:
//   vc -= k d,  vp += k d,  k = (1 + e) (d.w) / (2 diam2_).
// The pair parts at no less than the least rebound speed s: with the
// approach speed u = -d.w / diam, a rebound e u below s is raised to s
// (e = s / u), so that spheres settling on each other part instead of
// colliding ever faster to a halt. A pair found overlapping whose contact
// was due in the past, carried out now, may be parting already (d.w >= 0):
// its velocities are left as they are (e = -1, k = 0).
void Shot::collidePair(const double* rc, double* vc, const double* rp, double* vp) {
  ++collision_;
  const double wx = vc[0] - vp[0], wy = vc[1] - vp[1], wz = vc[2] - vp[2];
  const double dx = rc[0] - rp[0], dy = rc[1] - rp[1], dz = rc[2] - rp[2];
  double e = coef(wx * wx + wy * wy + wz * wz);
  const double dw = dx * wx + dy * wy + dz * wz;
  if (!(dw < 0.0)) {
    e = -1.0;
  } else if (e * -dw < rebound_diam_) {
    e = rebound_diam_ / -dw;
  }
  const double k = (e + 1.0) * 0.5 * dw / diam2_;
  // The pair, of reduced mass 1/2, loses (1 - e^2)/4 of its squared normal
  // relative speed (d.w)^2 / diam2_.
  energy_lost_ += 0.25 * (1.0 - e * e) * dw * dw / diam2_;
  vc[0] -= k * dx;
  vc[1] -= k * dy;
  vc[2] -= k * dz;
  vp[0] += k * dx;
  vp[1] += k * dy;
  vp[2] += k * dz;
}

// The law of every surface (restitution.h), on the relative speed.
double Shot::coef(double velocity2) const {
  return restitution(coef0_, v_scale_, std::sqrt(velocity2));
}
