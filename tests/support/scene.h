#ifndef SCENE_H
#define SCENE_H

// The scene factory every suite builds its experiments from: the definitions
// of one program's parameter files, in code, and the objects of a program
// built from them.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "chamber.h"
#include "definitions.h"
#include "experiment.h"
#include "par.h"
#include "program.h"
#include "shot.h"

namespace testing_support {

// A small experiment of one program. By default a wide chamber (a box of
// half-width 5, a cylinder of radius 5.5), 20 tall, under gravity 2, its
// base at rest at mean height 0, every surface and the spheres elastic at
// any speed (threshold 1e9), tolerance 0.01, maps off, 4 histogram cells
// (box: 4 x 4); one sphere of diameter 1 placed at random (packing 0.2,
// temperature 1); steps of 0.5 and no batch limits. A sphere on the axis
// moving only vertically meets nothing but the base: dropped from height 1
// it lands at time 1 with speed 2.
struct Scene {
  explicit Scene(const Program& program = cratesim());

  const Program* program;
  RunDef run;
  ShotDef shot;
  BoxDef box;
  CylinderDef cylinder;
  ShotDrawDef shot_draw;
  BoxDrawDef box_draw;
  CylinderDrawDef cylinder_draw;
  ViewDef view;
  // The text of the state file "start.state" every run starts from; empty:
  // random placement (unless run names a state file itself).
  std::string state;

  bool isBox() const { return program->chamber == ChamberKind::kBox; }
  // The shared part of the program's chamber.
  ChamberDef& chamber() { return isBox() ? box.chamber : cylinder.chamber; }
  const ChamberDef& chamber() const { return isBox() ? box.chamber : cylinder.chamber; }
  // The same restitution law at every surface and between the spheres.
  void setRestitution(double coefficient, double threshold);
  // The run parameters in force: with a state, a start from "start.state".
  RunDef runDef() const;
  // Writes the program's parameter files (ini/..., the drawing files
  // included) and the state file into the directory.
  void writeFiles(const std::string& directory = ".") const;
  // The text of one of the program's files ("ini/shot.ini", "start.state").
  std::string fileText(const std::string& name) const;
  // The names of the program's parameter files, in the order it reads them.
  std::vector<std::string> fileNames() const;
};

// The shipped parameter files as a scene: every definition at its default.
Scene shippedScene(const Program& program);

// The scene's chamber, built from its definition.
std::unique_ptr<Chamber> makeChamber(const Scene& scene);

// A state as a state file lists it: "x y z vx vy vz" per sphere, all digits.
std::string stateText(const std::vector<double>& r, const std::vector<double>& v);
// A single sphere at rest on the axis, its lowest point at the height.
std::string restingAt(double height);

// The objects of a program built from a scene in the program's order, in
// the working directory (the state file, if any, is written there first),
// run by the given engine with the given seed of the random placement.
// Every step ends with the containment check: a sphere lost through a
// surface or a pair overlapping ends the test's process.
struct World {
  explicit World(const Scene& scene, long seed = 1,
                 Experiment::Engine engine = Experiment::Engine::kReference);

  double z(int i = 0) const { return shot.r_chunk()[3 * i + 2]; }
  double vz(int i = 0) const { return shot.v_chunk()[3 * i + 2]; }
  std::vector<double> positions() const;
  std::vector<double> velocities() const;
  // Kinetic plus potential energy of the whole shot, per unit mass.
  double energy() const;

  bool started;  // the state file is written before anything reads it
  Par par;
  Shot shot;
  std::unique_ptr<Chamber> chamber;
  Experiment experiment;
};

// Tests that run for every program take it as their parameter:
//   INSTANTIATE_TEST_SUITE_P(Programs, SomeTest, everyProgram(), programName);
inline auto everyProgram() { return ::testing::Values(&cratesim(), &drumsim()); }
inline std::string programName(const ::testing::TestParamInfo<const Program*>& info) {
  return info.param->name;
}

}  // namespace testing_support

#endif
