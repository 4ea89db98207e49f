#ifndef BOX_H
#define BOX_H

#include <string>

#include "stats.h"
#include "vibratedChamber.h"

// The rectangular chamber: four vertical walls at x = +-xsize0 and
// y = +-ysize0, a flat top and the vibrating base. Impacts on top and base
// go to the impact maps "top.map"/"bot.map" and to grid histograms written
// as "top.hist", "bot.hist" and "top.zone". Built from a BoxDef ("ini/box.ini").
//
// Impact codes: 1 base, 2 a wall normal to x, 3 a wall normal to y, 4 top.
class Box : public VibratedChamber<Stats2Dxy, 4> {
 public:
  // Opens the impact maps when they are on, unless they are to be
  // continued (MapStart).
  explicit Box(const BoxDef& def, MapStart maps = MapStart::kEmpty);
  // Reads the file first (a bad file ends the process with "Error reading <filename>").
  explicit Box(const char* filename);
  ~Box() override;
  Box(const Box&) = delete;
  Box& operator=(const Box&) = delete;

  double radius() const override;
  void useSphereDiameter(double diam) override;
  double level(double volume) const override;
  int isInside(const double* r) const override;
  int isOutside(const double* r) const override { return !isInside(r); }
  const char* breach(const double* r, double& depth) const override;
  void bounds(double lo[3], double hi[3]) const override;
  double detect(const double* r, const double* v, double best_time) override;
  void collide(const double* r, double* v) override;
  void reset() override;

  double xsize0() const { return xsize0_; }
  double ysize0() const { return ysize0_; }
  std::int64_t wallImpacts() const override { return col_swx_ + col_swy_; }

 protected:
  void captureWalls(std::int64_t walls[2]) const override;
  void restoreWalls(const std::int64_t walls[2]) override;

  double xsize0_;  // half inner width along x: walls at x = +-xsize0_
  double ysize0_;  // half inner width along y
  double xsize_;   // xsize0_ - diam/2: the largest |x| of a sphere centre
  double ysize_;   // ysize0_ - diam/2
  std::int64_t col_swx_;  // impacts on the walls normal to x since the last reset
  std::int64_t col_swy_;  // impacts on the walls normal to y
  int xcells_;     // histogram cells along x
  int ycells_;     // histogram cells along y

 private:
  std::string source_;  // the file named by the report of a box too small for its spheres
};

#endif
