// Frame rate of the animation window: builds the window program's objects
// for a bed of the shipped physics and density (3 spheres per unit of floor
// area, the floor grown with the number of spheres, the camera drawn back
// to see it), opens the window and runs the toolkit's main loop with the
// program's tick and frame for a few seconds. Prints one line: how long the
// start-up took (the objects built and the bed placed, then the first frame
// shown), frames per second, simulated cycles per second, the wall time per
// frame spent computing and drawing, and the processor time per frame (of
// the program and its renderer's threads). Needs a display (a virtual X server
// will do); bench/window-bench.sh runs it for every size and engine.
//
// Built once per program: with DRUMSIM the bed is in a cylinder.
//
// Usage: PROGRAM-window-bench --spheres N [--engine fast|reference]
//                             [--seconds S] [--detail D]

#include <GL/freeglut.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "experimentFGL.h"
#include "par.h"
#include "shotFGL.h"

#ifdef DRUMSIM
#include "cylinderFGL.h"
using ChamberFGL = CylinderFGL;
constexpr const char* kProgram = "drumsim";
constexpr const char* kChamberIni = "ini/cyl.ini";
constexpr const char* kChamberGLIni = "ini/cylGL.ini";
#else
#include "boxFGL.h"
using ChamberFGL = BoxFGL;
constexpr const char* kProgram = "cratesim";
constexpr const char* kChamberIni = "ini/box.ini";
constexpr const char* kChamberGLIni = "ini/boxGL.ini";
#endif

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

void write(const char* name, const std::string& text) {
  std::ofstream(name) << text;
}

// The shipped files, with the floor grown in proportion to n (300 spheres on
// a floor of 10 x 10 or a disc of radius 5.5) and the camera drawn back with
// it (to 36 for the shipped bed, 70 for 2000 spheres), short of the far
// plane of the view at 100.
void writeFiles(int n, int detail) {
  const double scale = std::sqrt(n / 300.0);
  char text[256];
  write("ini/par.ini", "0\n0.02\n0\n0\n");
  std::snprintf(text, sizeof text, "%d 1\n0.35 1 0\n0.9 1\n0.001\n", n);
  write("ini/shot.ini", text);
  std::snprintf(text, sizeof text, "%d\n8\n0.1 0.25 0.9\n0.95 0.2 0.1\n1 0.9 0\n", detail);
  write("ini/shotGL.ini", text);
  const char* const motion = "1 1\n3.924\n0.9 1\n0.9 1\n0.9 1\n";
#ifdef DRUMSIM
  const double half_width = 5.5 * scale;
  std::snprintf(text, sizeof text, "%.4f 20\n%s0.05\n0.001\n0 1\n0\n10\n", half_width, motion);
  write("ini/cyl.ini", text);
  write("ini/cylGL.ini", "48\n20\n0.2 0.2 0.25 1\n0.6 0.75 0.95 0.15\n");
#else
  const double half_width = 5.0 * scale;
  std::snprintf(text, sizeof text, "%.4f %.4f 20\n%s0.001\n0 1\n0\n10 10\n", half_width,
                half_width, motion);
  write("ini/box.ini", text);
  write("ini/boxGL.ini", "20\n0.2 0.2 0.25 1\n0.6 0.75 0.95 0.15\n");
#endif
  const double far = std::min(36.0 + 4.25 * (5.0 * scale - 5.0), 95.0);
  std::snprintf(text, sizeof text, "10 %.1f\n10\n0 20\n", far);
  write("ini/parGL.ini", text);
}

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
               "usage: %s-window-bench --spheres N [--engine fast|reference] [--seconds S] "
               "[--detail D]\n",
               kProgram);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const Clock::time_point start = Clock::now();
  int n = 0;
  int detail = 8;
  double seconds = 10.0;
  Experiment::Engine engine = Experiment::Engine::kFast;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return usage();
    const char* value = argv[++i];
    if (arg == "--spheres") {
      n = std::atoi(value);
    } else if (arg == "--detail") {
      detail = std::atoi(value);
    } else if (arg == "--seconds") {
      seconds = std::atof(value);
    } else if (arg != "--engine" || !Experiment::engineNamed(value, engine)) {
      return usage();
    }
  }
  if (n < 1 || !(seconds > 0.0)) return usage();

  char dir[] = "/tmp/window-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0) {
    std::perror("window-bench: working directory");
    return 1;
  }
  mkdir("ini", 0755);
  writeFiles(n, detail);

  // What the program builds before its window opens.
  std::unique_ptr<Par> par(new Par("ini/par.ini"));
  std::unique_ptr<ShotFGL> shot(new ShotFGL("ini/shot.ini", "ini/shotGL.ini"));
  shot->useSeed(1);
  std::unique_ptr<ChamberFGL> chamber(new ChamberFGL(kChamberIni, kChamberGLIni));
  std::unique_ptr<ExperimentFGL> experiment(
      new ExperimentFGL(*shot, *chamber, *par, "ini/parGL.ini", engine));
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
              kProgram, engine == Experiment::Engine::kFast ? "fast" : "reference", n, detail,
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
