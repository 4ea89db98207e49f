// Frame rate of the animation window: builds the window program's objects
// for a bed of the shipped physics and density (3 spheres per unit of floor
// area, the floor grown with the number of spheres, the camera drawn back
// to see it), opens the window and runs the toolkit's main loop with the
// program's tick and frame for a few seconds. Prints one line: how long the
// start-up took (the objects built and the bed placed, then the first frame
// shown), frames per second, simulated cycles per second, the wall time per
// frame spent computing and drawing, and the processor time per frame (of
// the program and its renderer's threads). Needs a display (a virtual X server
// will do); bench/window-bench.sh runs it for every program, size and engine.
//
// Usage: window-bench --program cratesim|drumsim --spheres N
//                     [--engine fast|reference] [--seconds S] [--detail D]

#include <GL/freeglut.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "boxFGL.h"
#include "cylinderFGL.h"
#include "definitions.h"
#include "experimentFGL.h"
#include "par.h"
#include "program.h"
#include "shotFGL.h"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Processor time of the whole process, its renderer's threads included, in
// seconds: unlike the wall time, little changed by other processes that
// share the machine.
double processorSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + 1e-9 * t.tv_nsec;
}

// A value as the parameter files would give it, to `places` decimals.
double rounded(double x, int places) {
  const double scale = std::pow(10.0, places);
  return std::round(x * scale) / scale;
}

// The shipped definitions, with the floor grown in proportion to n (300
// spheres on a floor of 10 x 10 or a disc of radius 5.5) and the camera
// drawn back with it (to 36 for the shipped bed, 70 for 2000 spheres), short
// of the far plane of the view at 100. No impact maps, no run limits.
struct Bed {
  RunDef run;
  ShotDef shot;
  ShotDrawDef shot_draw;
  BoxDef box;
  BoxDrawDef box_draw;
  CylinderDef cylinder;
  CylinderDrawDef cylinder_draw;
  ViewDef view;

  Bed(int n, int detail) {
    const double scale = std::sqrt(n / 300.0);
    run.time_limit = 0.0;
    shot.count = n;
    shot_draw.detail = detail;
    box.half_x = box.half_y = rounded(5.0 * scale, 4);
    box.chamber.maps = 0;
    cylinder.radius = rounded(5.5 * scale, 4);
    cylinder.chamber.maps = 0;
    view.farthest = rounded(std::min(36.0 + 4.25 * (5.0 * scale - 5.0), 95.0), 1);
  }
};

// What the main loop's callbacks measure.
struct Tally {
  ExperimentFGL* experiment = nullptr;
  Clock::time_point start;
  double seconds = 0.0;
  double built = 0.0;  // objects built, from the start
  double shown = 0.0;  // first frame drawn, from the start
  bool measuring = false;
  long frames = 0;
  double computing = 0.0, drawing = 0.0;  // wall seconds in the two callbacks
  double t0 = 0.0, cycles = 0.0;           // simulated time at the start, simulated
  double processor = 0.0, wall = 0.0;
  Clock::time_point measured;
  std::string renderer;
} g;

void stopMeasuring(int) {
  g.wall = since(g.measured);
  g.processor = processorSeconds() - g.processor;
  g.cycles = g.experiment->tFull() - g.t0;
  g.renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  glutLeaveMainLoop();
}

void startMeasuring(int) {
  g.measuring = true;
  g.t0 = g.experiment->tFull();
  g.processor = processorSeconds();
  g.measured = Clock::now();
  glutTimerFunc(static_cast<unsigned>(1e3 * g.seconds), stopMeasuring, 0);
}

void idle() {
  const Clock::time_point t = Clock::now();
  g.experiment->idleCallback();
  if (g.measuring) g.computing += since(t);
}

void display() {
  const Clock::time_point t = Clock::now();
  g.experiment->displayCallback();
  if (g.shown == 0.0) {
    glFinish();
    g.shown = since(g.start);
    glutTimerFunc(1000, startMeasuring, 0);
  }
  if (g.measuring) {
    g.drawing += since(t);
    ++g.frames;
  }
}

void reshape(int width, int height) { g.experiment->reshapeCallback(width, height); }

int usage() {
  std::fprintf(stderr,
               "usage: window-bench --program cratesim|drumsim --spheres N "
               "[--engine fast|reference] [--seconds S] [--detail D]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const Clock::time_point start = Clock::now();
  int n = 0;
  int detail = 8;
  double seconds = 10.0;
  Experiment::Engine engine = Experiment::Engine::kFast;
  const Program* program = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return usage();
    const std::string value = argv[++i];
    if (arg == "--program" && value == cratesim().name) {
      program = &cratesim();
    } else if (arg == "--program" && value == drumsim().name) {
      program = &drumsim();
    } else if (arg == "--spheres") {
      n = std::atoi(value.c_str());
    } else if (arg == "--detail") {
      detail = std::atoi(value.c_str());
    } else if (arg == "--seconds") {
      seconds = std::atof(value.c_str());
    } else if (arg != "--engine" || !Experiment::engineNamed(value, engine)) {
      return usage();
    }
  }
  if (program == nullptr || n < 1 || !(seconds > 0.0) || detail < 2 ||
      detail > ShotDrawDef::kMaxDetail) {
    return usage();
  }

  // The run's result files would go to the working directory: a scratch one.
  char dir[] = "/tmp/window-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0) {
    std::perror("window-bench: working directory");
    return 1;
  }

  // What the program builds before its window opens.
  const Bed bed(n, detail);
  std::unique_ptr<Par> par(new Par(bed.run));
  std::unique_ptr<ShotFGL> shot(new ShotFGL(bed.shot, bed.shot_draw));
  shot->useSeed(1);
  std::unique_ptr<Chamber> chamber;
  if (program->chamber == ChamberKind::kBox) {
    chamber.reset(new BoxFGL(bed.box, bed.box_draw));
  } else {
    chamber.reset(new CylinderFGL(bed.cylinder, bed.cylinder_draw));
  }
  std::unique_ptr<ExperimentFGL> experiment(
      new ExperimentFGL(*program, *shot, *chamber, *par, bed.view, engine));
  g.built = since(start);

  // The window and the program's main loop, its ticks and frames timed: a
  // second to settle after the first frame, then the measured seconds.
  g.experiment = experiment.get();
  g.start = start;
  g.seconds = seconds;
  experiment->initFGL(1, argv);
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
  glutIdleFunc(idle);
  glutDisplayFunc(display);
  glutReshapeFunc(reshape);
  glutMainLoop();

  std::printf("%s %s spheres %d detail %d (%s): built %.2f s, window %.2f s, %.2f frames/s, "
              "%.4f cycles/s, per frame %.1f ms computing, %.1f ms drawing, %.1f ms of "
              "processor time\n",
              program->name, engine == Experiment::Engine::kFast ? "fast" : "reference", n, detail,
              g.renderer.c_str(), g.built, g.shown, g.frames / g.wall, g.cycles / g.wall,
              1e3 * g.computing / g.frames, 1e3 * g.drawing / g.frames,
              1e3 * g.processor / g.frames);
  std::fflush(stdout);
  // The objects would write their result files into the scratch directory:
  // leave without them.
  std::string remove = std::string("rm -rf ") + dir;
  std::system(remove.c_str());
  std::_Exit(0);
}
