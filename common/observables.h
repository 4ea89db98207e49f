#ifndef OBSERVABLES_H
#define OBSERVABLES_H

#include <cstdint>

#include "digest.h"
#include "safeFile.h"

class Chamber;
class Shot;

// The state of a run at one moment, as the batch programs report it in
// "observables.dat". Everything is per unit mass (all spheres have the same
// mass). Energies of the shot (ke, pe) are means per sphere; momenta and the
// running totals are sums over the whole shot. The running totals and the
// counters start at zero with each run.
struct Observables {
  double t = 0.0;       // simulated time since the run started
  std::int64_t events = 0;      // events of every kind
  std::int64_t collisions = 0;  // sphere-sphere collisions
  std::int64_t base_impacts = 0;
  std::int64_t wall_impacts = 0;
  std::int64_t top_impacts = 0;
  double ke = 0.0;  // kinetic energy per sphere, and its parts along x, y, z
  double ke_x = 0.0;
  double ke_y = 0.0;
  double ke_z = 0.0;
  double pe = 0.0;     // potential energy per sphere: g z_com
  double z_com = 0.0;  // mean height coordinate (lowest points of the spheres)
  double p_z = 0.0;    // total vertical momentum
  double l_z = 0.0;    // total angular momentum about the chamber's axis (z)
  double impulse_base = 0.0;  // running totals of the change of vz at the base
  double impulse_top = 0.0;   // and at the top
  double energy_base = 0.0;   // running totals of the kinetic energy gained
  double energy_wall = 0.0;   // at each kind of surface
  double energy_top = 0.0;
  double energy_lost = 0.0;  // running total lost in sphere-sphere collisions
};

// Fills the shot's part of o: the energies, z_com, p_z, l_z, collisions and
// energy_lost.
void measureShot(const Shot& shot, double gravity, Observables& o);

// The observables of a run at time t after the given number of events.
Observables observe(double t, std::int64_t events, const Shot& shot, const Chamber& chamber);

// "observables.dat": a first line "# " and the column names, then one row
// per write, numbers separated by single spaces, each double with the 17
// significant digits that carry it exactly. The rows go to a temporary file
// that commit puts in place, so that a failed run never leaves a truncated
// table under the real name. The size and checksum of what is written are
// kept, so that a run record can say which part of the file it belongs to.
class ObservablesFile {
 public:
  // Opens the temporary file and writes the header line.
  explicit ObservablesFile(const char* filename);
  // Opens the temporary file and copies the first `bytes` bytes of the file
  // there now (the rows of the run a resumed run continues); isOpen() is
  // false, and the temporary removed, when they cannot be copied.
  ObservablesFile(const char* filename, std::uint64_t bytes);
  ObservablesFile(const ObservablesFile&) = delete;
  ObservablesFile& operator=(const ObservablesFile&) = delete;

  bool isOpen() const { return file_.isOpen(); }
  void write(const Observables& o);
  // True once every row is written and the file is in place.
  bool commit() { return file_.commit(); }
  // Everything written so far, header included.
  const Digest& digest() const { return digest_; }

  // The column names separated by single spaces, in the order of a row.
  static const char* columns();

 private:
  void put(const char* text, std::size_t size);

  SafeFile file_;
  Digest digest_;
};

#endif
