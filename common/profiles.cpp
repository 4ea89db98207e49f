#include "profiles.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <ostream>

#include "box.h"
#include "cylinder.h"

namespace {

// Bins of this width to cover a length (at least one).
int binsOver(double length, double width) {
  const double count = std::ceil(length / width - 1e-9);
  if (!(count >= 1.0)) return 1;
  return count < 1e9 ? static_cast<int>(count) : 1000000000;
}

// The bin of a coordinate among count bins from 0, the ends taking what
// lies beyond them; the test before the conversion keeps a far-off value
// from overflowing an int.
int binOf(double u, int count) {
  if (!(u >= 1.0)) return 0;
  return u < count ? static_cast<int>(u) : count - 1;
}

// Height bins from the base's lowest reach to the highest lowest point a
// sphere can have: one diameter below the top, or, in a chamber without a
// top, its inner height.
ProfileGrid heightGrid(double amplitude, double height0, double diameter, double width,
                       int phases) {
  ProfileGrid grid;
  grid.z0 = -amplitude;
  grid.width = width;
  const double highest = height0 > diameter ? height0 - diameter : std::max(height0, 0.0);
  grid.heights = binsOver(highest - grid.z0, width);
  grid.phases = phases;
  return grid;
}

}  // namespace

ProfileGrid profileGrid(const Box& box, double diameter, double width, int phases) {
  ProfileGrid grid = heightGrid(box.baseAmplitude(), box.height0(), diameter, width, phases);
  grid.area = 4.0 * box.xsize0() * box.ysize0();
  return grid;
}

ProfileGrid profileGrid(const Cylinder& cylinder, double diameter, double width, int phases) {
  ProfileGrid grid =
      heightGrid(cylinder.baseAmplitude(), cylinder.height0(), diameter, width, phases);
  grid.radius = cylinder.radius0();
  grid.rings = binsOver(cylinder.radius0() - 0.5 * diameter, width);
  return grid;
}

double basePhase(double height, int direction, double amplitude) {
  if (!(amplitude > 0.0)) return 0.0;
  // Rising from -A to A over phases 3/4 .. 1/4, falling back over 1/4 .. 3/4;
  // the quarter cycle covers A.
  const double u = height / (4.0 * amplitude);
  double phase = direction > 0 ? u : 0.5 - u;
  if (phase < 0.0) phase += 1.0;
  return phase < 1.0 ? phase : 0.0;
}

ProfileAccumulator::ProfileAccumulator(const ProfileGrid& grid)
    : grid_(grid),
      width_inv_(1.0 / grid.width),
      sums_(static_cast<std::size_t>(grid.bins())),
      samples_(static_cast<std::size_t>(grid.phases), 0),
      spheres_(static_cast<std::size_t>(grid.phases), 0.0) {}

void ProfileAccumulator::sample(int n, const double* r, const double* v, double phase) {
  const int p = binOf(phase * grid_.phases, grid_.phases);
  ++samples_[p];
  spheres_[p] += n;
  Sums* sums = &sums_[static_cast<long>(p) * grid_.rings * grid_.heights];
  const bool cylinder = grid_.radius > 0.0;
  for (int i = 0; i < n; ++i) {
    const double* ri = r + 3 * i;
    const double* vi = v + 3 * i;
    const int h = binOf((ri[2] - grid_.z0) * width_inv_, grid_.heights);
    double c[3] = {vi[0], vi[1], vi[2]};
    int ring = 0;
    if (cylinder) {
      // Radial and azimuthal components about the axis; on the axis
      // itself x stands for the radial direction.
      const double rho = std::sqrt(ri[0] * ri[0] + ri[1] * ri[1]);
      const double cos_a = rho > 0.0 ? ri[0] / rho : 1.0;
      const double sin_a = rho > 0.0 ? ri[1] / rho : 0.0;
      c[0] = vi[0] * cos_a + vi[1] * sin_a;
      c[1] = vi[1] * cos_a - vi[0] * sin_a;
      ring = binOf(rho * width_inv_, grid_.rings);
    }
    Sums& s = sums[static_cast<long>(ring) * grid_.heights + h];
    s.count += 1.0;
    for (int a = 0; a < 3; ++a) {
      s.v[a] += c[a];
      s.v2[a] += c[a] * c[a];
    }
  }
}

double ProfileAccumulator::volume(int ring) const {
  if (grid_.radius <= 0.0) return grid_.area * grid_.width;
  const double inner = ring * grid_.width;
  const double outer = ring + 1 < grid_.rings ? inner + grid_.width : grid_.radius;
  return std::acos(-1.0) * (outer * outer - inner * inner) * grid_.width;
}

double ProfileAccumulator::share(int phase, int ring, int height) const {
  const double spheres = spheres_[phase];
  return spheres > 0.0 ? at(phase, ring, height).count / spheres : 0.0;
}

double ProfileAccumulator::density(int phase, int ring, int height) const {
  const long samples = samples_[phase];
  return samples > 0 ? at(phase, ring, height).count / (samples * volume(ring)) : 0.0;
}

double ProfileAccumulator::meanVelocity(int phase, int ring, int height, int component) const {
  const Sums& s = at(phase, ring, height);
  return s.count > 0.0 ? s.v[component] / s.count : std::numeric_limits<double>::quiet_NaN();
}

double ProfileAccumulator::temperature(int phase, int ring, int height, int component) const {
  const Sums& s = at(phase, ring, height);
  if (!(s.count > 0.0)) return std::numeric_limits<double>::quiet_NaN();
  const double mean = s.v[component] / s.count;
  return s.v2[component] / s.count - mean * mean;
}

double ProfileAccumulator::temperature(int phase, int ring, int height) const {
  return (temperature(phase, ring, height, 0) + temperature(phase, ring, height, 1) +
          temperature(phase, ring, height, 2)) /
         3.0;
}

void ProfileAccumulator::write(std::ostream& os) const {
  const bool cylinder = grid_.radius > 0.0;
  const char* const names = cylinder ? "v_r v_phi v_z T_r T_phi T_z" : "v_x v_y v_z T_x T_y T_z";
  os << "# " << (grid_.phases > 1 ? "phase " : "") << "z " << (cylinder ? "r " : "")
     << "share density " << names << " T samples\n";
  char text[32];
  const auto put = [&os, &text](double value) {
    std::snprintf(text, sizeof text, " %.17g", value);
    os << text;
  };
  for (int p = 0; p < grid_.phases; ++p) {
    if (p > 0) os << "\n\n";
    for (int k = 0; k < grid_.rings; ++k) {
      if (k > 0) os << "\n";
      for (int h = 0; h < grid_.heights; ++h) {
        std::snprintf(text, sizeof text, "%.17g", grid_.z0 + (h + 0.5) * grid_.width);
        if (grid_.phases > 1) {
          char phase[32];
          std::snprintf(phase, sizeof phase, "%.17g ", (p + 0.5) / grid_.phases);
          os << phase;
        }
        os << text;
        if (cylinder) {
          const double inner = k * grid_.width;
          put(k + 1 < grid_.rings ? inner + 0.5 * grid_.width : 0.5 * (inner + grid_.radius));
        }
        put(share(p, k, h));
        put(density(p, k, h));
        for (int a = 0; a < 3; ++a) put(meanVelocity(p, k, h, a));
        for (int a = 0; a < 3; ++a) put(temperature(p, k, h, a));
        put(temperature(p, k, h));
        os << ' ' << samples_[p] << '\n';
      }
    }
  }
}

ProfileSums ProfileAccumulator::sums() const {
  ProfileSums s;
  s.bins = static_cast<long>(sums_.size());
  s.samples = samples_;
  s.spheres = spheres_;
  for (std::size_t i = 0; i < sums_.size(); ++i) {
    const Sums& b = sums_[i];
    if (b.count == 0.0) continue;
    ProfileSums::Bin bin{static_cast<long>(i), b.count, {b.v[0], b.v[1], b.v[2]},
                         {b.v2[0], b.v2[1], b.v2[2]}};
    s.used.push_back(bin);
  }
  return s;
}

bool ProfileAccumulator::restore(const ProfileSums& s) {
  if (s.bins != static_cast<long>(sums_.size()) || s.samples.size() != samples_.size() ||
      s.spheres.size() != spheres_.size()) {
    return false;
  }
  for (const ProfileSums::Bin& bin : s.used) {
    if (bin.index < 0 || bin.index >= s.bins) return false;
  }
  std::fill(sums_.begin(), sums_.end(), Sums());
  for (const ProfileSums::Bin& bin : s.used) {
    Sums& b = sums_[static_cast<std::size_t>(bin.index)];
    b.count = bin.count;
    for (int a = 0; a < 3; ++a) {
      b.v[a] = bin.v[a];
      b.v2[a] = bin.v2[a];
    }
  }
  samples_ = s.samples;
  spheres_ = s.spheres;
  return true;
}
