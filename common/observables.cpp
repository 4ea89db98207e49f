#include "observables.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "chamber.h"
#include "shot.h"

void measureShot(const Shot& shot, double gravity, Observables& o) {
  const int n = shot.n();
  const double* r = shot.r_chunk();
  const double* v = shot.v_chunk();
  double sxx = 0.0, syy = 0.0, szz = 0.0, sz = 0.0, pz = 0.0, lz = 0.0;
  for (int k = 0; k < 3 * n; k += 3) {
    sxx += v[k] * v[k];
    syy += v[k + 1] * v[k + 1];
    szz += v[k + 2] * v[k + 2];
    sz += r[k + 2];
    pz += v[k + 2];
    lz += r[k] * v[k + 1] - r[k + 1] * v[k];
  }
  const double half_per_sphere = 0.5 / n;
  o.ke_x = sxx * half_per_sphere;
  o.ke_y = syy * half_per_sphere;
  o.ke_z = szz * half_per_sphere;
  o.ke = (sxx + syy + szz) * half_per_sphere;
  o.z_com = sz / n;
  o.pe = gravity * o.z_com;
  o.p_z = pz;
  o.l_z = lz;
  o.collisions = shot.collision();
  o.energy_lost = shot.energyLost();
}

Observables observe(double t, std::int64_t events, const Shot& shot, const Chamber& chamber) {
  Observables o;
  o.t = t;
  o.events = events;
  const ImpactTotals totals = chamber.impactTotals();
  o.base_impacts = totals.base_impacts;
  o.wall_impacts = totals.wall_impacts;
  o.top_impacts = totals.top_impacts;
  o.impulse_base = totals.impulse_base;
  o.impulse_top = totals.impulse_top;
  o.energy_base = totals.energy_base;
  o.energy_wall = totals.energy_wall;
  o.energy_top = totals.energy_top;
  measureShot(shot, chamber.gravity(), o);
  return o;
}

ObservablesFile::ObservablesFile(const char* filename) : file_(filename) {
  if (!file_.isOpen()) return;
  const std::string header = std::string("# ") + columns() + "\n";
  put(header.data(), header.size());
}

ObservablesFile::ObservablesFile(const char* filename, std::uint64_t bytes) : file_(filename) {
  if (!file_.isOpen()) return;
  std::ifstream is(filename, std::ios::binary);
  std::vector<char> buffer(1 << 16);
  while (is && digest_.bytes() < bytes) {
    const std::uint64_t left = bytes - digest_.bytes();
    is.read(buffer.data(), static_cast<std::streamsize>(
                               left < buffer.size() ? left : buffer.size()));
    put(buffer.data(), static_cast<std::size_t>(is.gcount()));
  }
  if (digest_.bytes() != bytes) file_.discard();
}

void ObservablesFile::put(const char* text, std::size_t size) {
  file_.stream().write(text, static_cast<std::streamsize>(size));
  digest_.add(text, size);
}

const char* ObservablesFile::columns() {
  return "t events collisions base_impacts wall_impacts top_impacts ke ke_x ke_y ke_z pe "
         "z_com p_z l_z impulse_base impulse_top energy_base energy_wall energy_top "
         "energy_lost";
}

void ObservablesFile::write(const Observables& o) {
  // 17 significant digits: every double reads back exactly.
  char row[640];
  const int length = std::snprintf(row, sizeof row,
                "%.17g %" PRId64 " %" PRId64 " %" PRId64 " %" PRId64 " %" PRId64
                " %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g "
                "%.17g %.17g %.17g %.17g %.17g %.17g\n",
                o.t, o.events, o.collisions, o.base_impacts, o.wall_impacts, o.top_impacts,
                o.ke, o.ke_x, o.ke_y, o.ke_z, o.pe, o.z_com, o.p_z, o.l_z, o.impulse_base,
                o.impulse_top, o.energy_base, o.energy_wall, o.energy_top, o.energy_lost);
  put(row, static_cast<std::size_t>(length));
}
