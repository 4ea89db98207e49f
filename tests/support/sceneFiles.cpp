// Writes the parameter files of a program into a directory, for the test
// scripts: the shipped definitions with the values given by key changed.
//
// Usage: sceneFiles cratesim|drumsim DIRECTORY [KEY=VALUE]...
//   e.g. sceneFiles drumsim run shot.count=20 cyl.amplitude=0.5 par.time_limit=0.5
// Exit status 2 for an unknown program, key or value.

#include <cstring>
#include <iostream>
#include <string>

#include "parameterFiles.h"
#include "scene.h"

namespace {

// Sets the value in whichever of the scene's definitions has the key.
bool set(testing_support::Scene& scene, const std::string& key, const std::string& value) {
  for (const ParamTable& table :
       {runTable(scene.run), shotTable(scene.shot), boxTable(scene.box),
        cylinderTable(scene.cylinder), shotDrawTable(scene.shot_draw),
        boxDrawTable(scene.box_draw), cylinderDrawTable(scene.cylinder_draw),
        viewTable(scene.view, true)}) {
    if (setParam(table, key, value)) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || (std::strcmp(argv[1], "cratesim") != 0 && std::strcmp(argv[1], "drumsim") != 0)) {
    std::cerr << "Usage: sceneFiles cratesim|drumsim DIRECTORY [KEY=VALUE]...\n";
    return 2;
  }
  const Program& program = std::strcmp(argv[1], "drumsim") == 0 ? drumsim() : cratesim();
  testing_support::Scene scene = testing_support::shippedScene(program);
  for (int i = 3; i < argc; ++i) {
    const std::string setting = argv[i];
    const std::size_t eq = setting.find('=');
    if (eq == std::string::npos || !set(scene, setting.substr(0, eq), setting.substr(eq + 1))) {
      std::cerr << "sceneFiles: cannot set " << setting << "\n";
      return 2;
    }
  }
  scene.writeFiles(argv[2]);
  return 0;
}
