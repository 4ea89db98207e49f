#include "scene.h"

#include <cstdio>

#include "box.h"
#include "cylinder.h"
#include "parameterFiles.h"
#include "testSupport.h"

namespace testing_support {

Scene::Scene(const Program& p) : program(&p) {
  run.step = 0.5;
  run.time_limit = 0.0;
  shot.count = 1;
  shot.packing = 0.2;
  box.half_x = box.half_y = 5.0;
  box.cells_x = box.cells_y = 4;
  cylinder.rings = 4;
  for (ChamberDef* c : {&box.chamber, &cylinder.chamber}) {
    c->amplitude = 0.0;
    c->gravity = 2.0;
    c->tolerance = 0.01;
    c->maps = 0;
  }
  setRestitution(1.0, 1e9);
}

void Scene::setRestitution(double coefficient, double threshold) {
  const RestitutionDef law{coefficient, threshold};
  shot.restitution = law;
  for (ChamberDef* c : {&box.chamber, &cylinder.chamber}) c->base = c->wall = c->top = law;
}

RunDef Scene::runDef() const {
  RunDef def = run;
  if (!state.empty()) {
    def.restart = 1;
    def.state_file = "start.state";
  }
  return def;
}

std::vector<std::string> Scene::fileNames() const {
  return {"ini/par.ini",        "ini/shot.ini",
          "ini/shotGL.ini",     program->chamber_file,
          program->chamber_draw_file, "ini/parGL.ini"};
}

std::string Scene::fileText(const std::string& name) const {
  // The tables point into the definitions they are made for: copies.
  RunDef r = runDef();
  ShotDef s = shot;
  BoxDef b = box;
  CylinderDef c = cylinder;
  ShotDrawDef sd = shot_draw;
  BoxDrawDef bd = box_draw;
  CylinderDrawDef cd = cylinder_draw;
  ViewDef v = view;
  if (name == "ini/par.ini") return formatParamFile(runTable(r));
  if (name == "ini/shot.ini") return formatParamFile(shotTable(s));
  if (name == "ini/box.ini") return formatParamFile(boxTable(b));
  if (name == "ini/cyl.ini") return formatParamFile(cylinderTable(c));
  if (name == "ini/shotGL.ini") return formatParamFile(shotDrawTable(sd));
  if (name == "ini/boxGL.ini") return formatParamFile(boxDrawTable(bd));
  if (name == "ini/cylGL.ini") return formatParamFile(cylinderDrawTable(cd));
  if (name == "ini/parGL.ini") return formatParamFile(viewTable(v, program->view_angles));
  if (name == "start.state") return state;
  return std::string();
}

void Scene::writeFiles(const std::string& directory) const {
  std::vector<std::string> names = fileNames();
  if (!state.empty()) names.push_back("start.state");
  for (const std::string& name : names) writeFile(directory + "/" + name, fileText(name));
}

Scene shippedScene(const Program& program) {
  Scene scene(program);
  scene.run = RunDef{};
  scene.shot = ShotDef{};
  scene.box = BoxDef{};
  scene.cylinder = CylinderDef{};
  return scene;
}

std::unique_ptr<Chamber> makeChamber(const Scene& scene) {
  if (scene.isBox()) return std::make_unique<Box>(scene.box);
  return std::make_unique<Cylinder>(scene.cylinder);
}

std::string stateText(const std::vector<double>& r, const std::vector<double>& v) {
  std::string text;
  char line[160];
  for (std::size_t k = 0; k + 2 < r.size(); k += 3) {
    std::snprintf(line, sizeof line, "%.17g %.17g %.17g %.17g %.17g %.17g\n", r[k], r[k + 1],
                  r[k + 2], v[k], v[k + 1], v[k + 2]);
    text += line;
  }
  return text;
}

std::string restingAt(double height) { return stateText({0.0, 0.0, height}, {0.0, 0.0, 0.0}); }

namespace {

bool writeStart(const Scene& scene) {
  if (!scene.state.empty()) writeFile("start.state", scene.state);
  return true;
}

Shot& seeded(Shot& shot, long seed) {
  shot.useSeed(seed);
  return shot;
}

}  // namespace

World::World(const Scene& scene, long seed, Experiment::Engine engine)
    : started(writeStart(scene)),
      par(scene.runDef()),
      shot(scene.shot),
      chamber(makeChamber(scene)),
      experiment(*scene.program, seeded(shot, seed), *chamber, par, engine) {
  experiment.setContainmentCheck(true);
}

std::vector<double> World::positions() const {
  return std::vector<double>(shot.r_chunk(), shot.r_chunk() + 3 * shot.n());
}

std::vector<double> World::velocities() const {
  return std::vector<double>(shot.v_chunk(), shot.v_chunk() + 3 * shot.n());
}

double World::energy() const {
  double sum = 0.0;
  const double* r = shot.r_chunk();
  const double* v = shot.v_chunk();
  for (int i = 0; i < 3 * shot.n(); i += 3) {
    sum += 0.5 * (v[i] * v[i] + v[i + 1] * v[i + 1] + v[i + 2] * v[i + 2]) +
           chamber->gravity() * r[i + 2];
  }
  return sum;
}

}  // namespace testing_support
