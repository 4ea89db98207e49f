#ifndef PROFILES_H
#define PROFILES_H

#include <iosfwd>
#include <vector>

#include "runRecord.h"

class Box;
class Cylinder;

// Time-averaged profiles of the shot over height: the spheres are sorted by
// the height of their lowest point into bins of equal width (and, in a
// cylinder, by the distance of their centre from the axis into rings of the
// same width; and, on request, by the phase of the base into equal parts
// of its cycle). Each sample adds the whole shot at one moment; a bin then
// gives the share of the spheres in it, their number per unit volume,
// their mean velocity and the granular temperature per component, the mean
// square of that component about its mean. Components are x, y, z in a box
// and radial, azimuthal, z in a cylinder, where a ring's mean flow (a
// rotation about the axis) is azimuthal and not part of its temperature.
struct ProfileGrid {
  double z0 = 0.0;     // lower edge of the first height bin
  double width = 1.0;  // of a height bin and of a ring
  int heights = 1;     // height bins; a sphere below the first or above the last counts in it
  int phases = 1;      // parts of the base's cycle
  // The chamber's cross-section, for the densities: a box's floor area, or
  // (radius > 0) a cylinder's wall radius. The rings of a cylinder are
  // `width` wide from the axis; the last reaches to the wall and takes every
  // sphere beyond its inner edge. A box has one ring.
  double area = 1.0;
  double radius = 0.0;
  int rings = 1;

  long bins() const { return static_cast<long>(heights) * rings * phases; }
};

// The grid of a run's profiles: height bins from the base's lowest reach up
// to the highest a sphere can be (below the top), rings out to the wall.
ProfileGrid profileGrid(const Box& box, double diameter, double width, int phases);
ProfileGrid profileGrid(const Cylinder& cylinder, double diameter, double width, int phases);

// The phase of a triangle-wave base in [0, 1): 0 at its mean height rising,
// 1/4 at the top, 1/2 at the mean height falling, 3/4 at the bottom. A base
// at rest (amplitude 0) is always at phase 0.
double basePhase(double height, int direction, double amplitude);

// A sample belongs to the averages from the skip time on; steps add up to
// it only to rounding.
inline bool pastSkip(double t, double skip) { return t >= skip - 1e-9 * (1.0 + skip); }

class ProfileAccumulator {
 public:
  explicit ProfileAccumulator(const ProfileGrid& grid);

  // Adds the n spheres of one moment (r and v: x y z per sphere, z the
  // height of the lowest point) with the base at this phase.
  void sample(int n, const double* r, const double* v, double phase);

  const ProfileGrid& grid() const { return grid_; }
  // Samples taken in a phase bin.
  long samples(int phase) const { return samples_[phase]; }
  // Share of the spheres in a bin over its phase's samples; 0 without any.
  double share(int phase, int ring, int height) const;
  // Spheres per unit volume.
  double density(int phase, int ring, int height) const;
  // Mean velocity component (0 x or radial, 1 y or azimuthal, 2 z) and its
  // granular temperature; NaN in a bin no sphere visited.
  double meanVelocity(int phase, int ring, int height, int component) const;
  double temperature(int phase, int ring, int height, int component) const;
  // The mean of the three components' temperatures.
  double temperature(int phase, int ring, int height) const;

  // The sums as a run record keeps them, and back: restore takes the sums
  // of a grid of as many bins and phases (false, nothing changed, else).
  ProfileSums sums() const;
  bool restore(const ProfileSums& sums);

  // "profiles.dat": a first line "# " and the column names, then a row per
  // bin: phase (with more than one phase bin), z, r (in a cylinder) at the
  // middle of the bin, share, density, the three mean velocity components,
  // their three temperatures and their mean, the samples of the phase bin.
  // Rings are separated by an empty line, phase bins by two (gnuplot's
  // blocks and data sets); numbers have 17 significant digits.
  void write(std::ostream& os) const;

 private:
  // Sums over the samples of one bin: spheres, velocity components and
  // their squares.
  struct Sums {
    double count = 0.0;
    double v[3] = {0.0, 0.0, 0.0};
    double v2[3] = {0.0, 0.0, 0.0};
  };
  const Sums& at(int phase, int ring, int height) const {
    return sums_[(static_cast<long>(phase) * grid_.rings + ring) * grid_.heights + height];
  }
  double volume(int ring) const;

  ProfileGrid grid_;
  double width_inv_;
  std::vector<Sums> sums_;
  std::vector<long> samples_;     // per phase bin
  std::vector<double> spheres_;   // spheres sampled per phase bin
};

#endif
