#include "definitions.h"

#include <algorithm>
#include <cmath>

namespace {

// Spheres of one shot: about 80 bytes of storage each.
constexpr int kMaxSpheres = 10000000;
// Cells of one histogram; more would only cost memory, not add detail.
constexpr int kMaxCells = 10000000;

// Every length, time, speed and acceleration of the files lies within
// these bounds in magnitude (0 allowed where the value may be 0): then the
// squares and products of a few of them, their inverses and the energies
// made of them are all finite doubles.
constexpr double kLargest = 1e100;
constexpr double kSmallest = 1e-100;

// How far the base's period may lie from the time of a fall through the
// chamber, either way: a period much shorter than the flights that span it
// is lost in the rounding of their times (the stroke cannot be resolved),
// and a much longer one rounds away the base's position in the turning
// times, which are counted in periods.
constexpr double kPeriodRange = 1e9;

// How much faster than a fall through the chamber anything may move in it.
// A fall's prediction takes the difference of a sphere's speed and of the
// speed it gains from gravity on the way; its relative error is the
// rounding of a double times the square of their ratio, here at most 1e-4.
constexpr double kSpeedRange = 1e6;

// Within reach: |x| <= kLargest.
bool inReach(double x) { return std::fabs(x) <= kLargest; }

// A positive value within reach whose inverse is within reach too.
bool positive(double x) { return x >= kSmallest && x <= kLargest; }

bool nonNegative(double x) { return x >= 0.0 && x <= kLargest; }

bool validSurface(const RestitutionDef& r) {
  return r.coefficient >= 0.0 && r.coefficient <= 1.0 && positive(r.threshold);
}

// The largest length of a chamber whose horizontal size is width.
double chamberSize(const ChamberDef& c, double width) {
  return std::max(std::max(c.height, c.amplitude), width);
}

// The lines both chamber files share, for a chamber of that horizontal
// size. A top (height above 0) stands above the base's highest reach; a
// moving base's period lies within kPeriodRange of the time of a fall
// through the chamber, and its speed 4 A / P within the chamber's speed
// limit.
bool validChamber(const ChamberDef& c, double width) {
  if (!(positive(width) && nonNegative(c.amplitude) && positive(c.period) &&
        positive(c.gravity) && validSurface(c.base) && validSurface(c.wall) &&
        validSurface(c.top) && nonNegative(c.tolerance) && c.base_start >= -c.amplitude &&
        c.base_start <= c.amplitude && (c.base_direction == 1 || c.base_direction == -1) &&
        (std::isnan(c.base_rebound) || nonNegative(c.base_rebound)))) {
    return false;
  }
  if (!(c.height == 0.0 || (c.height > c.amplitude && c.height <= kLargest))) return false;
  if (c.amplitude == 0.0) return true;
  const double fall_time = std::sqrt(2.0 * chamberSize(c, width) / c.gravity);
  return c.period >= fall_time / kPeriodRange && c.period <= fall_time * kPeriodRange &&
         4.0 * c.amplitude / c.period <= speedLimit(c, width);
}

}  // namespace

double speedLimit(const ChamberDef& c, double width) {
  return kSpeedRange * std::sqrt(2.0 * c.gravity * chamberSize(c, width));
}

// A step that is not positive would make a batch run loop for ever, and so
// would one lost in the rounding of the time limit. The restart flag is 0
// or 1, and a restart needs a name.
bool isValid(const RunDef& d) {
  return (d.restart == 0 || (d.restart == 1 && !d.state_file.empty())) && positive(d.step) &&
         d.event_limit >= 0 && nonNegative(d.time_limit) && d.time_limit + d.step > d.time_limit;
}

bool isValid(const ShotDef& d) {
  return d.count >= 1 && d.count <= kMaxSpheres && positive(d.diameter) && d.packing > 0.0 &&
         d.packing < 1.0 && nonNegative(d.temperature) && inReach(d.spin) &&
         validSurface(d.restitution) && nonNegative(d.tolerance) &&
         (std::isnan(d.rebound) || nonNegative(d.rebound));
}

bool isValid(const BoxDef& d) {
  return positive(d.half_x) && positive(d.half_y) &&
         validChamber(d.chamber, std::max(d.half_x, d.half_y)) && d.cells_x >= 1 &&
         d.cells_y >= 1 && static_cast<double>(d.cells_x) * d.cells_y <= kMaxCells;
}

bool isValid(const CylinderDef& d) {
  return positive(d.radius) && validChamber(d.chamber, d.radius) && d.wall_rebound >= 0.0 &&
         d.wall_rebound <= speedLimit(d.chamber, d.radius) && d.rings >= 1 &&
         d.rings <= kMaxCells;
}

// A sphere of one stack has no vertex between its poles and shows nothing.
// The colour is height / colour_height: a zero height has no colour scale.
bool isValid(const ShotDrawDef& d) {
  return d.detail >= 2 && d.detail <= ShotDrawDef::kMaxDetail && d.colour_height > 0.0;
}

bool isValid(const BoxDrawDef&) { return true; }

// Fewer than three facets enclose no area; no band at all would make the
// band height of a closed cylinder infinite.
bool isValid(const CylinderDrawDef& d) {
  return d.facets >= 3 && d.facets <= CylinderDrawDef::kMaxFacets && d.bands >= 1 &&
         d.bands <= CylinderDrawDef::kMaxBands;
}

// The eye must stay off the axis it looks along, and the clamp of a right
// drag needs an interval.
bool isValid(const ViewDef& d) { return d.nearest > 0.0 && d.nearest <= d.farthest; }
