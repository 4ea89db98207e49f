#ifndef DEFINITIONS_H
#define DEFINITIONS_H

#include <limits>
#include <string>

// The definitions the simulation objects are built from: plain values with
// their units, one struct per parameter file, each field starting at the
// value of the shipped file (so a definition built in code differs from the
// shipped run only where it says so). Nothing here reads a file: the files
// are parsed into these structs by parameterFiles.h.
//
// Units are those of the parameter files; the shipped ones use sphere
// diameters for lengths and base cycles for times. Heights z count from the
// base's mean position, up against gravity.
//
// isValid tells whether a definition can be simulated: the ranges a parameter
// file is refused for. Objects built from a definition trust it; a definition
// from a file has passed isValid. Besides the ranges each field states, every
// length, time, speed and acceleration is at most 1e100 in magnitude, and
// one that must be positive at least 1e-100, so that the physics can be
// computed in doubles.

// An optional value that a file may leave out (its last line): not given,
// the object built from the definition takes its default.
constexpr double kNotGiven = std::numeric_limits<double>::quiet_NaN();

// Run parameters ("ini/par.ini").
struct RunDef {
  int restart = 0;           // 0: random placement; 1: start from state_file
  std::string state_file;    // the state file to start from (one word); with restart only
  double step = 0.02;        // time step of the experiment [cycles], > 0
  int event_limit = 0;       // a batch run goes on until this many events [events], >= 0,
  double time_limit = 200.0; // and this much simulated time [cycles], >= 0
};

// A speed-dependent coefficient of restitution: e(v) = coefficient below the
// threshold speed, coefficient (v / threshold)^(-1/4) above it.
struct RestitutionDef {
  double coefficient = 0.9;  // at low speed, 0 .. 1
  double threshold = 1.0;    // speed above which it falls [diameters/cycle], > 0
};

// The shot ("ini/shot.ini"): equal spheres, how they are placed at random,
// and how two of them collide.
struct ShotDef {
  int count = 300;               // spheres, 1 .. 10 000 000
  double diameter = 1.0;         // [diameters], > 0
  double packing = 0.35;         // packing fraction of the layer the spheres are placed in, (0, 1)
  double temperature = 1.0;      // mean squared velocity component at placement [diameters^2/cycle^2], >= 0
  double spin = 0.0;             // angular velocity about the axis at placement [radians/cycle]
  RestitutionDef restitution;    // between spheres, on their relative speed
  double tolerance = 0.001;      // overlap allowed by the start-up check [diameters], >= 0
  std::string source = "ini/shot.ini";  // named by the report of a shot too fast for its chamber
  double rebound = kNotGiven;    // least normal speed with which two spheres part after a
                                 // collision [diameters/cycle], >= 0 (0: the restitution law
                                 // alone); not given: defaultMinRebound (chamber.h)
};

// What the two chambers share: the vibrating base, gravity, the restitution
// of the three kinds of surface, the containment tolerance and the impact
// maps. The base moves on a triangle wave between -amplitude and +amplitude
// at the constant speed 4 amplitude / period.
//
// A moving base's period lies within a factor 1e9 of the time of a fall
// through the chamber, sqrt(2 L / g) with L the chamber's largest length
// (height, amplitude or horizontal size), and its speed 4 A / P is within
// the chamber's speed limit (speedLimit below).
struct ChamberDef {
  double height = 20.0;        // inner height from the base's mean position to the top [diameters]:
                               // 0 for no top at all; otherwise above the amplitude, and more than
                               // one diameter above it once the spheres are known
  double amplitude = 1.0;      // of the base [diameters], >= 0 (0: a base at rest)
  double period = 1.0;         // of the base [cycles], > 0
  double gravity = 3.924;      // acting along -z [diameters/cycle^2], > 0
  RestitutionDef base;         // restitution of the base,
  RestitutionDef wall;         // of the side walls,
  RestitutionDef top;          // and of the top
  double tolerance = 0.001;    // how far the containment test lets a sphere stand outside [diameters], >= 0
  double base_start = 0.0;     // base height at time zero [diameters], -amplitude .. amplitude
  int base_direction = 1;      // the base's motion at time zero: +1 rising, -1 falling
  int maps = 1;                // impact maps "top.map" and "bot.map": non-zero on, 0 off
  double base_rebound = kNotGiven;  // least speed relative to the base with which a sphere
                                    // leaves it [diameters/cycle], >= 0 (0: the restitution
                                    // law alone); not given: defaultMinRebound (chamber.h)
};

// The box ("ini/box.ini"): four vertical walls at x = +-half_x, y = +-half_y.
struct BoxDef {
  double half_x = 5.0;         // half inner width along x [diameters], > 0
  double half_y = 5.0;         // along y [diameters], > 0
  ChamberDef chamber;
  int cells_x = 10;            // histogram cells along x, >= 1,
  int cells_y = 10;            // and along y, >= 1; at most 10^7 cells in all
  std::string source = "ini/box.ini";  // named by the report of a box too small for its spheres
};

// The upright cylinder ("ini/cyl.ini"): a circular side wall about the z axis.
struct CylinderDef {
  double radius = 5.5;         // inner radius of the wall [diameters], > 0
  ChamberDef chamber;
  double wall_rebound = 0.05;  // least radial speed a sphere leaves the wall with [diameters/cycle],
                               // >= 0, within the speed limit
  int rings = 10;              // rings of the histograms, 1 .. 10^7
  std::string source = "ini/cyl.ini";  // named by the report of a cylinder too narrow for its spheres
};

// Drawing of the shot ("ini/shotGL.ini"). Colours are red, green, blue
// (and alpha), each 0 .. 1.
struct ShotDrawDef {
  // The finest detail: the window toolkit numbers the 2 d (d - 1) + 2
  // vertices of its sphere mesh of detail d in 16 bits.
  static constexpr int kMaxDetail = 181;

  int detail = 8;                 // stacks of a drawn sphere (twice as many slices), 2 .. kMaxDetail
  double colour_height = 8.0;     // spheres this high and above get the top colour [diameters], > 0
  double bottom[3] = {0.1, 0.25, 0.9};  // colour at height 0
  double top[3] = {0.95, 0.2, 0.1};     // colour at the colour height
  double marked[3] = {1.0, 0.9, 0.0};   // colour of sphere 0
};

// Drawing of the box ("ini/boxGL.ini").
struct BoxDrawDef {
  double height = 20.0;                     // kept, not drawn [diameters]
  double base[4] = {0.2, 0.2, 0.25, 1.0};   // base plate and edges
  double wall[4] = {0.6, 0.75, 0.95, 0.15}; // translucent walls
};

// Drawing of the cylinder ("ini/cylGL.ini").
struct CylinderDrawDef {
  // The most facets: the window toolkit numbers the 4 f + 2 vertices of its
  // cylinder of f facets in 16 bits. The most bands: an open cylinder's
  // wall is a fifth of the radius per band, and more would draw it far out
  // of sight.
  static constexpr int kMaxFacets = 16383;
  static constexpr int kMaxBands = 10000;

  int facets = 48;                          // around the axis, 3 .. kMaxFacets
  int bands = 20;                           // of the drawn wall, 1 .. kMaxBands
  double base[4] = {0.2, 0.2, 0.25, 1.0};   // base disc and rim of the top
  double wall[4] = {0.6, 0.75, 0.95, 0.15}; // translucent wall
};

// The camera of the animation window ("ini/parGL.ini").
struct ViewDef {
  double nearest = 10.0;       // camera distance: nearest [diameters], > 0,
  double farthest = 36.0;      // and farthest, the start, >= nearest
  double target_height = 10.0; // height of the point the camera looks at [diameters]
  int turn = 0;                // about the vertical axis at the start [degrees]
  int tilt = 20;               // at the start [degrees]
};

// The fastest a sphere may move in a chamber of that definition whose
// horizontal size (half-width or radius) is width: 10^6 times the speed of a
// fall through the chamber's largest length. Counting the height a sphere
// can fall from as speed, faster spheres make the predictions of their
// falls meaningless.
double speedLimit(const ChamberDef& chamber, double width);

bool isValid(const RunDef& def);
bool isValid(const ShotDef& def);
bool isValid(const BoxDef& def);
bool isValid(const CylinderDef& def);
bool isValid(const ShotDrawDef& def);
bool isValid(const BoxDrawDef& def);
bool isValid(const CylinderDrawDef& def);
bool isValid(const ViewDef& def);

#endif
