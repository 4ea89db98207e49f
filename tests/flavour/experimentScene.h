#ifndef EXPERIMENTSCENE_H
#define EXPERIMENTSCENE_H

// Parameter files for small experiments, in the working directory, for the
// chamber of the flavour under test: the box of cratesim, the cylinder of
// drumsim. Both chambers are wide (a box of half-width 5, a cylinder of
// radius 5.5) and 20 tall, with gravity 2 and a base whose mean height is 0,
// so that a sphere on the axis moving only vertically meets nothing but the
// base: dropped from height 1 it lands at time 1 with speed 2.

#include <sstream>
#include <string>
#include <vector>

#include "experiment.h"
#include "par.h"
#include "shot.h"
#include "testSupport.h"

#include "flavourFiles.h"

#ifdef DRUMSIM
#include "cylinder.h"
using TestChamber = Cylinder;
constexpr const char* kEventWord = "events";
#else
#include "box.h"
using TestChamber = Box;
constexpr const char* kEventWord = "collisions";
#endif

struct Scene {
  int spheres = 1;
  double kt = 1.0;           // temperature of a random placement
  double eta = 0.2;          // packing fraction of a random placement
  double restitution = 1.0;  // of every surface and between spheres
  double threshold = 1e9;    // speed above which restitution falls
  double amplitude = 0.0;    // of the base; 0: the base is at rest
  double period = 1.0;
  double wall_rebound = 0.05;  // cylinder: least radial speed off the wall
  double height = 20.0;        // inner height of the chamber
  double spin = 0.0;           // angular velocity of a random placement about the axis
  int maps = 0;
  std::string state;  // content of "start.state"; empty: random placement
  double tstep = 0.5;
  int ncolmax = 0;
  double tmax = 0.0;

  void write() const {
    using testing_support::writeFile;
    std::ostringstream par;
    par << (state.empty() ? "0" : "1 start.state") << "\n"
        << tstep << "\n" << ncolmax << "\n" << tmax << "\n";
    writeFile("ini/par.ini", par.str());
    if (!state.empty()) writeFile("start.state", state);

    std::ostringstream shot;
    shot << spheres << " 1\n" << eta << " " << kt << " " << spin << "\n"
         << restitution << " " << threshold << "\n0.001\n";
    writeFile("ini/shot.ini", shot.str());

    std::ostringstream surface;
    surface << restitution << " " << threshold << "\n";
    std::ostringstream chamber;
#ifdef DRUMSIM
    chamber << "5.5 " << height << "\n" << amplitude << " " << period << "\n2\n"
            << surface.str() << surface.str() << surface.str()
            << wall_rebound << "\n0.01\n0 1\n" << maps << "\n4\n";
#else
    chamber << "5 5 " << height << "\n" << amplitude << " " << period << "\n2\n"
            << surface.str() << surface.str() << surface.str()
            << "0.01\n0 1\n" << maps << "\n4 4\n";
#endif
    writeFile(kChamberFile, chamber.str());
  }
};

// A single sphere at rest on the axis, its lowest point at the given height.
inline std::string restingAt(double height) {
  std::ostringstream os;
  os << "0 0 " << height << " 0 0 0\n";
  return os.str();
}

inline Shot& seeded(Shot& shot, long seed) {
  shot.useSeed(seed);
  return shot;
}

// The objects of a program, built from the parameter files of the working
// directory in the program's order, run by the given event engine.
struct World {
  explicit World(long seed = 1, Experiment::Engine engine = Experiment::Engine::kReference)
      : par("ini/par.ini"),
        shot("ini/shot.ini"),
        chamber(kChamberFile),
        experiment(testProgram(), seeded(shot, seed), chamber, par, engine) {}

  double z(int i = 0) const { return shot.r_chunk()[3 * i + 2]; }
  double vz(int i = 0) const { return shot.v_chunk()[3 * i + 2]; }
  std::vector<double> positions() const {
    return std::vector<double>(shot.r_chunk(), shot.r_chunk() + 3 * shot.n());
  }
  std::vector<double> velocities() const {
    return std::vector<double>(shot.v_chunk(), shot.v_chunk() + 3 * shot.n());
  }
  // Kinetic plus potential energy of the whole shot, per unit mass.
  double energy() const {
    double sum = 0.0;
    for (int i = 0; i < 3 * shot.n(); i += 3) {
      const double* v = shot.v_chunk() + i;
      sum += 0.5 * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) +
             chamber.gravity() * shot.r_chunk()[i + 2];
    }
    return sum;
  }

  Par par;
  Shot shot;
  TestChamber chamber;
  Experiment experiment;
};

#endif

