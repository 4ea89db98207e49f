#include "definitions.h"

#include <cmath>

namespace {

// Spheres of one shot: about 80 bytes of storage each.
constexpr int kMaxSpheres = 10000000;
// Cells of one histogram; more would only cost memory, not add detail.
constexpr int kMaxCells = 10000000;

// A threshold speed > 0 whose inverse, by which the restitution law scales
// speeds, is a double.
bool validSurface(const RestitutionDef& r) {
  return r.coefficient >= 0.0 && r.coefficient <= 1.0 && r.threshold > 0.0 &&
         std::isfinite(1.0 / r.threshold);
}

// The lines both chamber files share. A zero period, gravity or threshold
// speed would make an inverse the chamber keeps infinite, and so would one
// too small for its inverse to be a double; so would a base speed 4 A / P
// that is no double.
bool validChamber(const ChamberDef& c) {
  return c.amplitude >= 0.0 && c.period > 0.0 && std::isfinite(1.0 / c.period) &&
         std::isfinite(4.0 * c.amplitude / c.period) && c.gravity > 0.0 &&
         std::isfinite(1.0 / c.gravity) && validSurface(c.base) && validSurface(c.wall) &&
         validSurface(c.top) && c.tolerance >= 0.0 && c.base_start >= -c.amplitude &&
         c.base_start <= c.amplitude && (c.base_direction == 1 || c.base_direction == -1);
}

}  // namespace

// A step that is not positive would make a batch run loop for ever, and so
// would one lost in the rounding of the time limit. A restart needs a name.
bool isValid(const RunDef& d) {
  return (d.restart == 0 || !d.state_file.empty()) && d.step > 0.0 && d.event_limit >= 0 && d.time_limit >= 0.0 &&
         d.time_limit + d.step > d.time_limit;
}

bool isValid(const ShotDef& d) {
  return d.count >= 1 && d.count <= kMaxSpheres && d.diameter > 0.0 && d.packing > 0.0 &&
         d.packing < 1.0 && d.temperature >= 0.0 && d.restitution.coefficient >= 0.0 &&
         d.restitution.coefficient <= 1.0 && d.restitution.threshold > 0.0 && d.tolerance >= 0.0;
}

bool isValid(const BoxDef& d) {
  return d.half_x > 0.0 && d.half_y > 0.0 && validChamber(d.chamber) && d.cells_x >= 1 &&
         d.cells_y >= 1 && static_cast<double>(d.cells_x) * d.cells_y <= kMaxCells;
}

bool isValid(const CylinderDef& d) {
  return d.radius > 0.0 && validChamber(d.chamber) && d.wall_rebound >= 0.0 && d.rings >= 1 &&
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
