#ifndef CHAMBER_H
#define CHAMBER_H

#include <cstdint>
#include <limits>

struct RunRecord;

// The vessel that holds the shot, as the shot, the experiment and the window
// see it: geometry, gravity, the vibrating base, restitution at its surfaces,
// the prediction of each sphere's next impact on a surface, the velocity
// change at that impact, and the recording of impacts on top and base.
//
// Coordinates: z points up, against gravity; the chamber's axis is the z
// axis. A sphere position r holds the x and y of its centre and, in r[2], the
// height of its lowest point, so a sphere touches the base when r[2] equals
// the base height and the top when r[2] equals the chamber height less one
// diameter. Times are counted from the present moment.

// What a chamber has counted since its last reset: its impacts, and the
// running totals beside them, over the whole shot and per unit mass (the
// change of vertical velocity at base and top impacts, the kinetic energy
// the shot gained at each kind of surface, negative where it lost).
struct ImpactTotals {
  std::int64_t base_impacts = 0;
  std::int64_t wall_impacts = 0;
  std::int64_t top_impacts = 0;
  double impulse_base = 0.0;
  double impulse_top = 0.0;
  double energy_base = 0.0;
  double energy_wall = 0.0;
  double energy_top = 0.0;
};

class Chamber {
 public:
  virtual ~Chamber() {}

  // Radius of a vertical circle about the axis that holds every allowed
  // sphere centre; random placement draws x and y from [-radius, radius].
  virtual double radius() const = 0;
  // Magnitude g of the gravitational acceleration, acting along -z.
  virtual double gravity() const = 0;
  // The fastest a sphere may move in the chamber for its predictions to
  // hold, counting the height it can fall from as speed: speed^2 + 2 g z
  // must stay below its square. A chamber that sets none has none.
  virtual double speedLimit() const { return std::numeric_limits<double>::infinity(); }
  // Completes the geometry for spheres of this diameter and lays the
  // histogram cells over the reachable area.
  virtual void useSphereDiameter(double diam) = 0;
  // Height of a layer of this volume spread over the whole floor.
  virtual double level(double volume) const = 0;
  virtual int isInside(const double* r) const = 0;
  virtual int isOutside(const double* r) const = 0;
  // Moves the base forward by the time step goal.
  virtual void advance(double goal) = 0;
  // Time of the sphere's first impact on a surface if earlier than
  // best_time (and remembers its kind for collide), else best_time.
  virtual double detect(const double* r, const double* v, double best_time) = 0;
  // Carries out the impact found by the last successful detect.
  virtual void collide(const double* r, double* v) = 0;
  // The kind of impact that the last successful detect found and that the
  // next collide carries out (0: none). An engine that predicts an impact
  // long before it happens keeps the kind and sets it back before collide.
  // A chamber whose collide needs no remembered kind keeps none.
  virtual int pendingImpact() const { return 0; }
  virtual void setPendingImpact(int) {}
  // Starts a new run: counters, impact maps and histograms.
  virtual void reset() = 0;
  // Current height of the base surface; random placement draws the bed in a
  // layer resting on it.
  virtual double baseHeight() const = 0;
  // Which way the base moves now (+1 up, -1 down) and how far from its mean
  // height it turns (0: a base at rest).
  virtual int baseDirection() const { return 1; }
  virtual double baseAmplitude() const { return 0.0; }
  // The period of the base's motion (0: none).
  virtual double basePeriod() const { return 0.0; }
  // The counters and running totals since the last reset (for the
  // observables; not asked per event). A chamber that keeps none has all zero.
  virtual ImpactTotals impactTotals() const { return ImpactTotals{}; }
  // What a run record keeps of the chamber: the base's height and
  // direction, the pending impact, the counters, running totals and
  // histogram sums, the impact maps' sizes. restore puts it back (the
  // chamber's sphere diameter already given), truncates the impact maps to
  // the recorded sizes and appends to them from then on; false for a record
  // the chamber cannot take (histograms of other cells). A chamber that
  // keeps none of it records and restores nothing.
  virtual void capture(RunRecord&) const {}
  virtual bool restore(const RunRecord&) { return true; }
};

#endif
