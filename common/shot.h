#ifndef SHOT_H
#define SHOT_H

#include <cstdint>
#include <iosfwd>
#include <random>
#include <string>

#include "definitions.h"

class CellGrid;
class Chamber;
class Digest;
struct RunRecord;

// The shot: n equal hard spheres flying under gravity inside a chamber.
//
// The shot owns the position and velocity of every sphere and the per-sphere
// bookkeeping of the event prediction. Each sphere predicts its earliest
// collision with another sphere; those predictions are kept between events
// and recomputed only for the spheres an event made stale. Impacts on the
// chamber are predicted by the chamber, for every sphere at every event.
//
// Positions and velocities lie in two contiguous blocks of 3n doubles
// (x0 y0 z0 x1 y1 z1 ...); r_[i] and v_[i] point to sphere i's three values.
// In a position, z is the height of the sphere's lowest point (see Chamber).
// All times are counted from the present moment; all spheres have the same
// mass, so momenta and energies are per unit mass.
//
// Use per run: set(chamber); distribute(chamber) or readState(stream);
// test(chamber); detect(); detect(chamber). Then, per event with
// t = tNext(): chamber.advance(t); advance(chamber.gravity(), t);
// collide(chamber); detect(); detect(chamber).
//
// Built from a ShotDef ("ini/shot.ini").
class Shot {
 public:
  // Allocates the storage for def.count spheres; storage that is not
  // available ends the process.
  explicit Shot(const ShotDef& def);
  // Reads the parameter file first (a bad file ends the process with
  // "Error reading <filename>").
  explicit Shot(const char* filename);
  // Writes the final state to "state.out" (and the run record beside it,
  // when one was handed over), then releases the storage.
  virtual ~Shot();
  Shot(const Shot&) = delete;
  Shot& operator=(const Shot&) = delete;

  // Something that keeps the spheres' state elsewhere and writes it here
  // on demand: the fast event engine. While one keeps the shot, every
  // reading of positions and velocities asks it first to bring the shot to
  // the present; giving the shot a new state (distribute, readState) ends
  // its keeping.
  class Keeper {
   public:
    virtual void bringShotToPresent() = 0;

   protected:
    ~Keeper() = default;
  };
  void setKeeper(Keeper* keeper) { keeper_ = keeper; }
  const Keeper* keeper() const { return keeper_; }

  int n() const { return n_; }
  const double* r_chunk() const {
    settle();
    return r_[0];
  }
  const double* v_chunk() const {
    settle();
    return v_[0];
  }
  std::int64_t collision() const { return collision_; }
  // Kinetic energy lost in sphere-sphere collisions since the last reset,
  // over the whole shot and per unit mass.
  double energyLost() const { return energy_lost_; }
  int chosen() const { return chosen_; }
  double diam() const { return diam_; }
  // The parameter file the shot was defined by (ShotDef::source).
  const char* source() const { return source_.c_str(); }
  // Overlap tolerance: two spheres closer than diam() less this overlap.
  double overlapTolerance() const { return rtol_; }
  // The least normal relative speed with which two spheres part.
  double pairRebound() const { return rebound_; }
  // Time from now to the next event.
  double tNext() const { return best_time_; }

  // Tells the chamber the sphere diameter; sets the default least rebound
  // speed between spheres with the chamber's gravity unless the file gave one.
  void set(Chamber& chamber);
  // Every following distribute seeds its random sequence with this seed
  // instead of the calendar time.
  void useSeed(long seed);
  // Random sequential placement in the bed the packing fraction defines,
  // random velocities at the temperature, and the imposed rotation. Returns
  // the seed used. Placement that cannot succeed ends the process.
  long distribute(Chamber& chamber);
  // Ends the process with "NOT IN CHAMBER" or "OVERLAP" on standard output
  // unless every sphere is inside and no pair overlaps beyond the tolerance.
  void test(const Chamber& chamber) const;
  // The check of test() without its report: the first sphere in index order
  // that lies outside, or overlaps an earlier one (outside tested first).
  enum class Placement { Good, NotInChamber, Overlap };
  Placement checkPlacement(const Chamber& chamber) const;
  // Reads x y z vx vy vz per sphere; the caller tests the stream afterwards.
  void readState(std::istream& is);
  // Writes x y z vx vy vz per sphere, one line each, every number with the
  // 17 significant digits that read back as the same double; the bytes
  // written are added to the digest when one is given.
  void dumpState(std::ostream& os, Digest* digest = nullptr) const;

  // The run record to write beside "state.out" when the shot is destroyed:
  // its text, completed there with the size and checksum of the state's
  // bytes. The two are written together: the record only with its state,
  // the state first.
  void keepRecord(std::string text) { record_text_ = std::move(text); }

  // What a run record keeps of the shot: its counters and running total,
  // and, with predictions, the sphere-sphere predictions and the chosen
  // event of the reference loop. restore puts them back after the state
  // was read (false for predictions of another number of spheres).
  void capture(RunRecord& record, bool predictions) const;
  bool restore(const RunRecord& record);

  // Recomputes the sphere-sphere predictions of the stale spheres and selects
  // the earliest sphere-sphere event.
  void detect();
  // Lowers the selected event to a chamber impact that comes strictly
  // earlier. Must follow detect().
  void detect(Chamber& chamber);
  // Free flight of every sphere for the given time (negative: backwards)
  // under gravity of the given magnitude along -z.
  void advance(double gravity, double time);
  // Carries out the selected event, the spheres standing at its time, and
  // marks the predictions it made stale.
  void collide(Chamber& chamber);
  // The other sphere of the selected event; -1 for an impact on the chamber.
  int chosenPartner() const { return chamber_impact_ || chosen_ < 0 ? -1 : partner_[chosen_]; }

 protected:
  // Forgets every prediction: all spheres stale, no event selected.
  void resetCollisionData();
  // Sphere-sphere restitution at the squared relative speed velocity2.
  double coef(double velocity2) const;
  // The collision rule of two spheres c and p in contact: changes their
  // velocities and counts the collision.
  void collidePair(int c, int p) { collidePair(r_[c], v_[c], r_[p], v_[p]); }
  // The same rule for two spheres whose positions and velocities are kept
  // elsewhere (the fast engine keeps its own copy); both engines use it.
  void collidePair(const double* rc, double* vc, const double* rp, double* vp);

  int n_;
  double diam_;
  double diam2_;   // diam_^2: squared distance of two centres in contact
  double radius_;  // 0.5 * diam_
  double eta_;     // packing fraction of the random bed
  double kt_;      // mean squared velocity component after placement
  double omega0_;  // angular velocity about z given by placement
  double rtol_;    // length tolerance of the overlap check
  double r2tol_;   // 2 * diam_ * rtol_: the same on squared distances
  double coef0_;    // sphere-sphere restitution below the threshold speed
  double v_scale_;  // 1 / threshold speed
  double rebound_;       // the least normal speed with which two spheres part
  double rebound_diam_;  // rebound_ * diam_: the same bound on d.w
  bool rebound_given_;   // rebound_ from the definition, not the default
  double** r_;
  double** v_;
  double* tnext_;  // per sphere: time to its next sphere-sphere collision
  int* partner_;   // per sphere: the other sphere of it, or -1
  int* update_;    // per sphere: 1 when its predictions are stale
  int chosen_;     // sphere of the next event, or -1
  double best_time_;    // time to the next event
  int chamber_impact_;  // 1: next event is chosen_ hitting the chamber
  std::int64_t collision_;  // sphere-sphere collisions since the last reset
  double energy_lost_;  // kinetic energy those collisions took from the shot

 private:
  // Predicts the contact of spheres i and j and lowers their predictions.
  void examinePair(int i, int j);
  // Marks sphere i stale and forgets its prediction.
  void forget(int i);
  // Lays cells over [lo, hi] for a placement or its check.
  void layPlacementCells(CellGrid& cells, const double lo[3], const double hi[3]) const;
  // True when a sphere at r, in cell c of cells, lies closer than
  // sqrt(limit2) to a sphere in cells.
  bool nearPlaced(const CellGrid& cells, const int c[3], const double* r, double limit2) const;
  // Uniform integer 0 .. 32767.
  int draw() { return static_cast<int>(gen_() >> 49); }
  // Uniform in [-1, 1].
  double drawSymmetric() { return 2.0 * draw() / 32767.0 - 1.0; }
  // Uniform in [0, 1) to the last bit of a double.
  double drawReal() { return static_cast<double>(gen_() >> 11) / 9007199254740992.0; }

  std::string source_;
  std::mt19937_64 gen_;
  long seed_;        // seed for distribute when seed_fixed_
  bool seed_fixed_;  // false: distribute seeds from the calendar time

  // The event engine that keeps its own per-sphere predictions works on the
  // position and velocity blocks and the collision rule directly.
  friend class FastEngine;

  // Asks the keeper, if any, to bring the state to the present.
  void settle() const {
    if (keeper_ != nullptr) keeper_->bringShotToPresent();
  }

  Keeper* keeper_ = nullptr;
  std::string record_text_;  // the run record to write beside the state; empty: none
};

#endif
