#ifndef CHAMBER_H
#define CHAMBER_H

#include <cmath>
#include <cstdint>
#include <limits>

struct RunRecord;

// The smallest relative speed with which a sphere leaves the base, or two
// spheres part, when the parameter files do not give it: the speed a sphere
// gains falling 1/80000 of its diameter, sqrt(g diam / 40000) (0.0099
// diameters per cycle for the shipped beads). Below it a rebound of the
// restitution law is raised to it, so that a sphere settling on the base
// hops at most 1/80000 of a diameter, and spheres settling on each other
// part at that speed, instead of bouncing ever faster to a halt (an
// inelastic collapse, which an event loop cannot carry out).
inline double defaultMinRebound(double gravity, double diam) {
  return std::sqrt(gravity * diam / 40000.0);
}

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
  // The surface a sphere at r lies beyond by more than the position
  // tolerance, at any surface, and how far beyond (depth); null when it
  // lies inside. The names are the chamber's own ("base", "top", ...); a
  // chamber that names none says "chamber" with depth 0 where isOutside.
  virtual const char* breach(const double* r, double& depth) const {
    depth = 0.0;
    return isOutside(r) ? "chamber" : nullptr;
  }
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
  // The box that holds every position a sphere may take in this chamber
  // while the base runs through its whole stroke (x and y of the centre, z
  // of the lowest point), but for the tolerance of the containment test;
  // hi[2] is infinite where no top bounds the heights. By default the
  // square about the axis of radius() and all heights above the base where
  // it stands now.
  virtual void bounds(double lo[3], double hi[3]) const {
    lo[0] = lo[1] = -radius();
    hi[0] = hi[1] = radius();
    lo[2] = baseHeight();
    hi[2] = std::numeric_limits<double>::infinity();
  }
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
