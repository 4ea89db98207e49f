#ifndef FLIGHTRECORD_H
#define FLIGHTRECORD_H

// What the fast engine keeps of one sphere's flight, and all that a search
// for contacts reads of each neighbour: one cache line. The sphere is flown
// from its record (freeFlight.h) to any later time.
struct alignas(64) FlightRecord {
  double r[3];       // position at stamp (z: the lowest point, as in the shot)
  double v[3];       // velocity at stamp
  double stamp;      // time at which r and v hold
  unsigned changes;  // velocity changes so far
};

#endif
