#ifndef WINDOWRIG_H
#define WINDOWRIG_H

// A small experiment with its window state, built in a fresh working
// directory from parameter files written there; no display is needed as long
// as nothing draws. The chamber is the flavour's plain simulation class.

#include <memory>
#include <string>

#include "experimentFGL.h"
#include "flavourFiles.h"
#include "par.h"
#include "shot.h"
#include "testSupport.h"

#ifdef DRUMSIM
#include "cylinder.h"
using RigChamber = Cylinder;
#else
#include "box.h"
using RigChamber = Box;
#endif

namespace window_test {

// 20 spheres of diameter 1 placed loosely (the layer they are placed in
// reaches above the base at any point of its stroke), time step 0.02.
inline void writeRunFiles() {
  using testing_support::writeFile;
  writeFile("ini/par.ini", "0\n0.02\n0\n10\n");
  writeFile("ini/shot.ini", "20 1\n0.05 1 0\n0.9 1\n0.001\n");
#ifdef DRUMSIM
  writeFile("ini/cyl.ini",
            "5.5 20\n1 1\n3.924\n0.9 1\n0.9 1\n0.9 1\n0.05\n0.001\n0 1\n0\n10\n");
#else
  writeFile("ini/box.ini", "5 5 20\n1 1\n3.924\n0.9 1\n0.9 1\n0.9 1\n0.001\n0 1\n0\n10 10\n");
#endif
}

inline const char* chamberFile() {
#ifdef DRUMSIM
  return "ini/cyl.ini";
#else
  return "ini/box.ini";
#endif
}

struct Rig {
  // Members are destroyed in reverse: the objects first (the shot writes its
  // state file into the directory), the directory last.
  testing_support::ScopedTempDir dir;
  std::unique_ptr<Par> par;
  std::unique_ptr<Shot> shot;
  std::unique_ptr<RigChamber> chamber;
  std::unique_ptr<ExperimentFGL> experiment;

  explicit Rig(const std::string& parGL) {
    writeRunFiles();
    testing_support::writeFile("ini/parGL.ini", parGL);
    par.reset(new Par("ini/par.ini"));
    shot.reset(new Shot("ini/shot.ini"));
    chamber.reset(new RigChamber(chamberFile()));
    experiment.reset(new ExperimentFGL(testProgram(), *shot, *chamber, *par, "ini/parGL.ini"));
  }
};

}  // namespace window_test

#endif
