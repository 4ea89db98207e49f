#ifndef CYLINDER_H
#define CYLINDER_H

#include <string>

#include "stats.h"
#include "vibratedChamber.h"

// The upright cylindrical chamber: a circular side wall of radius radius0
// about the z axis, a flat top and the vibrating base. Impacts on top and
// base go to the impact maps "top.map"/"bot.map" and to ring histograms
// written as "top.hist" and "bot.hist". Built from a CylinderDef
// ("ini/cyl.ini").
//
// Impact codes: 1 base, 2 side wall, 3 top.
class Cylinder : public VibratedChamber<Stats2Dr, 3> {
 public:
  // Opens the impact maps when they are on, unless they are to be
  // continued (MapStart).
  explicit Cylinder(const CylinderDef& def, MapStart maps = MapStart::kEmpty);
  // Reads the file first (a bad file ends the process with "Error reading <filename>").
  explicit Cylinder(const char* filename);
  ~Cylinder() override;
  Cylinder(const Cylinder&) = delete;
  Cylinder& operator=(const Cylinder&) = delete;

  double radius() const override { return radius_; }
  void useSphereDiameter(double diam) override;
  double level(double volume) const override;
  int isInside(const double* r) const override;
  int isOutside(const double* r) const override { return !isInside(r); }
  const char* breach(const double* r, double& depth) const override;
  void bounds(double lo[3], double hi[3]) const override;
  double detect(const double* r, const double* v, double best_time) override;
  void collide(const double* r, double* v) override;
  void reset() override;

  double radius0() const { return radius0_; }
  std::int64_t wallImpacts() const override { return col_sw_; }

 protected:
  void captureWalls(std::int64_t walls[2]) const override;
  void restoreWalls(const std::int64_t walls[2]) override;

  double radius0_;     // inner radius of the wall
  double radius_;      // radius0_ - diam/2: the largest distance of a centre from the axis
  double radius2_;     // radius_^2
  double radius_inv_;  // 1/radius_
  double vr_min_;      // the smallest radial speed with which a sphere leaves the wall
  std::int64_t col_sw_;  // impacts on the side wall since the last reset
  int cells_;          // rings of both histograms

 private:
  std::string source_;  // the file named by the report of a cylinder too narrow for its spheres
};

#endif
