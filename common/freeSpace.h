#ifndef FREESPACE_H
#define FREESPACE_H

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "hugePageAllocator.h"

// The room left for one more sphere of a random bed: the points of a box
// that lie at least a diameter from the centre of every sphere placed so
// far, from which random placement draws each new sphere uniformly.
//
// Drawing uniformly from the box and rejecting the points too close to a
// sphere gives that distribution, but a bed near the densest random packing
// rejects hundreds of points per sphere. Here the box is cut into cubes, and
// a point is drawn uniformly from the cubes still open, which hold all the
// room left: when a point is rejected, its cube is closed if the sphere
// that rejected it covers the whole cube, and else cut into eighths, of
// which those that sphere covers are closed. The points drawn are therefore
// uniform over the room left, as before, while the draws gather where room
// is left (a bed at packing fraction 0.35 takes about 25 draws per sphere
// instead of about 110).
//
// Placed spheres are kept in cells one diameter wide, each holding the
// centres of its first two spheres in one cache line, so that a point is
// compared only with the spheres of the 27 cells about it and mostly reads
// one line per cell. A bed is placed at random places all over the box, so
// each draw waits for memory twice (its cube, then its cell): the random
// numbers of each draw are taken two draws ahead, and what they will most
// likely read is fetched meanwhile.
class FreeSpace {
 public:
  // Cubes and cells over [lo, hi] (finite) for at most n spheres of
  // diameter diam.
  FreeSpace(const double lo[3], const double hi[3], double diam, int n);
  FreeSpace(const FreeSpace&) = delete;
  FreeSpace& operator=(const FreeSpace&) = delete;

  // False once every cube is closed: no sphere fits any more.
  bool open() const { return weight_ > 0; }

  // Draws a point r uniformly from the open cubes (some must be open);
  // uniform() gives numbers uniform in [0, 1).
  template <class Uniform>
  void draw(Uniform& uniform, double* r) {
    if (!primed_) {
      for (auto& numbers : ahead_) {
        for (double& u : numbers) u = uniform();
      }
      primed_ = true;
    }
    // This draw takes the numbers drawn two draws ago, with the cubes open
    // now (numbers taken early are as random as numbers taken late).
    last_ = pick(ahead_[0]);
    corner(cubes_[last_.level][last_.slot], r);
    const double scale = static_cast<double>(kFine >> last_.level);
    for (int a = 0; a < 3; ++a) r[a] += ahead_[0][2 + a] * fine_[a] * scale;
    for (int k = 0; k < kNumbers; ++k) {
      ahead_[0][k] = ahead_[1][k];
      ahead_[1][k] = uniform();
    }
    // What the next two draws will most likely read, were the cubes to stay
    // as they are: the next one's cell and the cube of the one after.
    const Pick next = pick(ahead_[0]);
    double next_r[3];
    corner(cubes_[next.level][next.slot], next_r);
    const double next_scale = static_cast<double>(kFine >> next.level);
    for (int a = 0; a < 3; ++a) next_r[a] += ahead_[0][2 + a] * fine_[a] * next_scale;
    int c[3];
    locate(next_r, c);
    __builtin_prefetch(&cells_[index(c)]);
    const Pick after = pick(ahead_[1]);
    __builtin_prefetch(&cubes_[after.level][after.slot]);
  }

  // The centre of a placed sphere closer than a diameter to the point r
  // (spheres exactly in contact are allowed), or null for none.
  const double* overlapped(const double* r) const;
  // The point drawn last lies closer than a diameter to the centre c of a
  // placed sphere: its cube is closed or cut.
  void reject(const double* c);
  // A sphere now stands at the point r (drawn last).
  void place(const double* r);

 private:
  // Levels of cubes: each halves the side of the one before, down to 1/32
  // of the first.
  static constexpr int kLevels = 6;
  static constexpr std::uint64_t kFine = std::uint64_t{1} << (kLevels - 1);
  // A cube's code: the coordinates of its lower corner in cubes of the
  // finest level, 21 bits each (x lowest).
  static constexpr int kBits = 21;
  static constexpr std::uint64_t kMask = (std::uint64_t{1} << kBits) - 1;

  // Random numbers per draw: the level, the cube, and x, y, z in the cube.
  static constexpr int kNumbers = 5;
  struct Pick {
    int level;
    std::size_t slot;
  };
  // The cube that a draw's numbers pick from the cubes open now: a level
  // with the weight of its cubes' volume (a cube of level L has 8^-L of the
  // volume of one of level 0), then a cube of it.
  Pick pick(const double* numbers) const {
    const double u = numbers[0] * static_cast<double>(weight_);
    double sum = 0.0;
    int level = 0;
    for (; level < kLevels - 1; ++level) {
      sum += static_cast<double>(cubes_[level].size() * cubeVolume(level));
      if (u < sum) break;
    }
    while (cubes_[level].empty()) --level;  // rounding at the end of the sum
    const std::size_t size = cubes_[level].size();
    const std::size_t slot = static_cast<std::size_t>(numbers[1] * static_cast<double>(size));
    return Pick{level, slot < size ? slot : size - 1};
  }
  // Lower corner of the cube with this code.
  void corner(std::uint64_t code, double lo[3]) const {
    lo[0] = origin_[0] + static_cast<double>(code & kMask) * fine_[0];
    lo[1] = origin_[1] + static_cast<double>((code >> kBits) & kMask) * fine_[1];
    lo[2] = origin_[2] + static_cast<double>(code >> (2 * kBits)) * fine_[2];
  }
  // Volume of a cube of the level, in cubes of the finest level.
  static std::uint64_t cubeVolume(int level) { return std::uint64_t{1} << (3 * (kLevels - 1 - level)); }
  // Takes the cube of the point drawn last off its list.
  void closeLast();
  void list(int level, std::uint64_t code);

  // Coordinates of the cell of the point r, and its index.
  void locate(const double* r, int c[3]) const;
  std::size_t index(const int c[3]) const {
    return (static_cast<std::size_t>(c[2]) * count_[1] + c[1]) * count_[0] + c[0];
  }
  // The centre in cell c closer than a diameter to r, or null.
  const double* overlappedIn(const int c[3], const double* r) const;

  double diam2_;
  double origin_[3];
  double fine_[3];  // sides of a cube of the finest level
  std::vector<std::uint64_t, HugePageAllocator<std::uint64_t>> cubes_[kLevels];  // open, by level
  std::uint64_t weight_;  // volume of the open cubes, in cubes of the finest level
  double ahead_[2][kNumbers];  // the numbers of the next two draws
  bool primed_;                // ahead_ holds them
  Pick last_;                  // the cube of the point drawn last

  // A cell: the number of its spheres and the centres of the first two; a
  // third and more (rare: cells are a diameter wide) go to overflow_.
  struct alignas(64) Cell {
    double centre[2][3];
    int count;
  };
  double cell_origin_[3];
  double cell_width_inv_[3];
  int count_[3];
  std::vector<Cell, HugePageAllocator<Cell>> cells_;
  std::unordered_map<std::size_t, std::vector<double>> overflow_;  // by cell: x y z per sphere
};

#endif
