#ifndef PAIRSEARCH_H
#define PAIRSEARCH_H

#include "flightRecord.h"

// The fast engine's search for a sphere's next contact among its neighbours.
//
// Sphere i, its record flown to the present `now`, is tested against the
// spheres whose record slots are near[0 .. count): each neighbour j is flown
// to now in the reckoning (freeFlight.h), not in its record. Both fall alike,
// so their relative motion is straight: with d = ri - rj and w = vi - vj at
// now, |d + w t|^2 = diam^2 reads
//   f(t) = a t^2 + 2 b t + c = 0,  a = w.w,  b = d.w,  c = d.d - diam^2.
// Only an approaching pair (b < 0) with D = b^2 - a c > 0 meets; the earlier
// root -(b + sqrt(D)) / a is the contact, the later one the moment they
// would part had they passed through each other. A pair that already
// overlaps while approaching gets a negative time, as in the reference loop
// (Shot::examinePair). Sphere i itself has d = w = 0, so b = 0: it never
// meets itself.
//
// Returns the slot of the neighbour of the earliest contact strictly before
// best, and lowers best to that contact's time (counted as now is); returns
// -1, best unchanged, when none comes before it. near must have room for one
// more slot than count (the SSE2 search pads an odd count with i itself).
//
// The candidates are reckoned in one loop without branches on the roots (a
// root is reckoned for every pair, sqrt giving NaN where there is none, and
// kept only for a pair that meets), which a processor runs far faster than
// one that guesses, pair by pair, whether the spheres meet. Two versions
// give the same roots to the last bit: one candidate at a time, and two at a
// time with SSE2 (pairSearchSSE2.cpp), the one earliestContact uses where
// the processor has it.
int earliestContactScalar(const FlightRecord* records, int i, int* near, int count, double now,
                          double g, double diam2, double& best);
#if defined(__SSE2__)
int earliestContactSSE2(const FlightRecord* records, int i, int* near, int count, double now,
                        double g, double diam2, double& best);
#endif

inline int earliestContact(const FlightRecord* records, int i, int* near, int count, double now,
                           double g, double diam2, double& best) {
#if defined(__SSE2__)
  return earliestContactSSE2(records, i, near, count, now, g, diam2, best);
#else
  return earliestContactScalar(records, i, near, count, now, g, diam2, best);
#endif
}

#endif
