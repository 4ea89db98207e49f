#include "windowProgramFGL.h"

#include <GL/freeglut.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "boxFGL.h"
#include "checkpoint.h"
#include "cylinderFGL.h"
#include "experimentFGL.h"
#include "lifecycle.h"
#include "par.h"
#include "parameterFiles.h"
#include "processStart.h"
#include "runDirectory.h"
#include "shotFGL.h"
#include "stopSignals.h"

namespace {

// The experiment the window toolkit's callbacks forward to.
ExperimentFGL* g_experiment = nullptr;

// A stop signal ends the program at the next tick, as Escape does, with the
// shell's status for the signal.
void idle() {
  if (stopSignals::received() != 0) lifecycle::exitRun(128 + stopSignals::received());
  g_experiment->idleCallback();
}
void display() { g_experiment->displayCallback(); }
void keyboard(unsigned char key, int x, int y) { g_experiment->keyboardCallback(key, x, y); }
void special(int key, int x, int y) { g_experiment->specialCallback(key, x, y); }
void mouse(int button, int state, int x, int y) { g_experiment->mouseCallback(button, state, x, y); }
void motion(int x, int y) { g_experiment->motionCallback(x, y); }
void reshape(int width, int height) { g_experiment->reshapeCallback(width, height); }

// The program's drawable chamber: its definition, then its drawing file.
std::unique_ptr<Chamber> makeChamber(const Program& program, SimulationDefs& defs) {
  if (program.chamber == ChamberKind::kBox) {
    defs.box = readBoxDef(program.chamber_file);
    return std::make_unique<BoxFGL>(defs.box, program.chamber_draw_file);
  }
  defs.cylinder = readCylinderDef(program.chamber_file);
  return std::make_unique<CylinderFGL>(defs.cylinder, program.chamber_draw_file);
}

// The start of the window program's run record: what the run is. It cannot
// be continued, but says at what time and base height the state was saved.
RunRecord recordStart(const Program& program, SimulationDefs& defs) {
  RunRecord record;
  record.program = program.name;
  record.parameters = tableValues(simulationTable(defs, program.chamber));
  return record;
}

void printUsage(std::ostream& os, const Program& program) {
  os << "Usage: " << program.name << " [--engine fast|reference]\n"
     << "Shows the simulation in an animation window, from the parameter files in\n"
     << "the ini/ folder of the current directory, and leaves the result files\n"
     << "there when it ends: Escape, closing the window, SIGINT, SIGTERM or SIGHUP.\n"
     << "\n"
     << "  --engine E  the event engine: fast (default; cost per event nearly\n"
     << "            independent of the number of spheres) or reference (the\n"
     << "            plain loop, all spheres at every event); same physics\n"
     << "  --help    show this text\n";
}

// False on a command line that cannot be understood.
bool parseOptions(int argc, char** argv, Experiment::Engine& engine, bool& help) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--engine") {
      if (i + 1 >= argc || !Experiment::engineNamed(argv[i + 1], engine)) return false;
      ++i;
    } else if (arg.compare(0, 9, "--engine=") == 0) {
      if (!Experiment::engineNamed(arg.substr(9), engine)) return false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int runWindow(const Program& program, int argc, char** argv) {
  processStart::secure();
  // The command line first, before any file is read.
  Experiment::Engine engine = Experiment::Engine::kFast;
  bool help = false;
  if (!parseOptions(argc, argv, engine, help)) {
    printUsage(std::cerr, program);
    return 2;
  }
  if (help) {
    printUsage(std::cout, program);
    return 0;
  }
  if (!runDirectory::claim(".")) return 1;

  // Before any object that writes a result file: the exit handler it
  // registers runs after all their destructors and gives the process its
  // final status.
  lifecycle::beginProcess();
  // Function-local statics, so that the normal exit path destroys them in
  // reverse order.
  // The parameter files in the order of the programs: the run's, the
  // shot's with its drawing file, the chamber's with its drawing file.
  static SimulationDefs defs;
  defs.run = readRunDef("ini/par.ini");
  static Par par(defs.run);
  defs.shot = readShotDef("ini/shot.ini");
  static ShotFGL shot(defs.shot, "ini/shotGL.ini");
  static std::unique_ptr<Chamber> chamber = makeChamber(program, defs);
  static ExperimentFGL experiment(program, shot, *chamber, par, "ini/parGL.ini", engine);
  // Built last, so that it records the run before anything is torn down.
  static Checkpoint checkpoint(recordStart(program, defs), experiment, shot, false);
  g_experiment = &experiment;
  // Every object is built: failures from now on take the normal exit path.
  lifecycle::beginRun();

  // The toolkit gets no options from the command line: only the program's
  // name.
  experiment.initFGL(1, argv);
  // Closing the window ends the process through exit(), so the objects'
  // destructors write the result files (this is freeglut's default).
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_EXIT);

  glutIdleFunc(idle);
  glutDisplayFunc(display);
  glutKeyboardFunc(keyboard);
  glutSpecialFunc(special);
  glutMouseFunc(mouse);
  glutMotionFunc(motion);
  glutReshapeFunc(reshape);
  glutMainLoop();

  // The main loop returned: keep the console open until the user has read
  // it, when there is a user at a terminal to press Enter.
  if (program.wait_for_enter && isatty(STDIN_FILENO)) {
    std::cout << "Press Enter to continue . . ." << std::flush;
    int c;
    do {
      c = std::getchar();
    } while (c != '\n' && c != EOF);
  }
  return 0;
}
