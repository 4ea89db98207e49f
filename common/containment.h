#ifndef CONTAINMENT_H
#define CONTAINMENT_H

#include <vector>

class Chamber;
class Shot;

// Checks that the shot is whole: every sphere inside the chamber within the
// position tolerance, and no two spheres closer than a diameter less the
// overlap tolerance. One pass over the spheres, then one over the pairs of
// spheres in the same or neighbouring cells of a grid at least a diameter
// wide, laid over the spheres for the check: O(n), cheap enough to run at
// the end of every step.
class ContainmentCheck {
 public:
  // What the check found: nothing (sphere -1); a sphere beyond a surface of
  // the chamber (other -1, the surface's name, how far beyond); or two
  // spheres that overlap (surface null, by how much).
  struct Breach {
    int sphere = -1;
    int other = -1;
    const char* surface = nullptr;
    double depth = 0.0;
  };

  // The first breach: the lowest sphere beyond a surface, else an
  // overlapping pair.
  Breach find(const Shot& shot, const Chamber& chamber);

 private:
  // Spheres sorted by cell (a counting sort), reused between checks.
  std::vector<int> first_;  // per cell, its first place in order_; one more at the end
  std::vector<int> order_;  // the spheres, cell by cell
  std::vector<int> cell_;   // per sphere, its cell
  std::vector<int> next_;   // per cell, the next free place in order_ while sorting
  std::vector<double> pos_;  // the positions in the order of order_
};

#endif
