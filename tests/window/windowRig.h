#ifndef WINDOWRIG_H
#define WINDOWRIG_H

// A small experiment of one program with its window state, built in a fresh
// working directory from definitions; no display is needed as long as
// nothing draws. The chamber is the program's plain simulation class.

#include <memory>

#include "experimentFGL.h"
#include "scene.h"
#include "testSupport.h"

namespace window_test {

// 20 spheres of diameter 1 placed loosely (the layer they are placed in
// reaches above the base at any point of its stroke) on the shipped base
// motion and restitution, time step 0.02.
inline testing_support::Scene windowScene(const Program& program) {
  testing_support::Scene scene(program);
  scene.shot.count = 20;
  scene.shot.packing = 0.05;
  scene.setRestitution(0.9, 1.0);
  scene.chamber().amplitude = 1.0;
  scene.chamber().gravity = 3.924;
  scene.chamber().tolerance = 0.001;
  scene.run.step = 0.02;
  return scene;
}

struct Rig {
  // Members are destroyed in reverse: the objects first (the shot writes its
  // state file into the directory), the directory last.
  testing_support::ScopedTempDir dir;
  testing_support::Scene scene;
  Par par;
  Shot shot;
  std::unique_ptr<Chamber> chamber;
  ExperimentFGL experiment;

  Rig(const Program& program, const ViewDef& view)
      : scene(windowScene(program)),
        par(scene.runDef()),
        shot(scene.shot),
        chamber(testing_support::makeChamber(scene)),
        experiment(program, shot, *chamber, par, view) {}
};

}  // namespace window_test

#endif
