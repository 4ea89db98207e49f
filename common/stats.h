#ifndef STATS_H
#define STATS_H

#include <cstdint>
#include <fstream>
#include <memory>
#include <ostream>

#include "runRecord.h"

// Impacts of spheres on one flat rectangular surface, binned over a grid of
// xcells_ x ycells_ equal cells centred on the origin of the horizontal plane.
// Per cell it counts the hits and sums the change of the velocity component
// along normal_ ("pressure") and of its square ("energy").
//
// The grid covers x in [-xsize, xsize) and y in [-ysize, ysize) (xsize and
// ysize are half-widths); arrays are x-major: cell = xcell * ycells_ + ycell.
// Only x and y of a position are used.
//
// Files are written normalised so that each of the three quantities averages
// 1 over all cells. The grid file holds one line per cell
// ("x y density pressure energy"), one block of ycells_ lines per xcell, each
// block followed by an empty line. The zone file holds three profiles from the
// edge towards the centre, each line averaging four cells that mirror each
// other under x -> -x and y -> -y: along x through the middle rows, along y
// next to the walls x = +-xsize, and (only when xcells_ <= ycells_) along the
// diagonal; every profile is followed by two empty lines.
class Stats2Dxy {
 public:
  Stats2Dxy();
  explicit Stats2Dxy(const double* normal);
  ~Stats2Dxy();
  Stats2Dxy(const Stats2Dxy&) = delete;
  Stats2Dxy& operator=(const Stats2Dxy&) = delete;

  // Lays a new, empty grid; all earlier counts are discarded.
  void setCells(int xcells, int ycells, double xsize, double ysize);
  // The normal is used as given, not normalised.
  void setNormal(const double* normal);
  // Empties the grid, keeping its geometry and the normal.
  void reset();

  // Records one impact at r. Every call counts in hits_; an impact outside
  // the grid counts nowhere else. Constant time, no allocation.
  void hit(const double* r, const double* v_before, const double* v_after);

  // Writing a named file replaces it only after a complete write; a file that
  // cannot be written is reported on standard error and is fatal.
  void dump(const char* filename) const;
  void dump(std::ofstream& os) const;
  void dumpZone(const char* filename) const;
  void dumpZone(std::ofstream& os) const;
  // The sums of one cell since the last reset, unnormalised: its hits, and
  // the summed change of the normal velocity and of its square.
  int cells() const { return cells_; }
  std::int64_t cellHits(int cell) const { return hist_[cell]; }
  double cellPressure(int cell) const { return pressure_[cell]; }
  double cellEnergy(int cell) const { return energy_[cell]; }
  // Every hit since the last reset, those off the cells included.
  std::int64_t hits() const { return hits_; }

  // The sums as a run record keeps them, and back: restore takes the sums
  // of a histogram of as many cells (false, and nothing changed, otherwise).
  HistogramSums sums() const;
  bool restore(const HistogramSums& sums);

 private:
  struct Factors {
    double sum;
    double psum;
    double esum;
  };
  Factors normalisation() const;
  // Writes one zone line averaging the four cells a, b, c, d.
  void writeZoneLine(std::ostream& os, const Factors& f, double u, double v,
                     int a, int b, int c, int d) const;
  void writeGrid(std::ostream& os) const;
  void writeZone(std::ostream& os) const;

  int xcells_;
  int ycells_;
  int cells_;  // xcells_ * ycells_
  std::int64_t hits_;   // every hit since setCells or reset, off-grid ones included
  std::unique_ptr<std::int64_t[]> hist_;
  std::unique_ptr<double[]> pressure_;
  std::unique_ptr<double[]> energy_;
  double xscale_;      // xcells_ / xsize
  double xscale_inv_;  // xsize / xcells_
  double yscale_;      // ycells_ / ysize
  double yscale_inv_;  // ysize / ycells_
  double normal_[3];
};

// Impacts of spheres on one flat circular surface, binned over cells_
// concentric rings of equal width around the axis through the origin along
// normal_. Per ring it counts the hits and sums the change of the velocity
// component along normal_ ("pressure") and of its square ("energy").
//
// The ring file has three comment lines ("# <hits> hits",
// "# 1 <cells> 0 block, lines, blanks", "# 3 columns (density, pressure,
// energy)") and one line per ring: its centre radius and the three quantities
// divided by that radius (values per unit area), normalised so that each
// column averages 1 over the rings.
class Stats2Dr {
 public:
  Stats2Dr();
  explicit Stats2Dr(const double* normal);
  ~Stats2Dr();
  Stats2Dr(const Stats2Dr&) = delete;
  Stats2Dr& operator=(const Stats2Dr&) = delete;

  // Lays cells rings out to radius; all earlier counts are discarded.
  void setCells(int cells, double radius);
  // The normal is used as given, not normalised.
  void setNormal(const double* normal);
  // Empties the rings, keeping their geometry and the normal.
  void reset();

  // Records one impact at r. Every call counts in hits_; an impact at or
  // beyond the outer radius counts nowhere else. Constant time, no allocation.
  void hit(const double* r, const double* v_before, const double* v_after);

  // Writing a named file replaces it only after a complete write; a file that
  // cannot be written is reported on standard error and the program goes on.
  void dump(const char* filename) const;
  void dump(std::ofstream& os) const;
  // The sums of one ring since the last reset, unnormalised: its hits, and
  // the summed change of the normal velocity and of its square.
  int cells() const { return cells_; }
  std::int64_t cellHits(int cell) const { return hist_[cell]; }
  double cellPressure(int cell) const { return pressure_[cell]; }
  double cellEnergy(int cell) const { return energy_[cell]; }
  // Every hit since the last reset, those off the cells included.
  std::int64_t hits() const { return hits_; }

  // The sums as a run record keeps them, and back: restore takes the sums
  // of a histogram of as many cells (false, and nothing changed, otherwise).
  HistogramSums sums() const;
  bool restore(const HistogramSums& sums);

 private:
  void write(std::ostream& os) const;

  int cells_;
  std::int64_t hits_;  // every hit since setCells or reset, off-ring ones included
  std::unique_ptr<std::int64_t[]> hist_;
  std::unique_ptr<double[]> pressure_;
  std::unique_ptr<double[]> energy_;
  double scale_;      // cells_ / radius
  double scale_inv_;  // radius / cells_: the width of a ring
  double normal_[3];
};

#endif
