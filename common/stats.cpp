#include "stats.h"

#include <cmath>
#include <iostream>

#include "lifecycle.h"
#include "safeFile.h"

namespace {

inline double dot(const double* a, const double* b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

void reportWriteError(const char* filename) {
  std::cerr << "Error writing " << filename << '\n';
}

// Writes a named file through a temporary, so that a failed write keeps the
// previous file. Returns false when the file could not be written.
template <class Writer>
bool writeSafely(const char* filename, Writer write) {
  SafeFile file(filename);
  if (file.isOpen()) write(file.stream());
  return file.commit();
}

// The sums of the cells hit at least once.
HistogramSums collect(int cells, std::int64_t hits, const std::int64_t* hist,
                      const double* pressure, const double* energy) {
  HistogramSums sums;
  sums.cells = cells;
  sums.hits = hits;
  for (int i = 0; i < cells; ++i) {
    if (hist[i] != 0 || pressure[i] != 0.0 || energy[i] != 0.0) {
      sums.used.push_back(HistogramSums::Cell{i, hist[i], pressure[i], energy[i]});
    }
  }
  return sums;
}

// Puts sums back into a histogram of as many cells.
bool spread(const HistogramSums& sums, int cells, std::int64_t& hits, std::int64_t* hist,
            double* pressure, double* energy) {
  if (sums.cells != cells) return false;
  for (const HistogramSums::Cell& c : sums.used) {
    if (c.index < 0 || c.index >= cells) return false;
  }
  for (int i = 0; i < cells; ++i) {
    hist[i] = 0;
    pressure[i] = 0.0;
    energy[i] = 0.0;
  }
  for (const HistogramSums::Cell& c : sums.used) {
    hist[c.index] = c.hits;
    pressure[c.index] = c.pressure;
    energy[c.index] = c.energy;
  }
  hits = sums.hits;
  return true;
}

}  // namespace

// ---------------------------------------------------------------- Stats2Dxy

Stats2Dxy::Stats2Dxy()
    : xcells_(0),
      ycells_(0),
      cells_(0),
      hits_(0),
      xscale_(0.0),
      xscale_inv_(0.0),
      yscale_(0.0),
      yscale_inv_(0.0),
      normal_{0.0, 0.0, 0.0} {}

Stats2Dxy::Stats2Dxy(const double* normal) : Stats2Dxy() { setNormal(normal); }

Stats2Dxy::~Stats2Dxy() = default;

void Stats2Dxy::setCells(int xcells, int ycells, double xsize, double ysize) {
  hist_.reset();
  pressure_.reset();
  energy_.reset();
  // A negative count lays no cells rather than a grid of negative size.
  xcells_ = xcells > 0 ? xcells : 0;
  ycells_ = ycells > 0 ? ycells : 0;
  xscale_ = xcells_ / xsize;
  xscale_inv_ = xsize / xcells_;
  yscale_ = ycells_ / ysize;
  yscale_inv_ = ysize / ycells_;
  cells_ = xcells_ * ycells_;
  if (cells_ > 0) {
    hist_.reset(new std::int64_t[cells_]());
    pressure_.reset(new double[cells_]());
    energy_.reset(new double[cells_]());
  }
  hits_ = 0;
}

HistogramSums Stats2Dxy::sums() const {
  return collect(cells_, hits_, hist_.get(), pressure_.get(), energy_.get());
}

bool Stats2Dxy::restore(const HistogramSums& sums) {
  return spread(sums, cells_, hits_, hist_.get(), pressure_.get(), energy_.get());
}

void Stats2Dxy::setNormal(const double* normal) {
  for (int k = 0; k < 3; ++k) normal_[k] = normal[k];
}

void Stats2Dxy::reset() {
  for (int i = 0; i < cells_; ++i) {
    hist_[i] = 0;
    pressure_[i] = 0.0;
    energy_[i] = 0.0;
  }
  hits_ = 0;
}

void Stats2Dxy::hit(const double* r, const double* v_before,
                    const double* v_after) {
  ++hits_;
  // Cell coordinates before truncation toward zero: a position less than one
  // cell beyond the lower edge still lands in the first cell.
  const double x = (xscale_ * r[0] + xcells_) * 0.5;
  const double y = (ycells_ + yscale_ * r[1]) * 0.5;
  // Each index is checked against its own range, so that a position on the
  // +y edge is not taken for the first cell of the next x row. The test is
  // made before the conversion (t > -1 and t < n exactly when the truncated
  // t lies in [0, n)), so no position, however far off, overflows an int.
  if (!(x > -1.0 && x < xcells_ && y > -1.0 && y < ycells_)) return;
  const int cell = static_cast<int>(x) * ycells_ + static_cast<int>(y);
  const double vn_before = dot(normal_, v_before);
  const double vn_after = dot(normal_, v_after);
  hist_[cell] += 1;
  pressure_[cell] += vn_before - vn_after;
  energy_[cell] += vn_before * vn_before - vn_after * vn_after;
}

Stats2Dxy::Factors Stats2Dxy::normalisation() const {
  double sum = 0.0;
  double psum = 0.0;
  double esum = 0.0;
  for (int i = 0; i < cells_; ++i) {
    sum += hist_[i];
    psum += pressure_[i];
    esum += energy_[i];
  }
  // An empty grid divides by zero: its values are written as non-finite.
  return Factors{cells_ / sum, cells_ / psum, cells_ / esum};
}

void Stats2Dxy::writeGrid(std::ostream& os) const {
  const Factors f = normalisation();
  for (int xcell = 0; xcell < xcells_; ++xcell) {
    const double x = (2 * xcell + 1 - xcells_) * xscale_inv_;
    for (int ycell = 0; ycell < ycells_; ++ycell) {
      const int cell = xcell * ycells_ + ycell;
      os << x << ' ' << (2 * ycell + 1 - ycells_) * yscale_inv_ << ' '
         << hist_[cell] * f.sum << ' ' << pressure_[cell] * f.psum << ' '
         << energy_[cell] * f.esum << '\n';
    }
    os << '\n';
  }
}

void Stats2Dxy::writeZoneLine(std::ostream& os, const Factors& f, double u,
                              double v, int a, int b, int c, int d) const {
  const std::int64_t count = hist_[a] + hist_[b] + hist_[c] + hist_[d];
  const double p = pressure_[a] + pressure_[b] + pressure_[c] + pressure_[d];
  const double e = energy_[a] + energy_[b] + energy_[c] + energy_[d];
  os << u << ' ' << v << ' ' << count * 0.25 * f.sum << ' '
     << p * 0.25 * f.psum << ' ' << e * 0.25 * f.esum << '\n';
}

void Stats2Dxy::writeZone(std::ostream& os) const {
  const int X = xcells_;
  const int Y = ycells_;
  const Factors f = normalisation();
  const auto at = [Y](int xcell, int ycell) { return xcell * Y + ycell; };
  // With no cells there is nothing to average; the separators stay.
  const bool any = cells_ > 0;

  // Along x through the middle row(s), from the outermost cell inwards.
  const int ycell1 = Y / 2;
  const int ycell2 = Y - ycell1 - 1;
  for (int xcell = 0; any && xcell < (X + 1) / 2; ++xcell) {
    const int xcell2 = X - xcell - 1;
    writeZoneLine(os, f, (X - 2 * xcell - 1) * xscale_inv_, 0,
                  at(xcell, ycell1), at(xcell, ycell2), at(xcell2, ycell1),
                  at(xcell2, ycell2));
  }
  os << "\n\n";

  // Along y in the outermost x cells, next to the walls x = +-xsize.
  for (int ycell = 0; any && ycell < (Y + 1) / 2; ++ycell) {
    const int ycell2 = Y - ycell - 1;
    writeZoneLine(os, f, (X - 1) * xscale_inv_,
                  (Y - 2 * ycell - 1) * yscale_inv_, at(0, ycell),
                  at(0, ycell2), at(X - 1, ycell), at(X - 1, ycell2));
  }
  os << "\n\n";

  // Along the diagonals of the square of the first X rows.
  if (X <= Y) {
    for (int i = 0; any && i < (X + 1) / 2; ++i) {
      const int j = X - 1 - i;
      const double u = (X - 2 * i - 1) * xscale_inv_;
      writeZoneLine(os, f, u, u, at(i, i), at(i, j), at(j, i), at(j, j));
    }
  }
  os << "\n\n";
}

void Stats2Dxy::dump(const char* filename) const {
  if (!writeSafely(filename, [this](std::ostream& os) { writeGrid(os); })) {
    reportWriteError(filename);
    lifecycle::fail();
  }
}

void Stats2Dxy::dump(std::ofstream& os) const { writeGrid(os); }

void Stats2Dxy::dumpZone(const char* filename) const {
  if (!writeSafely(filename, [this](std::ostream& os) { writeZone(os); })) {
    reportWriteError(filename);
    lifecycle::fail();
  }
}

void Stats2Dxy::dumpZone(std::ofstream& os) const { writeZone(os); }

// ----------------------------------------------------------------- Stats2Dr

Stats2Dr::Stats2Dr()
    : cells_(0),
      hits_(0),
      scale_(0.0),
      scale_inv_(0.0),
      normal_{0.0, 0.0, 0.0} {}

Stats2Dr::Stats2Dr(const double* normal) : Stats2Dr() { setNormal(normal); }

Stats2Dr::~Stats2Dr() = default;

void Stats2Dr::setCells(int cells, double radius) {
  hist_.reset();
  pressure_.reset();
  energy_.reset();
  // A negative count lays no rings.
  cells_ = cells > 0 ? cells : 0;
  hits_ = 0;
  scale_ = cells_ / radius;
  scale_inv_ = radius / cells_;
  if (cells_ > 0) {
    hist_.reset(new std::int64_t[cells_]());
    pressure_.reset(new double[cells_]());
    energy_.reset(new double[cells_]());
  }
}

HistogramSums Stats2Dr::sums() const {
  return collect(cells_, hits_, hist_.get(), pressure_.get(), energy_.get());
}

bool Stats2Dr::restore(const HistogramSums& sums) {
  return spread(sums, cells_, hits_, hist_.get(), pressure_.get(), energy_.get());
}

void Stats2Dr::setNormal(const double* normal) {
  for (int k = 0; k < 3; ++k) normal_[k] = normal[k];
}

void Stats2Dr::reset() {
  for (int i = 0; i < cells_; ++i) {
    hist_[i] = 0;
    pressure_[i] = 0.0;
    energy_[i] = 0.0;
  }
  hits_ = 0;
}

void Stats2Dr::hit(const double* r, const double* v_before,
                   const double* v_after) {
  ++hits_;
  // Distance from the axis: the length of r x normal.
  const double cx = r[1] * normal_[2] - r[2] * normal_[1];
  const double cy = r[2] * normal_[0] - r[0] * normal_[2];
  const double cz = r[0] * normal_[1] - r[1] * normal_[0];
  const double ring = std::sqrt(cx * cx + cy * cy + cz * cz) * scale_;
  // The distance is never negative; the test before the conversion keeps a
  // far-off (or undefined) position from overflowing an int.
  if (!(ring < cells_)) return;
  const int i = static_cast<int>(ring);
  const double vn_before = dot(normal_, v_before);
  const double vn_after = dot(normal_, v_after);
  hist_[i] += 1;
  pressure_[i] += vn_before - vn_after;
  energy_[i] += vn_before * vn_before - vn_after * vn_after;
}

void Stats2Dr::write(std::ostream& os) const {
  // Each ring's totals divided by its centre radius are values per unit
  // area; the factors make every column add up to cells_.
  double sum = 0.0;
  double psum = 0.0;
  double esum = 0.0;
  for (int i = 0; i < cells_; ++i) {
    const double r = (i + 0.5) * scale_inv_;
    sum += hist_[i] / r;
    psum += pressure_[i] / r;
    esum += energy_[i] / r;
  }
  sum = cells_ / sum;
  psum = cells_ / psum;
  esum = cells_ / esum;

  os << "# " << hits_ << " hits\n";
  os << "# " << 1 << ' ' << cells_ << ' ' << 0 << " block, lines, blanks\n";
  os << "# " << 3 << " columns (density, pressure, energy)\n";
  for (int i = 0; i < cells_; ++i) {
    const double r = (i + 0.5) * scale_inv_;
    os << r << ' ' << hist_[i] * sum / r << ' ' << pressure_[i] * psum / r
       << ' ' << energy_[i] * esum / r << '\n';
  }
}

void Stats2Dr::dump(const char* filename) const {
  // A ring file that cannot be written does not stop the run, but the
  // process still ends with status 1 so the loss is not taken for success.
  if (!writeSafely(filename, [this](std::ostream& os) { write(os); })) {
    reportWriteError(filename);
    lifecycle::failAtEnd();
  }
}

void Stats2Dr::dump(std::ofstream& os) const { write(os); }
